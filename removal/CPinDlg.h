#pragma once

#include "platform/CTemplateDialog.h"

#include <string>

class CUserPrompts;

// Asks for the token's PIN: masked, at most 20 bytes, never empty.
class CPinDlg : public CTemplateDialog {
    Q_OBJECT

public:
    static constexpr int kMaxPinBytes = 20;

    explicit CPinDlg(QWidget* parent = nullptr, CUserPrompts* prompts = nullptr);
    ~CPinDlg() override;

    // Overwrites the PIN's bytes wherever this dialog holds them.
    void WipePin();

    std::string m_strPin;  // UTF-8 bytes as typed

protected:
    bool DoDataExchange(bool bSaveAndValidate) override;
    void OnOK() override;
    void OnCancel() override;
    QWidget* CreateControl(const ControlTemplate& control) override;

private:
    CUserPrompts* m_pPrompts;
};
