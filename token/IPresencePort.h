#pragma once

#include "token/CTokenLog.h"
#include "token/Pkcs11.h"

#include <vector>

// What the presence monitor needs of the module: the slot-event poll and
// what follows it. CTokenModule is the port; tests give the monitor one
// of their own, with the answers they want, in the order they want.
class IPresencePort {
public:
    // Tells an answer of the module from one of the port's own (no module
    // there, or busy), as their values may be alike.
    enum class EOrigin { Module, Wrapper };

    virtual ~IPresencePort() = default;

    // Whether a module's function list is there (the monitor polls only then).
    virtual bool HasFunctionList() const = 0;
    virtual CK_RV WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID* slot, EOrigin* origin) = 0;
    virtual CK_RV GetSlotInfo(CK_SLOT_ID slotId, CK_SLOT_INFO* info, EOrigin* origin) = 0;
    // Brings a loaded but finalised module back and lists the slots holding
    // a token now.
    virtual CK_RV ReinitializeForMonitor(std::vector<CK_SLOT_ID>& present, EOrigin* origin) = 0;
    virtual const CTokenLog& Log() const = 0;
};
