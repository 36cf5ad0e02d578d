#pragma once

#include "app/CRefreshPacing.h"
#include "app/CTokenEventHandOver.h"
#include "controls/CListCtrlCl.h"
#include "platform/CClock.h"
#include "platform/CTemplateDialog.h"
#include "removal/CUserPrompts.h"
#include "removal/IRemovalHost.h"
#include "token/CModuleChoice.h"
#include "token/CPresenceMonitor.h"
#include "token/CTokenModule.h"

#include <QIcon>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QMenu;

// The main window: the certificate list, the delete button and the notes.
class CCertPurgeDlg : public CTemplateDialog, private IRemovalHost {
    Q_OBJECT

public:
    explicit CCertPurgeDlg(QWidget* parent = nullptr);
    ~CCertPurgeDlg() override;
    // Seams for tests: prompts, clock, whether start-up starts the monitor, module.
    void SetPrompts(CUserPrompts* pPrompts) { m_pPrompts = pPrompts != nullptr ? pPrompts : &m_defaultPrompts; }
    void SetClock(const CClock* pClock) { m_pClock = pClock != nullptr ? pClock : &CClock::System(); }
    void SetStartsMonitor(bool bStarts) { m_bStartsMonitor = bStarts; }
    void SetModuleFile(const std::string& strFile) { m_strModuleFile = strFile; }
    void SetTokenChoice(CTokenChoice choice)
    {
        m_tokenChoice = choice;
        m_pToken->SetTokenChoice(std::move(choice));
    }
    // The monitor's poll interval, which also paces the refreshes of token events.
    void SetMonitorIdlePause(std::chrono::milliseconds pause)
    {
        m_pMonitor->SetIdlePause(pause);
        m_pacing.SetInterval(pause);
    }
    void SetPacingClock(std::function<CRefreshPacing::Clock::time_point()> clock) { m_pacingClock = std::move(clock); }
    CTokenModule& Token() { return *m_pToken; }
    const CListCtrlCl& List() const { return m_list; }
    void RefreshList() override;
    void OnDeleteExpired();

    // The presence monitor and its hand-over to this thread. StopMonitor
    // stops the monitor started last; it is false once a monitor's thread
    // has been left behind, held in the module: a thread not joined may
    // still be letting the module go.
    bool StartMonitor();
    bool StopMonitor();
    static unsigned MonitorThreadProc(CCertPurgeDlg* pDialog);
    SlotEvent PollSlotEvent(CK_SLOT_ID* pSlot);
    bool MonitorRunning() const { return m_pMonitor->IsRunning(); }
    bool MonitorLeftBehind() const { return !m_leftBehind.empty(); }
    LRESULT SendMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnTokenInserted(WPARAM wParam, LPARAM lParam);
    LRESULT OnTokenRemoved(WPARAM wParam, LPARAM lParam);
    unsigned long TokenEventsHandled() const override { return m_ulTokenEvents; }
    // Whether a refresh asked for by a token event waits for its turn.
    bool RefreshWaiting() const { return m_pacedRefresh.isActive(); }
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
    bool IsLeftBehind(const std::shared_ptr<CPresenceMonitor>& pMonitor) const;
    // Whether the token the list shows still answers, as the same token.
    bool ShownTokenStillThere();
    // A refresh for a token event: now, or once the interval since the
    // last one is over.
    void RefreshPaced();
    void RunPacedRefresh();
    void AnswerTokenEvents();
    QWidget* PromptOwner() override { return this; }
    void HoldTokenEvents(bool bHold) override { m_bTokenEventsHeld = bHold; }

    // Shared with the monitor's thread, which may outlive the dialog.
    std::shared_ptr<CTokenModule> m_pToken = std::make_shared<CTokenModule>();
    CListCtrlCl m_list;
    QIcon m_hIcon;
    QMenu* m_pSysMenu = nullptr;
    CUserPrompts m_defaultPrompts;
    CUserPrompts* m_pPrompts = &m_defaultPrompts;
    const CClock* m_pClock = &CClock::System();
    bool m_bStartsMonitor = true;
    CRefreshPacing m_pacing{CPresenceMonitor::kIdlePause};
    std::function<CRefreshPacing::Clock::time_point()> m_pacingClock = &CRefreshPacing::Clock::now;
    QTimer m_pacedRefresh;
    std::string m_strModuleFile = CModuleChoice::kDefaultFileName;
    CTokenChoice m_tokenChoice;  // the module's, for the insertions worth a refresh
    CTokenEventHandOver m_handOver{[this](UINT message, WPARAM wParam) { SendMessage(message, wParam, 0); }};
    std::shared_ptr<CPresenceMonitor> m_pMonitor = CPresenceMonitor::Create(m_pToken, m_handOver);
    // Monitors whose thread did not come back when stopped: waited for once,
    // never again, and never started again.
    std::vector<std::shared_ptr<CPresenceMonitor>> m_leftBehind;
    unsigned long m_ulTokenEvents = 0;  // monitor messages handled
    // A keypad login holds the module: token events are only counted.
    bool m_bTokenEventsHeld = false;
};
