// A library that looks like a PKCS#11 module but whose C_GetFunctionList
// refuses, for the load-failure messages.
#include "token/Pkcs11.h"

extern "C" __attribute__((visibility("default"))) CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list)
{
    if (list != nullptr)
        *list = nullptr;
    return CKR_HOST_MEMORY;
}
