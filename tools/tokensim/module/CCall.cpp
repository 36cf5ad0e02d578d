#include "CCall.h"

#include "tools/tokensim/control/CPkcs11Names.h"

CCall::CCall(CTraceWriter& trace, const char* function)
    : m_trace(trace), m_pszFunction(function), m_bTraced(trace.Enabled())
{
}

CCall::~CCall()
{
    if (!m_bTraced)
        return;
    try {
        m_trace.Write(Line());
    } catch (...) {
        // Tracing never changes a call's answer.
    }
}

CCall& CCall::Field(const char* key, CK_ULONG value)
{
    return Text(key, std::to_string(value));
}

CCall& CCall::Hex(const char* key, CK_ULONG value)
{
    return Text(key, CPkcs11Names::Hex(value));
}

CCall& CCall::Text(const char* key, const std::string& value)
{
    if (m_bTraced)
        m_strFields += std::string(" ") + key + "=" + value;
    return *this;
}

CCall& CCall::Attributes(const CK_ATTRIBUTE* templ, CK_ULONG count)
{
    if (!m_bTraced)
        return *this;
    std::string names;
    for (CK_ULONG i = 0; templ != nullptr && i < count; ++i)
        names += (i == 0 ? "" : ",") + CPkcs11Names::Attribute(templ[i].type);
    return Text("attrs", names);
}

CCall& CCall::Mechanism(const CK_MECHANISM* mechanism)
{
    return mechanism != nullptr ? Hex("mech", mechanism->mechanism) : Text("mech", "null");
}

void CCall::Note(const char* word)
{
    if (m_bTraced)
        m_trace.Write(m_pszFunction + m_strFields + " " + word);
}

CK_RV CCall::Result(CK_RV rv)
{
    m_rv = rv;
    return rv;
}

std::string CCall::Line() const
{
    std::string line = m_pszFunction + m_strFields + " rv=" + CPkcs11Names::Rv(m_rv);
    return m_fault ? line + " fault" : line;
}
