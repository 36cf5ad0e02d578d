#pragma once

#include "token/IPresencePort.h"
#include "token/Pkcs11.h"
#include "token/STokenIdentity.h"
#include "token/TokenMessages.h"

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// For a module that reports no slot events: the tokens present, compared
// at every poll with those of the poll before, and what changed told as
// the module's events would be (a token swapped between two polls is a
// removal, then an insertion). A poll reads only what modules answer from
// the readers' state (the slot list, each slot's information, the
// sessions kept on removable tokens); a token is asked who it is only when
// its slot changed.
class CPresenceComparison {
public:
    using Events = std::deque<std::pair<SlotEvent, CK_SLOT_ID>>;

    // The outcome of one comparison.
    struct SResult {
        CK_RV rv = CKR_OK;     // the module's answer to the call named, when not CKR_OK
        std::string strCall;   // the call that failed
    };

    // Starts from the slots known to hold a token; who their tokens are is
    // learnt at the first comparison, and not reported.
    void Reset(const std::vector<CK_SLOT_ID>& known);
    // Adds what changed since the last comparison to `events`. Nothing is
    // learnt from a comparison that fails or finds the port busy.
    SResult Compare(IPresencePort& port, Events& events);
    // Gives up the sessions kept, when the monitor ends.
    void End(IPresencePort& port);

private:
    using EOrigin = IPresencePort::EOrigin;
    using EWatch = IPresencePort::EWatch;

    struct SSlot {
        CK_SLOT_ID id = 0;
        std::optional<CK_SLOT_INFO> info;     // as last read
        std::optional<STokenIdentity> token;  // who its token is, when it answered
        bool bLearnt = false;                 // token read and watched since the slot last changed
        bool bWatched = false;                // a session is kept on its token
    };

    enum class EOutcome { Token, NoToken, Stop };

    // Compares one slot listed as holding a token, `bKnown` when it held
    // one at the last comparison. Stop: the port was busy or the module
    // failed; what was found so far holds.
    EOutcome CompareSlot(IPresencePort& port, SSlot& slot, bool bKnown, Events& events, SResult& result);
    // What the session kept on the slot's token tells; Stop as above.
    EOutcome CheckWatch(IPresencePort& port, SSlot& slot, Events& events, SResult& result);
    // Reads who the token is and keeps a session on it where it can be
    // pulled out; reports a swap when another token than before answers.
    EOutcome Learn(IPresencePort& port, SSlot& slot, Events& events, SResult& result);
    // True, with the result filled, when an answer stops the comparison.
    static bool Stops(SResult& result, const std::string& call, CK_RV rv, EOrigin origin);

    std::vector<SSlot> m_slots;
    std::vector<CK_SLOT_ID> m_present;  // kept for its room
};
