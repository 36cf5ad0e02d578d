#pragma once

#include "app/CRefreshPacing.h"
#include "app/CTokenEventHandOver.h"
#include "token/CPresenceMonitor.h"
#include "token/CTokenChoice.h"
#include "token/CTokenModule.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

// Follows the token for the window, as a smartcard manager's reader status
// does: owns the presence monitor, takes its events on the window's thread
// and tells the window what they mean for the token it shows. The window
// only reacts, and says when it has read the token.
class CTokenFollower : public QObject {
    Q_OBJECT

public:
    // How long stopping waits for the monitor's thread.
    static constexpr std::chrono::milliseconds kStopTimeout{1500};

    explicit CTokenFollower(std::shared_ptr<CTokenModule> pToken);
    ~CTokenFollower() override;

    // The module's, for the insertions worth a read.
    void SetTokenChoice(CTokenChoice choice) { m_tokenChoice = std::move(choice); }
    // The monitor's poll interval, which also paces the reads for events.
    void SetIdlePause(std::chrono::milliseconds pause);
    void SetPacingClock(std::function<CRefreshPacing::Clock::time_point()> clock) { m_pacingClock = std::move(clock); }

    // Starts a monitor, a new one when the last was left behind. Stop is
    // false once a monitor's thread has been left behind, held in the
    // module: a thread not joined may still be letting the module go.
    bool Start();
    bool Stop(std::chrono::milliseconds timeout = kStopTimeout);
    bool IsRunning() const { return m_pMonitor->IsRunning(); }
    bool LeftBehind() const { return !m_leftBehind.empty(); }
    unsigned Run() { return m_pMonitor->Run(); }
    SlotEvent PollSlotEvent(CK_SLOT_ID* pSlot) { return m_pMonitor->PollSlotEvent(pSlot); }

    // A monitor message, as the hand-over delivers it; counted alone while held.
    void OnMessage(UINT message, WPARAM wParam);
    void OnTokenInserted(CK_SLOT_ID slot);
    void OnTokenRemoved(CK_SLOT_ID slot);

    // The window has read the token: that answers every event so far.
    void Answered();
    // While held, a keypad login holds the module: events are only counted.
    void Hold(bool bHold) { m_bHeld = bHold; }
    bool Held() const { return m_bHeld; }
    unsigned long EventsHandled() const { return m_ulEvents; }
    // Whether a read asked for by an event waits for its turn.
    bool RefreshWaiting() const { return m_pacedRefresh.isActive(); }

signals:
    // A token the choice takes was put in, or changed: read the token again.
    void TokenInserted(CK_SLOT_ID slot);
    // The token shown is gone: the list and title no longer stand.
    void TokenRemoved(CK_SLOT_ID slot);

private:
    std::shared_ptr<CPresenceMonitor> NewMonitor();
    bool IsLeftBehind(const std::shared_ptr<CPresenceMonitor>& pMonitor) const;
    // Whether the token the list shows still answers, as the same token.
    bool ShownTokenStillThere();
    void RefreshPaced(CK_SLOT_ID slot);
    void RunPacedRefresh();

    const std::shared_ptr<CTokenModule> m_pToken;
    CTokenChoice m_tokenChoice;
    std::chrono::milliseconds m_idlePause = CPresenceMonitor::kIdlePause;
    CRefreshPacing m_pacing{CPresenceMonitor::kIdlePause};
    std::function<CRefreshPacing::Clock::time_point()> m_pacingClock = &CRefreshPacing::Clock::now;
    QTimer m_pacedRefresh;
    CK_SLOT_ID m_ulPacedSlot = 0;  // of the event the waiting read answers
    CTokenEventHandOver m_handOver{[this](UINT message, WPARAM wParam) { OnMessage(message, wParam); }};
    std::shared_ptr<CPresenceMonitor> m_pMonitor = NewMonitor();
    // Monitors whose thread did not come back when stopped: waited for once,
    // never again, and never started again.
    std::vector<std::shared_ptr<CPresenceMonitor>> m_leftBehind;
    unsigned long m_ulEvents = 0;  // monitor messages handled
    bool m_bHeld = false;
};
