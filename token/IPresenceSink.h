#pragma once

#include "token/Pkcs11.h"
#include "token/TokenMessages.h"

// Where the presence monitor reports what it sees. Called on the monitor's
// thread; a call returns once the event has been handled, or as soon as the
// host learns that the monitor is being stopped.
class IPresenceSink {
public:
    virtual void OnSlotEvent(SlotEvent event, CK_SLOT_ID slot) = 0;

protected:
    ~IPresenceSink() = default;
};
