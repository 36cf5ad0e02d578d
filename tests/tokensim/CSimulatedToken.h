#pragma once

#include "CSoftHsmToken.h"
#include "tools/tokensim/control/CTokenSimControl.h"
#include "tools/tokensim/control/CTokenSimTrace.h"

#include <string>

namespace testsupport {

// A fresh SoftHSM2 token behind the token simulator, for one test. Points
// TOKENSIM_BACKEND at the token's private copy of SoftHSM2 and
// TOKENSIM_STATE / TOKENSIM_TRACE at files in the token's folder (each
// test runs in its own process), so a program loading ModulePath() sees
// the token through the simulator.
class CSimulatedToken {
public:
    CSimulatedToken();
    CSimulatedToken(const CSimulatedToken&) = delete;
    CSimulatedToken& operator=(const CSimulatedToken&) = delete;

    // libtokensim.so.
    static const char* ModulePath() { return CERTPURGE_TOKENSIM_MODULE; }
    // The `tokensim` command.
    static const char* CommandPath() { return CERTPURGE_TOKENSIM_COMMAND; }

    CSoftHsmToken& SoftHsm() { return m_token; }
    // The token's slot; the simulator shows the backend's slot IDs.
    CK_SLOT_ID Slot() const { return m_token.Slot(); }
    CTokenSimControl& Control() { return m_control; }
    const CTokenSimTrace& Trace() const { return m_trace; }
    const std::string& StatePath() const { return m_control.Path(); }

private:
    CSoftHsmToken m_token;
    CTokenSimControl m_control;
    CTokenSimTrace m_trace;
};

}  // namespace testsupport
