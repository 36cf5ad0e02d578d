#pragma once

#include "app/CTokenFollower.h"
#include "controls/CListCtrlCl.h"
#include "platform/CClock.h"
#include "platform/CTemplateDialog.h"
#include "removal/CUserPrompts.h"
#include "removal/IRemovalHost.h"
#include "token/CModuleChoice.h"
#include "token/CTokenModule.h"

#include <QIcon>

#include <memory>
#include <string>
#include <vector>

class QMenu;

// The main window: the certificate list, the delete button and the notes.
// Its follower tells it when the token shown came, changed or went.
class CCertPurgeDlg : public CTemplateDialog, private IRemovalHost {
    Q_OBJECT

public:
    explicit CCertPurgeDlg(QWidget* parent = nullptr);
    // Seams for tests: prompts, clock, whether start-up starts the monitor, module.
    void SetPrompts(CUserPrompts* pPrompts) { m_pPrompts = pPrompts != nullptr ? pPrompts : &m_defaultPrompts; }
    void SetClock(const CClock* pClock) { m_pClock = pClock != nullptr ? pClock : &CClock::System(); }
    void SetStartsMonitor(bool bStarts) { m_bStartsMonitor = bStarts; }
    void SetModuleFile(const std::string& strFile) { m_strModuleFile = strFile; }
    void SetTokenChoice(const CTokenChoice& choice);
    CTokenModule& Token() { return *m_pToken; }
    CTokenFollower& Follower() { return m_follower; }
    const CListCtrlCl& List() const { return m_list; }
    void RefreshList() override;
    void OnDeleteExpired();

    // The token's following, in the follower.
    bool StartMonitor();
    static unsigned MonitorThreadProc(CCertPurgeDlg* pDialog);
    SlotEvent PollSlotEvent(CK_SLOT_ID* pSlot);
    LRESULT OnTokenInserted(WPARAM wParam, LPARAM lParam);
    LRESULT OnTokenRemoved(WPARAM wParam, LPARAM lParam);
    unsigned long TokenEventsHandled() const override { return m_follower.EventsHandled(); }
    void OnSysCommand(UINT nID, LPARAM lParam);
    const QIcon& OnQueryDragIcon() const { return m_hIcon; }
    QMenu* SystemMenu() const { return m_pSysMenu; }
    static QPoint IconOrigin(QSize client, QSize icon);  // of the minimised window's icon

protected:
    BOOL OnInitDialog() override;
    QWidget* CreateControl(const ControlTemplate& control) override;
    void OnCommand(int nId) override;
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    int MessageBox(const char* text, const char* caption = nullptr, UINT type = 0);
    void ReportLoadFailure(const std::vector<CModuleChoice::SAttempt>& attempts);
    void ShowTable(const CertTable& table) override;
    // The title names the token the list shows; without one, the window
    // system shows the program's name alone.
    void ShowTokenInTitle(bool bShown);
    QWidget* PromptOwner() override { return this; }
    void HoldTokenEvents(bool bHold) override { m_follower.Hold(bHold); }

    // Shared with the monitor's thread, which may outlive the dialog.
    std::shared_ptr<CTokenModule> m_pToken = std::make_shared<CTokenModule>();
    CListCtrlCl m_list;
    QIcon m_hIcon;
    QMenu* m_pSysMenu = nullptr;
    CUserPrompts m_defaultPrompts;
    CUserPrompts* m_pPrompts = &m_defaultPrompts;
    const CClock* m_pClock = &CClock::System();
    bool m_bStartsMonitor = true;
    std::string m_strModuleFile = CModuleChoice::kDefaultFileName;
    CTokenFollower m_follower{m_pToken};  // last: stops the monitor before the rest goes
};
