// Entry points for the library, slots, tokens, sessions and login.
#include "Guarded.h"

#include "tools/tokensim/control/CPkcs11Names.h"

namespace {

CK_FUNCTION_LIST MakeFunctionList();

}  // namespace

TOKENSIM_EXPORT CK_RV C_Initialize(CK_VOID_PTR pInitArgs)
{
    return Guarded(__func__, [&](CCall& call) { return Sim().Initialize(call, pInitArgs); });
}

TOKENSIM_EXPORT CK_RV C_Finalize(CK_VOID_PTR pReserved)
{
    return Guarded(__func__, [&](CCall& call) { return Sim().Finalize(call, pReserved); });
}

TOKENSIM_EXPORT CK_RV C_GetInfo(CK_INFO_PTR pInfo)
{
    return Guarded(__func__, [&](CCall& call) { return Sim().GetInfo(call, pInfo); });
}

TOKENSIM_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList)
{
    // Never written after it is built; callers only read it.
    static CK_FUNCTION_LIST functionList = MakeFunctionList();
    return Guarded(__func__, [&](CCall& call) {
        if (ppFunctionList == nullptr)
            return call.Result(CKR_ARGUMENTS_BAD);
        *ppFunctionList = &functionList;
        return call.Result(CKR_OK);
    });
}

TOKENSIM_EXPORT CK_RV C_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("present", tokenPresent);
        return Sim().GetSlotList(call, tokenPresent, pSlotList, pulCount);
    });
}

TOKENSIM_EXPORT CK_RV C_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("slot", slotID);
        return Sim().GetSlotInfo(call, slotID, pInfo);
    });
}

TOKENSIM_EXPORT CK_RV C_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("slot", slotID);
        return Sim().GetTokenInfo(call, slotID, pInfo);
    });
}

TOKENSIM_EXPORT CK_RV C_WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_VOID_PTR)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Hex("flags", flags);
        return Sim().WaitForSlotEvent(call, flags, pSlot);
    });
}

TOKENSIM_EXPORT CK_RV C_GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList,
                                         CK_ULONG_PTR pulCount)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("slot", slotID);
        return Sim().OnToken(call, slotID, &CK_FUNCTION_LIST::C_GetMechanismList, pMechanismList, pulCount);
    });
}

TOKENSIM_EXPORT CK_RV C_GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("slot", slotID).Hex("mech", type);
        return Sim().OnToken(call, slotID, &CK_FUNCTION_LIST::C_GetMechanismInfo, type, pInfo);
    });
}

TOKENSIM_EXPORT CK_RV C_InitToken(CK_SLOT_ID slotID, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen, CK_UTF8CHAR_PTR pLabel)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("slot", slotID).Field("pinlen", ulPinLen);
        return Sim().OnToken(call, slotID, &CK_FUNCTION_LIST::C_InitToken, pPin, ulPinLen, pLabel);
    });
}

TOKENSIM_EXPORT CK_RV C_InitPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("session", hSession).Field("pinlen", ulPinLen);
        return Sim().OnSession(call, hSession, &CK_FUNCTION_LIST::C_InitPIN, pPin, ulPinLen);
    });
}

TOKENSIM_EXPORT CK_RV C_SetPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen,
                               CK_UTF8CHAR_PTR pNewPin, CK_ULONG ulNewLen)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("session", hSession).Field("oldlen", ulOldLen).Field("newlen", ulNewLen);
        return Sim().OnSession(call, hSession, &CK_FUNCTION_LIST::C_SetPIN, pOldPin, ulOldLen, pNewPin, ulNewLen);
    });
}

TOKENSIM_EXPORT CK_RV C_OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY,
                                    CK_SESSION_HANDLE_PTR phSession)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("slot", slotID).Hex("flags", flags);
        return Sim().OpenSession(call, slotID, flags, phSession);
    });
}

TOKENSIM_EXPORT CK_RV C_CloseSession(CK_SESSION_HANDLE hSession)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("session", hSession);
        return Sim().CloseSession(call, hSession);
    });
}

TOKENSIM_EXPORT CK_RV C_CloseAllSessions(CK_SLOT_ID slotID)
{
    return Guarded(__func__, [&](CCall& call) {
        call.Field("slot", slotID);
        return Sim().CloseAllSessions(call, slotID);
    });
}

TOKENSIM_EXPORT CK_RV C_GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_GetSessionInfo, pInfo);
}

TOKENSIM_EXPORT CK_RV C_GetOperationState(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState,
                                          CK_ULONG_PTR pulOperationStateLen)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_GetOperationState, pOperationState,
                            pulOperationStateLen);
}

TOKENSIM_EXPORT CK_RV C_SetOperationState(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState,
                                          CK_ULONG ulOperationStateLen, CK_OBJECT_HANDLE hEncryptionKey,
                                          CK_OBJECT_HANDLE hAuthenticationKey)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_SetOperationState, pOperationState,
                            ulOperationStateLen, hEncryptionKey, hAuthenticationKey);
}

TOKENSIM_EXPORT CK_RV C_Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin,
                              CK_ULONG ulPinLen)
{
    return Guarded(__func__, [&](CCall& call) {
        // The PIN's length only, never its bytes.
        call.Field("session", hSession).Text("user", CPkcs11Names::UserType(userType)).Field("pinlen", ulPinLen);
        if (pPin == nullptr)
            call.Text("pin", "null");  // as a login on the token's keypad passes it
        return Sim().Login(call, hSession, userType, pPin, ulPinLen);
    });
}

TOKENSIM_EXPORT CK_RV C_Logout(CK_SESSION_HANDLE hSession)
{
    return ForwardOnSession(__func__, hSession, &CK_FUNCTION_LIST::C_Logout);
}

namespace {

CK_FUNCTION_LIST MakeFunctionList()
{
    return CK_FUNCTION_LIST{
        .version = {CRYPTOKI_VERSION_MAJOR, CRYPTOKI_VERSION_MINOR},
        .C_Initialize = C_Initialize,
        .C_Finalize = C_Finalize,
        .C_GetInfo = C_GetInfo,
        .C_GetFunctionList = C_GetFunctionList,
        .C_GetSlotList = C_GetSlotList,
        .C_GetSlotInfo = C_GetSlotInfo,
        .C_GetTokenInfo = C_GetTokenInfo,
        .C_GetMechanismList = C_GetMechanismList,
        .C_GetMechanismInfo = C_GetMechanismInfo,
        .C_InitToken = C_InitToken,
        .C_InitPIN = C_InitPIN,
        .C_SetPIN = C_SetPIN,
        .C_OpenSession = C_OpenSession,
        .C_CloseSession = C_CloseSession,
        .C_CloseAllSessions = C_CloseAllSessions,
        .C_GetSessionInfo = C_GetSessionInfo,
        .C_GetOperationState = C_GetOperationState,
        .C_SetOperationState = C_SetOperationState,
        .C_Login = C_Login,
        .C_Logout = C_Logout,
        .C_CreateObject = C_CreateObject,
        .C_CopyObject = C_CopyObject,
        .C_DestroyObject = C_DestroyObject,
        .C_GetObjectSize = C_GetObjectSize,
        .C_GetAttributeValue = C_GetAttributeValue,
        .C_SetAttributeValue = C_SetAttributeValue,
        .C_FindObjectsInit = C_FindObjectsInit,
        .C_FindObjects = C_FindObjects,
        .C_FindObjectsFinal = C_FindObjectsFinal,
        .C_EncryptInit = C_EncryptInit,
        .C_Encrypt = C_Encrypt,
        .C_EncryptUpdate = C_EncryptUpdate,
        .C_EncryptFinal = C_EncryptFinal,
        .C_DecryptInit = C_DecryptInit,
        .C_Decrypt = C_Decrypt,
        .C_DecryptUpdate = C_DecryptUpdate,
        .C_DecryptFinal = C_DecryptFinal,
        .C_DigestInit = C_DigestInit,
        .C_Digest = C_Digest,
        .C_DigestUpdate = C_DigestUpdate,
        .C_DigestKey = C_DigestKey,
        .C_DigestFinal = C_DigestFinal,
        .C_SignInit = C_SignInit,
        .C_Sign = C_Sign,
        .C_SignUpdate = C_SignUpdate,
        .C_SignFinal = C_SignFinal,
        .C_SignRecoverInit = C_SignRecoverInit,
        .C_SignRecover = C_SignRecover,
        .C_VerifyInit = C_VerifyInit,
        .C_Verify = C_Verify,
        .C_VerifyUpdate = C_VerifyUpdate,
        .C_VerifyFinal = C_VerifyFinal,
        .C_VerifyRecoverInit = C_VerifyRecoverInit,
        .C_VerifyRecover = C_VerifyRecover,
        .C_DigestEncryptUpdate = C_DigestEncryptUpdate,
        .C_DecryptDigestUpdate = C_DecryptDigestUpdate,
        .C_SignEncryptUpdate = C_SignEncryptUpdate,
        .C_DecryptVerifyUpdate = C_DecryptVerifyUpdate,
        .C_GenerateKey = C_GenerateKey,
        .C_GenerateKeyPair = C_GenerateKeyPair,
        .C_WrapKey = C_WrapKey,
        .C_UnwrapKey = C_UnwrapKey,
        .C_DeriveKey = C_DeriveKey,
        .C_SeedRandom = C_SeedRandom,
        .C_GenerateRandom = C_GenerateRandom,
        .C_GetFunctionStatus = C_GetFunctionStatus,
        .C_CancelFunction = C_CancelFunction,
        .C_WaitForSlotEvent = C_WaitForSlotEvent,
    };
}

}  // namespace
