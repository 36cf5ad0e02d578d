// Entry points for encryption, digests, signatures and keys: all forwarded.
#include "Guarded.h"

TOKENSIM_EXPORT CK_RV C_EncryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    return ForwardWithKey(__func__, hSession, pMechanism, hKey, &CK_FUNCTION_LIST::C_EncryptInit);
}

TOKENSIM_EXPORT CK_RV C_Encrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                                CK_BYTE_PTR pEncryptedData, CK_ULONG_PTR pulEncryptedDataLen)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_Encrypt, pData, ulDataLen, pEncryptedData,
                            pulEncryptedDataLen);
}

TOKENSIM_EXPORT CK_RV C_EncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen,
                                      CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_EncryptUpdate, pPart, ulPartLen,
                            pEncryptedPart, pulEncryptedPartLen);
}

TOKENSIM_EXPORT CK_RV C_EncryptFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastEncryptedPart,
                                     CK_ULONG_PTR pulLastEncryptedPartLen)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_EncryptFinal, pLastEncryptedPart,
                            pulLastEncryptedPartLen);
}

TOKENSIM_EXPORT CK_RV C_DecryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    return ForwardWithKey(__func__, hSession, pMechanism, hKey, &CK_FUNCTION_LIST::C_DecryptInit);
}

TOKENSIM_EXPORT CK_RV C_Decrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen,
                                CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_Decrypt, pEncryptedData, ulEncryptedDataLen,
                            pData, pulDataLen);
}

TOKENSIM_EXPORT CK_RV C_DecryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart,
                                      CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_DecryptUpdate, pEncryptedPart,
                            ulEncryptedPartLen, pPart, pulPartLen);
}

TOKENSIM_EXPORT CK_RV C_DecryptFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastPart, CK_ULONG_PTR pulLastPartLen)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_DecryptFinal, pLastPart, pulLastPartLen);
}

TOKENSIM_EXPORT CK_RV C_DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("session", hSession).Mechanism(pMechanism);
        return Sim().OnSession(call, hSession, &CK_FUNCTION_LIST::C_DigestInit, pMechanism);
    });
}

TOKENSIM_EXPORT CK_RV C_Digest(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                               CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_Digest, pData, ulDataLen, pDigest,
                            pulDigestLen);
}

TOKENSIM_EXPORT CK_RV C_DigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_DigestUpdate, pPart, ulPartLen);
}

TOKENSIM_EXPORT CK_RV C_DigestKey(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hKey)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("session", hSession).Field("key", hKey);
        return Sim().OnSession(call, hSession, &CK_FUNCTION_LIST::C_DigestKey, hKey);
    });
}

TOKENSIM_EXPORT CK_RV C_DigestFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_DigestFinal, pDigest, pulDigestLen);
}

TOKENSIM_EXPORT CK_RV C_SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    return ForwardWithKey(__func__, hSession, pMechanism, hKey, &CK_FUNCTION_LIST::C_SignInit);
}

TOKENSIM_EXPORT CK_RV C_Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                             CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_Sign, pData, ulDataLen, pSignature,
                            pulSignatureLen);
}

TOKENSIM_EXPORT CK_RV C_SignUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_SignUpdate, pPart, ulPartLen);
}

TOKENSIM_EXPORT CK_RV C_SignFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_SignFinal, pSignature, pulSignatureLen);
}

TOKENSIM_EXPORT CK_RV C_SignRecoverInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                        CK_OBJECT_HANDLE hKey)
{
    return ForwardWithKey(__func__, hSession, pMechanism, hKey, &CK_FUNCTION_LIST::C_SignRecoverInit);
}

TOKENSIM_EXPORT CK_RV C_SignRecover(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                                    CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_SignRecover, pData, ulDataLen, pSignature,
                            pulSignatureLen);
}

TOKENSIM_EXPORT CK_RV C_VerifyInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    return ForwardWithKey(__func__, hSession, pMechanism, hKey, &CK_FUNCTION_LIST::C_VerifyInit);
}

TOKENSIM_EXPORT CK_RV C_Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                               CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_Verify, pData, ulDataLen, pSignature,
                            ulSignatureLen);
}

TOKENSIM_EXPORT CK_RV C_VerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_VerifyUpdate, pPart, ulPartLen);
}

TOKENSIM_EXPORT CK_RV C_VerifyFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_VerifyFinal, pSignature, ulSignatureLen);
}

TOKENSIM_EXPORT CK_RV C_VerifyRecoverInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                          CK_OBJECT_HANDLE hKey)
{
    return ForwardWithKey(__func__, hSession, pMechanism, hKey, &CK_FUNCTION_LIST::C_VerifyRecoverInit);
}

TOKENSIM_EXPORT CK_RV C_VerifyRecover(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen,
                                      CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_VerifyRecover, pSignature, ulSignatureLen,
                            pData, pulDataLen);
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

TOKENSIM_EXPORT CK_RV C_WrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                CK_OBJECT_HANDLE hWrappingKey, CK_OBJECT_HANDLE hKey, CK_BYTE_PTR pWrappedKey,
                                CK_ULONG_PTR pulWrappedKeyLen)
{
    return ForwardWithKey(__func__, hSession, pMechanism, hWrappingKey, &CK_FUNCTION_LIST::C_WrapKey, hKey,
                          pWrappedKey, pulWrappedKeyLen);
}

TOKENSIM_EXPORT CK_RV C_UnwrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                  CK_OBJECT_HANDLE hUnwrappingKey, CK_BYTE_PTR pWrappedKey, CK_ULONG ulWrappedKeyLen,
                                  CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey)
{
    return ForwardWithKey(__func__, hSession, pMechanism, hUnwrappingKey, &CK_FUNCTION_LIST::C_UnwrapKey,
                          pWrappedKey, ulWrappedKeyLen, pTemplate, ulAttributeCount, phKey);
}

TOKENSIM_EXPORT CK_RV C_DeriveKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hBaseKey,
                                  CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey)
{
    return ForwardWithKey(__func__, hSession, pMechanism, hBaseKey, &CK_FUNCTION_LIST::C_DeriveKey, pTemplate,
                          ulAttributeCount, phKey);
}
