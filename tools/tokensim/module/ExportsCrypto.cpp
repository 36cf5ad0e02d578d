// Entry points for digests and keys that trace more than their session;
// the others are in ExportsForwarded.cpp.
#include "Guarded.h"

TOKENSIM_EXPORT CK_RV C_DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("session", hSession).Mechanism(pMechanism);
        return Sim().OnSession(call, hSession, &CK_FUNCTION_LIST::C_DigestInit, pMechanism);
    });
}

TOKENSIM_EXPORT CK_RV C_DigestKey(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hKey)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("session", hSession).Field("key", hKey);
        return Sim().OnSession(call, hSession, &CK_FUNCTION_LIST::C_DigestKey, hKey);
    });
}

TOKENSIM_EXPORT CK_RV C_GenerateKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                    CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phKey)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("session", hSession).Mechanism(pMechanism).Attributes(pTemplate, ulCount);
        CK_RV rv = Sim().OnSession(call, hSession, &CK_FUNCTION_LIST::C_GenerateKey, pMechanism, pTemplate, ulCount,
                                   phKey);
        if (rv == CKR_OK && phKey != nullptr)
            call.Field("object", *phKey);
        return rv;
    });
}

TOKENSIM_EXPORT CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                        CK_ATTRIBUTE_PTR pPublicKeyTemplate, CK_ULONG ulPublicKeyAttributeCount,
                                        CK_ATTRIBUTE_PTR pPrivateKeyTemplate, CK_ULONG ulPrivateKeyAttributeCount,
                                        CK_OBJECT_HANDLE_PTR phPublicKey, CK_OBJECT_HANDLE_PTR phPrivateKey)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("session", hSession).Mechanism(pMechanism);
        CK_RV rv = Sim().OnSession(call, hSession, &CK_FUNCTION_LIST::C_GenerateKeyPair, pMechanism,
                                   pPublicKeyTemplate, ulPublicKeyAttributeCount, pPrivateKeyTemplate,
                                   ulPrivateKeyAttributeCount, phPublicKey, phPrivateKey);
        if (rv == CKR_OK && phPublicKey != nullptr && phPrivateKey != nullptr)
            call.Field("public", *phPublicKey).Field("private", *phPrivateKey);
        return rv;
    });
}

