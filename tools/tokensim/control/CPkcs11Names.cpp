#include "CPkcs11Names.h"

#include "token/CCkrNames.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>

namespace {

struct SName {
    CK_ULONG value;
    const char* name;
};

// The values come from the header; only their spelling is listed here.
#define TOKENSIM_NAME(constant) SName{constant, #constant}


constexpr SName kAttributeNames[] = {
    TOKENSIM_NAME(CKA_CLASS), TOKENSIM_NAME(CKA_TOKEN), TOKENSIM_NAME(CKA_PRIVATE), TOKENSIM_NAME(CKA_LABEL),
    TOKENSIM_NAME(CKA_APPLICATION), TOKENSIM_NAME(CKA_VALUE), TOKENSIM_NAME(CKA_OBJECT_ID),
    TOKENSIM_NAME(CKA_CERTIFICATE_TYPE), TOKENSIM_NAME(CKA_ISSUER), TOKENSIM_NAME(CKA_SERIAL_NUMBER),
    TOKENSIM_NAME(CKA_TRUSTED), TOKENSIM_NAME(CKA_CERTIFICATE_CATEGORY), TOKENSIM_NAME(CKA_URL),
    TOKENSIM_NAME(CKA_HASH_OF_SUBJECT_PUBLIC_KEY), TOKENSIM_NAME(CKA_HASH_OF_ISSUER_PUBLIC_KEY),
    TOKENSIM_NAME(CKA_CHECK_VALUE), TOKENSIM_NAME(CKA_KEY_TYPE), TOKENSIM_NAME(CKA_SUBJECT), TOKENSIM_NAME(CKA_ID),
    TOKENSIM_NAME(CKA_SENSITIVE), TOKENSIM_NAME(CKA_ENCRYPT), TOKENSIM_NAME(CKA_DECRYPT), TOKENSIM_NAME(CKA_WRAP),
    TOKENSIM_NAME(CKA_UNWRAP), TOKENSIM_NAME(CKA_SIGN), TOKENSIM_NAME(CKA_SIGN_RECOVER), TOKENSIM_NAME(CKA_VERIFY),
    TOKENSIM_NAME(CKA_VERIFY_RECOVER), TOKENSIM_NAME(CKA_DERIVE), TOKENSIM_NAME(CKA_START_DATE),
    TOKENSIM_NAME(CKA_END_DATE), TOKENSIM_NAME(CKA_MODULUS), TOKENSIM_NAME(CKA_MODULUS_BITS),
    TOKENSIM_NAME(CKA_PUBLIC_EXPONENT), TOKENSIM_NAME(CKA_PRIVATE_EXPONENT), TOKENSIM_NAME(CKA_PUBLIC_KEY_INFO),
    TOKENSIM_NAME(CKA_VALUE_BITS), TOKENSIM_NAME(CKA_VALUE_LEN), TOKENSIM_NAME(CKA_EXTRACTABLE),
    TOKENSIM_NAME(CKA_LOCAL), TOKENSIM_NAME(CKA_NEVER_EXTRACTABLE), TOKENSIM_NAME(CKA_ALWAYS_SENSITIVE),
    TOKENSIM_NAME(CKA_KEY_GEN_MECHANISM), TOKENSIM_NAME(CKA_MODIFIABLE), TOKENSIM_NAME(CKA_COPYABLE),
    TOKENSIM_NAME(CKA_DESTROYABLE), TOKENSIM_NAME(CKA_EC_PARAMS), TOKENSIM_NAME(CKA_EC_POINT),
    TOKENSIM_NAME(CKA_ALWAYS_AUTHENTICATE), TOKENSIM_NAME(CKA_WRAP_WITH_TRUSTED),
    TOKENSIM_NAME(CKA_HW_FEATURE_TYPE), TOKENSIM_NAME(CKA_ALLOWED_MECHANISMS),
};

constexpr SName kUserNames[] = {
    TOKENSIM_NAME(CKU_SO), TOKENSIM_NAME(CKU_USER), TOKENSIM_NAME(CKU_CONTEXT_SPECIFIC),
};

#undef TOKENSIM_NAME

constexpr std::string_view kFunctionNames[] = {
    "C_Initialize", "C_Finalize", "C_GetInfo", "C_GetFunctionList", "C_GetSlotList", "C_GetSlotInfo",
    "C_GetTokenInfo", "C_GetMechanismList", "C_GetMechanismInfo", "C_InitToken", "C_InitPIN", "C_SetPIN",
    "C_OpenSession", "C_CloseSession", "C_CloseAllSessions", "C_GetSessionInfo", "C_GetOperationState",
    "C_SetOperationState", "C_Login", "C_Logout", "C_CreateObject", "C_CopyObject", "C_DestroyObject",
    "C_GetObjectSize", "C_GetAttributeValue", "C_SetAttributeValue", "C_FindObjectsInit", "C_FindObjects",
    "C_FindObjectsFinal", "C_EncryptInit", "C_Encrypt", "C_EncryptUpdate", "C_EncryptFinal", "C_DecryptInit",
    "C_Decrypt", "C_DecryptUpdate", "C_DecryptFinal", "C_DigestInit", "C_Digest", "C_DigestUpdate",
    "C_DigestKey", "C_DigestFinal", "C_SignInit", "C_Sign", "C_SignUpdate", "C_SignFinal", "C_SignRecoverInit",
    "C_SignRecover", "C_VerifyInit", "C_Verify", "C_VerifyUpdate", "C_VerifyFinal", "C_VerifyRecoverInit",
    "C_VerifyRecover", "C_DigestEncryptUpdate", "C_DecryptDigestUpdate", "C_SignEncryptUpdate",
    "C_DecryptVerifyUpdate", "C_GenerateKey", "C_GenerateKeyPair", "C_WrapKey", "C_UnwrapKey", "C_DeriveKey",
    "C_SeedRandom", "C_GenerateRandom", "C_GetFunctionStatus", "C_CancelFunction", "C_WaitForSlotEvent",
};

template <std::size_t N>
std::string NameOf(const SName (&table)[N], CK_ULONG value)
{
    for (const SName& entry : table) {
        if (entry.value == value)
            return entry.name;
    }
    return CPkcs11Names::Hex(value);
}

}  // namespace

std::string CPkcs11Names::Rv(CK_RV rv)
{
    const char* name = CCkrNames::Name(rv);
    return name != nullptr ? name : Hex(rv);
}

std::optional<CK_RV> CPkcs11Names::ParseRv(std::string_view text)
{
    if (std::optional<CK_RV> rv = CCkrNames::Parse(text))
        return rv;
    return ParseNumber(text);
}

std::string CPkcs11Names::Attribute(CK_ATTRIBUTE_TYPE type)
{
    return NameOf(kAttributeNames, type);
}

std::string CPkcs11Names::UserType(CK_USER_TYPE type)
{
    return NameOf(kUserNames, type);
}

bool CPkcs11Names::IsFunction(std::string_view name)
{
    return std::find(std::begin(kFunctionNames), std::end(kFunctionNames), name) != std::end(kFunctionNames);
}

std::string CPkcs11Names::Hex(CK_ULONG value)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%lx", value);
    return buf;
}

std::optional<CK_ULONG> CPkcs11Names::ParseNumber(std::string_view text)
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    CK_ULONG value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}
