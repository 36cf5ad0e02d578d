// Entry points for objects, searches, attributes, random numbers and the
// legacy parallel functions.
#include "Guarded.h"

TOKENSIM_EXPORT CK_RV C_CreateObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                                     CK_OBJECT_HANDLE_PTR phObject)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("session", hSession).Attributes(pTemplate, ulCount);
        CK_RV rv = Sim().OnSession(call, hSession, &CK_FUNCTION_LIST::C_CreateObject, pTemplate, ulCount, phObject);
        if (rv == CKR_OK && phObject != nullptr)
            call.Field("object", *phObject);
        return rv;
    });
}

TOKENSIM_EXPORT CK_RV C_CopyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                                   CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phNewObject)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("session", hSession).Field("object", hObject).Attributes(pTemplate, ulCount);
        CK_RV rv = Sim().OnSession(call, hSession, &CK_FUNCTION_LIST::C_CopyObject, hObject, pTemplate, ulCount,
                                   phNewObject);
        if (rv == CKR_OK && phNewObject != nullptr)
            call.Field("copy", *phNewObject);
        return rv;
    });
}

TOKENSIM_EXPORT CK_RV C_DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("session", hSession).Field("object", hObject);
        return Sim().OnSession(call, hSession, &CK_FUNCTION_LIST::C_DestroyObject, hObject);
    });
}

TOKENSIM_EXPORT CK_RV C_GetObjectSize(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ULONG_PTR pulSize)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("session", hSession).Field("object", hObject);
        return Sim().OnSession(call, hSession, &CK_FUNCTION_LIST::C_GetObjectSize, hObject, pulSize);
    });
}

TOKENSIM_EXPORT CK_RV C_GetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                                          CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("session", hSession).Field("object", hObject).Attributes(pTemplate, ulCount);
        return Sim().GetAttributeValue(call, hSession, hObject, pTemplate, ulCount);
    });
}

TOKENSIM_EXPORT CK_RV C_SetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                                          CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("session", hSession).Field("object", hObject).Attributes(pTemplate, ulCount);
        return Sim().OnSession(call, hSession, &CK_FUNCTION_LIST::C_SetAttributeValue, hObject, pTemplate, ulCount);
    });
}

TOKENSIM_EXPORT CK_RV C_FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("session", hSession).Attributes(pTemplate, ulCount);
        return Sim().FindObjectsInit(call, hSession, pTemplate, ulCount);
    });
}

TOKENSIM_EXPORT CK_RV C_FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject,
                                    CK_ULONG ulMaxObjectCount, CK_ULONG_PTR pulObjectCount)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("session", hSession).Field("max", ulMaxObjectCount);
        CK_RV rv = Sim().FindObjects(call, hSession, phObject, ulMaxObjectCount, pulObjectCount);
        if (rv == CKR_OK && pulObjectCount != nullptr)
            call.Field("found", *pulObjectCount);
        return rv;
    });
}

TOKENSIM_EXPORT CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE hSession)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("session", hSession);
        return Sim().FindObjectsFinal(call, hSession);
    });
}

TOKENSIM_EXPORT CK_RV C_SeedRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSeed, CK_ULONG ulSeedLen)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_SeedRandom, pSeed, ulSeedLen);
}

TOKENSIM_EXPORT CK_RV C_GenerateRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pRandomData, CK_ULONG ulRandomLen)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_GenerateRandom, pRandomData, ulRandomLen);
}

TOKENSIM_EXPORT CK_RV C_GetFunctionStatus(CK_SESSION_HANDLE hSession)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_GetFunctionStatus);
}

TOKENSIM_EXPORT CK_RV C_CancelFunction(CK_SESSION_HANDLE hSession)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_CancelFunction);
}

TOKENSIM_EXPORT CK_RV C_DigestEncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen,
                                            CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_DigestEncryptUpdate, pPart, ulPartLen,
                            pEncryptedPart, pulEncryptedPartLen);
}

TOKENSIM_EXPORT CK_RV C_DecryptDigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart,
                                            CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_DecryptDigestUpdate, pEncryptedPart,
                            ulEncryptedPartLen, pPart, pulPartLen);
}

TOKENSIM_EXPORT CK_RV C_SignEncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen,
                                          CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_SignEncryptUpdate, pPart, ulPartLen,
                            pEncryptedPart, pulEncryptedPartLen);
}

TOKENSIM_EXPORT CK_RV C_DecryptVerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart,
                                            CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_DecryptVerifyUpdate, pEncryptedPart,
                            ulEncryptedPartLen, pPart, pulPartLen);
}
