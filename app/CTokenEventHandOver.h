#pragma once

#include "platform/CEventFd.h"
#include "token/IPresenceSink.h"

#include <condition_variable>
#include <functional>
#include <mutex>

class QObject;
class QSocketNotifier;

// The presence monitor's sink for a window: each event becomes the window's
// message, run on the window's thread while the monitor's thread waits.
// The monitor thread touches nothing of Qt: an event counter wakes the
// window's event loop, nested ones included.
class CTokenEventHandOver : public IPresenceSink {
public:
    using Receiver = std::function<void(UINT message, WPARAM wParam)>;

    explicit CTokenEventHandOver(Receiver receiver);
    virtual ~CTokenEventHandOver() = default;

    // Sets up the wake-up on the window's thread; the notifier is a child of
    // `owner`. False when the event counter cannot be made.
    bool Prepare(QObject* owner);
    // Hand-overs wait again (a monitor is being started).
    void Resume();
    // A hand-over waiting now or later gives up: the window may be waiting
    // for the monitor's thread, which must not wait for the window.
    void GiveUp();

    void OnSlotEvent(SlotEvent event, CK_SLOT_ID slot) override;

private:
    enum class EState { Idle, Pending, Done };

    void HandOver(UINT message, WPARAM wParam);
    void DeliverPending();

    Receiver m_receiver;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    // Guarded by m_mutex.
    bool m_bGivenUp = false;
    EState m_eState = EState::Idle;
    UINT m_uMessage = 0;
    WPARAM m_wParam = 0;
    CEventFd m_signal;
    QSocketNotifier* m_pNotifier = nullptr;  // owned by the window
};
