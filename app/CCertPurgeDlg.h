#pragma once

#include "app/CUserPrompts.h"
#include "cli/CModuleChoice.h"
#include "controls/CListCtrlCl.h"
#include "inventory/ScanToken.h"
#include "platform/CClock.h"
#include "platform/CEventFd.h"
#include "platform/CTemplateDialog.h"
#include "token/CPresenceMonitor.h"
#include "token/CTokenModule.h"
#include "token/IPresenceSink.h"
#include "token/TokenMessages.h"

#include <QIcon>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class QMenu;
class QSocketNotifier;

// The main window: the certificate list, the delete button and the notes.
// It owns the token module and the list for the whole run.
class CCertPurgeDlg : public CTemplateDialog, private IPresenceSink {
    Q_OBJECT

public:
    static constexpr const char* kModuleFileName = CModuleChoice::kDefaultFileName;

    explicit CCertPurgeDlg(QWidget* parent = nullptr);
    ~CCertPurgeDlg() override;

    // Seams for tests: who answers the prompts, and which clock judges expiry.
    void SetPrompts(CUserPrompts* prompts) { m_pPrompts = prompts != nullptr ? prompts : &m_defaultPrompts; }
    void SetClock(const CClock* clock) { m_pClock = clock != nullptr ? clock : &CClock::System(); }
    // And whether start-up starts the presence monitor, which tests that do
    // not follow the token leave out so that it cannot race them.
    void SetStartsMonitor(bool bStarts) { m_bStartsMonitor = bStarts; }
    // The module file the start-up loads (kModuleFileName unless told).
    void SetModuleFile(const std::string& file) { m_strModuleFile = file; }

    void RefreshList();
    void OnDeleteExpired();

    // The presence monitor: a thread polling the module for slot events and
    // handing each one to this dialog's thread, synchronously.
    bool StartMonitor();
    // Ends the monitor and waits a bounded time for its thread, also when it
    // is waiting for a hand-over. False when the thread is held in the
    // module and was left behind.
    bool StopMonitor();
    static unsigned MonitorThreadProc(CCertPurgeDlg* dialog);
    bool MonitorRunning() const { return m_pMonitor->IsRunning(); }
    // Whether a monitor thread was left behind in a module that never answered.
    bool MonitorLeftBehind() const { return m_bMonitorLeftBehind; }
    SlotEvent PollSlotEvent(CK_SLOT_ID* slot);

    // How long closing waits for the monitor's thread.
    static constexpr std::chrono::milliseconds kMonitorStopTimeout{1500};

    // The dialog's message map for the monitor's messages.
    LRESULT SendMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnTokenInserted(WPARAM wParam, LPARAM lParam);
    LRESULT OnTokenRemoved(WPARAM wParam, LPARAM lParam);

    void OnSysCommand(UINT nID, LPARAM lParam);
    const QIcon& OnQueryDragIcon() const { return m_hIcon; }
    QMenu* SystemMenu() const { return m_pSysMenu; }

    // Where the icon of the minimised window is drawn in a client area.
    static QPoint IconOrigin(QSize client, QSize icon);

protected:
    BOOL OnInitDialog() override;
    QWidget* CreateControl(const ControlTemplate& control) override;
    void OnCommand(int nId) override;
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

    // A message box owned by the dialog; no caption shows the program's name.
    int MessageBox(const char* text, const char* caption = nullptr, UINT type = 0);

private:
    // Shared with the monitor's thread, which may outlive the dialog.
    std::shared_ptr<CTokenModule> m_pToken = std::make_shared<CTokenModule>();

public:
    std::atomic<bool> m_bStopMonitor{false};
    CTokenModule& m_token = *m_pToken;
    CListCtrlCl m_list;
    QIcon m_hIcon;

private:
    void AppendSystemMenu();
    void InsertColumns();
    void ShowSystemMenu(QPoint globalPos);
    void DefaultSysCommand(UINT nID);
    void ShowScanFailure(ScanResult result);
    void FillList(const CertTable& table);

    // The hand-over from the monitor's thread.
    bool PrepareHandOver();
    void OnSlotEvent(SlotEvent event, CK_SLOT_ID slot) override;
    void HandOver(UINT message, WPARAM wParam);
    void DeliverHandOver();

    // Removal steps.
    bool ScanForRemoval(CertTable& table);
    bool ConfirmAndLogIn();
    bool LoginSucceeded(CK_RV rv);
    void DeleteMarked(const CertTable& table);
    void AbandonStaleRemoval();
    bool DestroyRecord(const CertTable& table, CK_ULONG index, std::vector<std::string>& keysRemoved);
    bool KeysStillInUse(const CertTable& table, const unsigned char* id, CK_ULONG idLen, bool& bInUse);

    CUserPrompts m_defaultPrompts;
    CUserPrompts* m_pPrompts = &m_defaultPrompts;
    const CClock* m_pClock = &CClock::System();
    bool m_bStartsMonitor = true;
    std::string m_strModuleFile = kModuleFileName;
    QMenu* m_pSysMenu = nullptr;

    enum class EHandOver { Idle, Pending, Done };
    struct SHandOver {
        UINT message = 0;
        WPARAM wParam = 0;
        EHandOver state = EHandOver::Idle;
    };

    std::shared_ptr<CPresenceMonitor> m_pMonitor = CPresenceMonitor::Create(m_pToken, *this);
    bool m_bMonitorLeftBehind = false;
    std::mutex m_monitorMutex;
    std::condition_variable m_monitorWake;
    SHandOver m_handOver;  // guarded by m_monitorMutex
    // Wakes the dialog's event loop for a hand-over; the monitor thread
    // touches nothing of Qt.
    CEventFd m_handOverSignal;
    QSocketNotifier* m_pHandOverNotifier = nullptr;
    // Dialog thread only: counts the monitor's messages handled.
    unsigned long m_ulTokenEvents = 0;
};
