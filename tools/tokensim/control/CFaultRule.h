#pragma once

#include "token/Pkcs11.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// "FUNCTION:CALL:RESULT": which call of a function fails, and how.
//   CALL    N (the N-th call, from 1) or * (every call)
//   RESULT  a CKR_ name or number: the call answers it and does nothing else;
//           len=unavailable or len=NUMBER (C_GetAttributeValue only): every
//           attribute reports that length, with CKR_OK and no value written;
//           count=NUMBER (C_FindObjects only): the search is carried out, then
//           reports that many objects found, however many it had room for;
//           lie=NAME: the call is carried out, but in a way a misbehaving
//           module has been seen to (see README.md, "Lies").
//           pull: every token is pulled out right then, and the call answers
//           CKR_DEVICE_REMOVED without doing anything.
// Calls are counted from the moment the module first sees the rule; the id
// tells one rule from another, even when two read the same.
class CFaultRule {
public:
    static std::optional<CFaultRule> Parse(std::string_view text);

    // The canonical form, with results by name.
    std::string Text() const;

    const std::string& Function() const { return m_strFunction; }
    bool EveryCall() const { return m_ulCall == 0; }
    CK_ULONG Call() const { return m_ulCall; }
    bool FiresOn(CK_ULONG callNumber) const { return EveryCall() || callNumber == m_ulCall; }

    bool IsLengthFault() const { return m_bLength; }
    CK_ULONG Length() const { return m_ulLength; }
    bool IsCountFault() const { return m_bCount; }
    CK_ULONG Count() const { return m_ulCount; }
    // A lie: the call runs, but not as the standard says.
    bool IsLie() const { return !m_strLie.empty(); }
    const std::string& Lie() const { return m_strLie; }

    bool IsPull() const { return m_bPull; }
    // What the faulted call answers (CKR_OK for a length fault).
    CK_RV Rv() const { return m_rv; }

    std::uint64_t Id() const { return m_id; }
    void SetId(std::uint64_t id) { m_id = id; }

private:
    bool ParseResult(std::string_view text);
    std::string ResultText() const;

    std::string m_strFunction;
    CK_ULONG m_ulCall = 0;
    CK_RV m_rv = CKR_OK;
    bool m_bLength = false;
    CK_ULONG m_ulLength = 0;
    bool m_bCount = false;
    CK_ULONG m_ulCount = 0;
    std::string m_strLie;
    bool m_bPull = false;
    std::uint64_t m_id = 0;
};
