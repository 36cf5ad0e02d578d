#include "CSimulatedToken.h"

#include <cstdlib>

namespace testsupport {

CSimulatedToken::CSimulatedToken()
    : m_control(m_token.Folder().File("tokensim.state")), m_trace(m_token.Folder().File("tokensim.trace"))
{
    setenv("TOKENSIM_BACKEND", m_token.ModulePath().c_str(), 1);
    setenv("TOKENSIM_STATE", m_control.Path().c_str(), 1);
    setenv("TOKENSIM_TRACE", m_trace.Path().c_str(), 1);
}

}  // namespace testsupport
