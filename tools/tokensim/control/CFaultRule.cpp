#include "CFaultRule.h"

#include "CPkcs11Names.h"

namespace {

constexpr std::string_view kLengthPrefix = "len=";
constexpr std::string_view kCountPrefix = "count=";
constexpr std::string_view kUnavailable = "unavailable";
constexpr std::string_view kLiePrefix = "lie=";

// The function each lie is told by, then its name.
constexpr const char* kLies[] = {
    "C_FindObjectsInit lie=id-ignored",      // every search leaves CKA_ID out
    "C_FindObjectsInit lie=key-id-ignored",  // key searches leave CKA_ID out
    "C_FindObjectsInit lie=id-cstring",      // CKA_ID compared up to its first zero byte
    "C_FindObjectsInit lie=key-id-cstring",  // the same, for key searches only
    "C_GetSlotList lie=grown",               // a token came since the count: CKR_BUFFER_TOO_SMALL
    "C_GetTokenInfo lie=nul-padded",         // text fields padded with NULs, not blanks
    "C_Initialize lie=already-initialized",  // initialises, answers CKR_CRYPTOKI_ALREADY_INITIALIZED
    "C_Initialize lie=lingering-thread",     // starts a thread that runs until the process exits
    "C_Login lie=incorrect-then-locked",     // CKR_PIN_INCORRECT, and the user PIN locked from then on
    nullptr,
};
constexpr std::string_view kPull = "pull";

}  // namespace

std::optional<CFaultRule> CFaultRule::Parse(std::string_view text)
{
    size_t first = text.find(':');
    size_t second = first == std::string_view::npos ? first : text.find(':', first + 1);
    if (second == std::string_view::npos)
        return std::nullopt;

    CFaultRule rule;
    rule.m_strFunction = std::string(text.substr(0, first));
    // Its own function list is the one thing a module cannot fail to give.
    if (!CPkcs11Names::IsFunction(rule.m_strFunction) || rule.m_strFunction == "C_GetFunctionList")
        return std::nullopt;

    std::string_view call = text.substr(first + 1, second - first - 1);
    if (call != "*") {
        std::optional<CK_ULONG> n = CPkcs11Names::ParseNumber(call);
        if (!n || *n == 0)
            return std::nullopt;
        rule.m_ulCall = *n;
    }
    if (!rule.ParseResult(text.substr(second + 1)))
        return std::nullopt;
    return rule;
}

bool CFaultRule::ParseResult(std::string_view text)
{
    if (text.starts_with(kLiePrefix)) {
        const std::string lie = m_strFunction + " " + std::string(text);
        for (const char* const* known = kLies; *known != nullptr; ++known) {
            if (lie == *known)
                m_strLie = std::string(text.substr(kLiePrefix.size()));
        }
        return IsLie();
    }
    if (text == kPull) {
        m_bPull = true;
        m_rv = CKR_DEVICE_REMOVED;
        return true;
    }
    if (text.starts_with(kCountPrefix)) {
        if (m_strFunction != "C_FindObjects")
            return false;
        std::optional<CK_ULONG> count = CPkcs11Names::ParseNumber(text.substr(kCountPrefix.size()));
        m_bCount = count.has_value();
        m_ulCount = count.value_or(0);
        return m_bCount;
    }
    if (!text.starts_with(kLengthPrefix)) {
        std::optional<CK_RV> rv = CPkcs11Names::ParseRv(text);
        m_rv = rv.value_or(CKR_OK);
        return rv.has_value();
    }
    if (m_strFunction != "C_GetAttributeValue")
        return false;
    text.remove_prefix(kLengthPrefix.size());
    std::optional<CK_ULONG> length =
        text == kUnavailable ? std::optional<CK_ULONG>(CK_UNAVAILABLE_INFORMATION) : CPkcs11Names::ParseNumber(text);
    m_bLength = length.has_value();
    m_ulLength = length.value_or(0);
    return m_bLength;
}

std::string CFaultRule::Text() const
{
    std::string call = EveryCall() ? "*" : std::to_string(m_ulCall);
    return m_strFunction + ":" + call + ":" + ResultText();
}

std::string CFaultRule::ResultText() const
{
    if (IsLie())
        return std::string(kLiePrefix) + m_strLie;
    if (m_bPull)
        return std::string(kPull);
    if (m_bCount)
        return std::string(kCountPrefix) + std::to_string(m_ulCount);
    if (!m_bLength)
        return CPkcs11Names::Rv(m_rv);
    if (m_ulLength == CK_UNAVAILABLE_INFORMATION)
        return std::string(kLengthPrefix) + std::string(kUnavailable);
    return std::string(kLengthPrefix) + CPkcs11Names::Hex(m_ulLength);
}
