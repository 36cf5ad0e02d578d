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

    // For a module without slot events, whose tokens the monitor compares
    // from poll to poll. The slots holding a token now
    // (C_GetSlotList(CK_TRUE)): modules answer it, as C_GetSlotInfo, from
    // the readers' state, without a word to the card.
    virtual CK_RV ListPresentSlots(std::vector<CK_SLOT_ID>& present, EOrigin* origin) = 0;
    // Who the token of a slot is (C_GetTokenInfo: some modules read the card).
    virtual CK_RV ReadTokenInfo(CK_SLOT_ID slotId, CK_TOKEN_INFO* info, EOrigin* origin) = 0;

    // What became of the token a watch was kept on.
    enum class EWatch {
        Same,    // still there
        Gone,    // it left, and another may be there in its place
        Lapsed,  // no watch: none was kept, or the module was finalised since
        Unknown  // the module cannot tell: the watch is given up
    };
    // Keeps a read-only session of the monitor's own on a slot's token: the
    // module ends it when that token leaves, whatever is put in its place,
    // and says so from its own state (C_GetSessionInfo).
    virtual CK_RV WatchToken(CK_SLOT_ID slotId, EOrigin* origin) = 0;
    virtual CK_RV CheckWatch(CK_SLOT_ID slotId, EWatch* watch, EOrigin* origin) = 0;
    // Closes the sessions kept for watches.
    virtual void EndWatches() = 0;
    virtual const CTokenLog& Log() const = 0;
};
