// The entry points that only forward to the backend, tracing their session
// (and, for those that take one, the mechanism and the key): one line each,
// its name, its parameters after the session, and their names again.
#include "Guarded.h"

// Each "(...)" list expands to ", ..." when it is not empty.
#define TOKENSIM_AFTER(...) __VA_OPT__(, __VA_ARGS__)

#define TOKENSIM_ON_SESSION(name, params, args)                                                  \
    TOKENSIM_EXPORT CK_RV name(CK_SESSION_HANDLE hSession TOKENSIM_AFTER params)                 \
    {                                                                                            \
        return ForwardOnSession(#name, hSession, &CK_FUNCTION_LIST::name TOKENSIM_AFTER args);   \
    }

// The key parameter comes right after the mechanism.
#define TOKENSIM_WITH_KEY(name, key, params, args)                                                                 \
    TOKENSIM_EXPORT CK_RV name(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE key       \
                                   TOKENSIM_AFTER params)                                                          \
    {                                                                                                              \
        return ForwardWithKey(#name, hSession, pMechanism, key, &CK_FUNCTION_LIST::name TOKENSIM_AFTER args);      \
    }

TOKENSIM_ON_SESSION(C_Encrypt,
    (CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pEncryptedData, CK_ULONG_PTR pulEncryptedDataLen),
    (pData, ulDataLen, pEncryptedData, pulEncryptedDataLen))
TOKENSIM_ON_SESSION(C_EncryptUpdate,
    (CK_BYTE_PTR pPart, CK_ULONG ulPartLen, CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen),
    (pPart, ulPartLen, pEncryptedPart, pulEncryptedPartLen))
TOKENSIM_ON_SESSION(C_EncryptFinal,
    (CK_BYTE_PTR pLastEncryptedPart, CK_ULONG_PTR pulLastEncryptedPartLen),
    (pLastEncryptedPart, pulLastEncryptedPartLen))
TOKENSIM_ON_SESSION(C_Decrypt,
    (CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen, CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen),
    (pEncryptedData, ulEncryptedDataLen, pData, pulDataLen))
TOKENSIM_ON_SESSION(C_DecryptUpdate,
    (CK_BYTE_PTR pEncryptedPart, CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen),
    (pEncryptedPart, ulEncryptedPartLen, pPart, pulPartLen))
TOKENSIM_ON_SESSION(C_DecryptFinal, (CK_BYTE_PTR pLastPart, CK_ULONG_PTR pulLastPartLen), (pLastPart, pulLastPartLen))
TOKENSIM_ON_SESSION(C_Digest,
    (CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen),
    (pData, ulDataLen, pDigest, pulDigestLen))
TOKENSIM_ON_SESSION(C_DigestUpdate, (CK_BYTE_PTR pPart, CK_ULONG ulPartLen), (pPart, ulPartLen))
TOKENSIM_ON_SESSION(C_DigestFinal, (CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen), (pDigest, pulDigestLen))
TOKENSIM_ON_SESSION(C_Sign,
    (CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen),
    (pData, ulDataLen, pSignature, pulSignatureLen))
TOKENSIM_ON_SESSION(C_SignUpdate, (CK_BYTE_PTR pPart, CK_ULONG ulPartLen), (pPart, ulPartLen))
TOKENSIM_ON_SESSION(C_SignFinal,
    (CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen),
    (pSignature, pulSignatureLen))
TOKENSIM_ON_SESSION(C_SignRecover,
    (CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen),
    (pData, ulDataLen, pSignature, pulSignatureLen))
TOKENSIM_ON_SESSION(C_Verify,
    (CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen),
    (pData, ulDataLen, pSignature, ulSignatureLen))
TOKENSIM_ON_SESSION(C_VerifyUpdate, (CK_BYTE_PTR pPart, CK_ULONG ulPartLen), (pPart, ulPartLen))
TOKENSIM_ON_SESSION(C_VerifyFinal, (CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen), (pSignature, ulSignatureLen))
TOKENSIM_ON_SESSION(C_VerifyRecover,
    (CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen, CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen),
    (pSignature, ulSignatureLen, pData, pulDataLen))
TOKENSIM_ON_SESSION(C_SeedRandom, (CK_BYTE_PTR pSeed, CK_ULONG ulSeedLen), (pSeed, ulSeedLen))
TOKENSIM_ON_SESSION(C_GenerateRandom, (CK_BYTE_PTR pRandomData, CK_ULONG ulRandomLen), (pRandomData, ulRandomLen))
TOKENSIM_ON_SESSION(C_GetFunctionStatus, (), ())
TOKENSIM_ON_SESSION(C_CancelFunction, (), ())
TOKENSIM_ON_SESSION(C_DigestEncryptUpdate,
    (CK_BYTE_PTR pPart, CK_ULONG ulPartLen, CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen),
    (pPart, ulPartLen, pEncryptedPart, pulEncryptedPartLen))
TOKENSIM_ON_SESSION(C_DecryptDigestUpdate,
    (CK_BYTE_PTR pEncryptedPart, CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen),
    (pEncryptedPart, ulEncryptedPartLen, pPart, pulPartLen))
TOKENSIM_ON_SESSION(C_SignEncryptUpdate,
    (CK_BYTE_PTR pPart, CK_ULONG ulPartLen, CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen),
    (pPart, ulPartLen, pEncryptedPart, pulEncryptedPartLen))
TOKENSIM_ON_SESSION(C_DecryptVerifyUpdate,
    (CK_BYTE_PTR pEncryptedPart, CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen),
    (pEncryptedPart, ulEncryptedPartLen, pPart, pulPartLen))

TOKENSIM_WITH_KEY(C_EncryptInit, hKey, (), ())
TOKENSIM_WITH_KEY(C_DecryptInit, hKey, (), ())
TOKENSIM_WITH_KEY(C_SignInit, hKey, (), ())
TOKENSIM_WITH_KEY(C_SignRecoverInit, hKey, (), ())
TOKENSIM_WITH_KEY(C_VerifyInit, hKey, (), ())
TOKENSIM_WITH_KEY(C_VerifyRecoverInit, hKey, (), ())
TOKENSIM_WITH_KEY(C_WrapKey,
    hWrappingKey,
    (CK_OBJECT_HANDLE hKey, CK_BYTE_PTR pWrappedKey, CK_ULONG_PTR pulWrappedKeyLen),
    (hKey, pWrappedKey, pulWrappedKeyLen))
TOKENSIM_WITH_KEY(C_UnwrapKey,
    hUnwrappingKey,
    (CK_BYTE_PTR pWrappedKey, CK_ULONG ulWrappedKeyLen, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey),
    (pWrappedKey, ulWrappedKeyLen, pTemplate, ulAttributeCount, phKey))
TOKENSIM_WITH_KEY(C_DeriveKey,
    hBaseKey,
    (CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey),
    (pTemplate, ulAttributeCount, phKey))
