#pragma once

#include "app/CUserPrompts.h"
#include "controls/CListCtrlCl.h"
#include "inventory/ScanToken.h"
#include "platform/CClock.h"
#include "platform/CEventFd.h"
#include "platform/CTemplateDialog.h"
#include "platform/CThread.h"
#include "token/CTokenModule.h"
#include "token/TokenMessages.h"

#include <QIcon>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

class QMenu;
class QSocketNotifier;

// The main window: the certificate list, the delete button and the notes.
// It owns the token module and the list for the whole run.
class CCertPurgeDlg : public CTemplateDialog {
    Q_OBJECT

public:
    static constexpr const char* kModuleFileName = "qemva_11.dll";

    explicit CCertPurgeDlg(QWidget* parent = nullptr);
    ~CCertPurgeDlg() override;

    // Seams for tests: who answers the prompts, and which clock judges expiry.
    void SetPrompts(CUserPrompts* prompts) { m_pPrompts = prompts != nullptr ? prompts : &m_defaultPrompts; }
    void SetClock(const CClock* clock) { m_pClock = clock != nullptr ? clock : &CClock::System(); }

    void RefreshList();
    void OnDeleteExpired();

    // The presence monitor: a thread polling the module for slot events and
    // handing each one to this dialog's thread, synchronously.
    bool StartMonitor();
    // Ends the monitor and waits for its thread; also when it is waiting
    // for a hand-over.
    void StopMonitor();
    static unsigned MonitorThreadProc(CCertPurgeDlg* dialog);
    bool MonitorRunning() const { return m_bMonitorRunning; }
    SlotEvent PollSlotEvent(CK_SLOT_ID* slot);

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

public:
    std::atomic<bool> m_bStopMonitor{false};
    CTokenModule m_token;
    CListCtrlCl m_list;
    QIcon m_hIcon;

private:
    void AppendSystemMenu();
    void InsertColumns();
    void ShowSystemMenu(QPoint globalPos);
    void DefaultSysCommand(UINT nID);
    void ShowScanFailure(ScanResult result);
    void FillList(const CertTable& table);

    // Monitor thread side.
    bool PrepareHandOver();
    void HandOver(UINT message, WPARAM wParam);
    void DeliverHandOver();
    void SleepUnlessStopped();
    SlotEvent NextPendingEvent(CK_SLOT_ID* slot);
    SlotEvent ReviveModule(CK_SLOT_ID* slot);
    void NoteSlot(CK_SLOT_ID slot, bool present);

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
    QMenu* m_pSysMenu = nullptr;

    enum class EHandOver { Idle, Pending, Done };
    struct SHandOver {
        UINT message = 0;
        WPARAM wParam = 0;
        EHandOver state = EHandOver::Idle;
    };

    CThread m_monitorThread;
    std::atomic<bool> m_bMonitorRunning{false};
    std::mutex m_monitorMutex;
    std::condition_variable m_monitorWake;
    SHandOver m_handOver;  // guarded by m_monitorMutex
    // Wakes the dialog's event loop for a hand-over; the monitor thread
    // touches nothing of Qt.
    CEventFd m_handOverSignal;
    QSocketNotifier* m_pHandOverNotifier = nullptr;
    // Monitor thread only: the slots it last knew to hold a token, and
    // changes found by comparing, still to be handed over.
    std::vector<CK_SLOT_ID> m_knownSlots;
    std::deque<std::pair<SlotEvent, CK_SLOT_ID>> m_pendingEvents;
    // Dialog thread only: counts the monitor's messages handled.
    unsigned long m_ulTokenEvents = 0;
};
