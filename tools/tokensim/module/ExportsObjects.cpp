// Entry points for objects, searches and attributes; the ones that only
// forward are in ExportsForwarded.cpp.
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

