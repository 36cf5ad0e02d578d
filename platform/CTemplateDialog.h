#pragma once

#include "platform/CDialogUnits.h"
#include "platform/DialogTemplate.h"

#include <QDialog>

#include <map>
#include <optional>

// A dialog built from a dialog template, with the framework's dialog
// behaviour: OnInitDialog once the controls exist, data exchange, OnOK and
// OnCancel for the default button, Enter, Escape and the close button, and
// DoModal answering IDOK or IDCANCEL.
class CTemplateDialog : public QDialog {
    Q_OBJECT

public:
    explicit CTemplateDialog(const DialogTemplate& tmpl, QWidget* parent = nullptr);
    ~CTemplateDialog() override;

    // Builds the window and its controls and runs OnInitDialog, without a
    // modal loop. False when the window could not be built.
    bool Create();
    // Shows the dialog modally; IDOK or IDCANCEL, -1 when it cannot be built.
    int DoModal();
    void EndDialog(int nResult);

    // The control with this identifier, or null.
    QWidget* GetDlgItem(int nId) const;
    const CDialogUnits& DialogUnits() const { return *m_units; }
    QRect MapDialogRect(int x, int y, int cx, int cy) const;
    const DialogTemplate& Template() const { return m_template; }

protected:
    virtual BOOL OnInitDialog();
    // False when a value read back from the controls is refused.
    virtual bool DoDataExchange(bool bSaveAndValidate);
    BOOL UpdateData(bool bSaveAndValidate = true);
    virtual void OnOK();
    virtual void OnCancel();
    // A control of the template; the default makes the framework's widget
    // for its class. A dialog returns its own for the controls it binds.
    virtual QWidget* CreateControl(const ControlTemplate& control);
    // A click of a push button other than IDOK and IDCANCEL.
    virtual void OnCommand(int nId);

    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;
    void accept() override;

private:
    QWidget* MakeControl(const ControlTemplate& control);
    void Place(QWidget* widget, const ControlTemplate& control);
    void ConnectButton(QWidget* widget, int nId);
    void OrderTabStops();
    void DispatchCommand(int nId);

    const DialogTemplate& m_template;
    std::optional<CDialogUnits> m_units;
    std::map<int, QWidget*> m_controls;
    std::vector<QWidget*> m_tabOrder;
    bool m_bCreated = false;
};
