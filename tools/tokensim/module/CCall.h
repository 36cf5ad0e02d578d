#pragma once

#include "CTraceWriter.h"
#include "tools/tokensim/control/CFaultRule.h"

#include <optional>
#include <string>

// One call into the simulator: its traced arguments and results, its
// answer and the fault rule that decided it, if any. Its trace line is
// written when the call ends, outputs after inputs, the answer last:
//   C_FindObjects session=3 max=64 found=2 rv=CKR_OK
class CCall {
public:
    CCall(CTraceWriter& trace, const char* function);
    ~CCall();
    CCall(const CCall&) = delete;
    CCall& operator=(const CCall&) = delete;

    const char* Function() const { return m_pszFunction; }

    CCall& Field(const char* key, CK_ULONG value);
    CCall& Hex(const char* key, CK_ULONG value);
    CCall& Text(const char* key, const std::string& value);
    CCall& Attributes(const CK_ATTRIBUTE* templ, CK_ULONG count);
    CCall& Mechanism(const CK_MECHANISM* mechanism);

    // Writes a line at once, before the answer is known, so a test can see
    // that the call got this far: the function, the fields so far and `word`.
    void Note(const char* word);
    // Records the answer and gives it back.
    CK_RV Result(CK_RV rv);
    void SetFault(const CFaultRule& rule) { m_fault = rule; }
    const std::optional<CFaultRule>& Fault() const { return m_fault; }

private:
    std::string Line() const;

    CTraceWriter& m_trace;
    const char* m_pszFunction;
    bool m_bTraced;
    std::string m_strFields;
    CK_RV m_rv = CKR_GENERAL_ERROR;
    std::optional<CFaultRule> m_fault;
};
