#include "token/CCkrNames.h"

#include <cstdio>
#include <iterator>

namespace {

struct SName {
    CK_RV rv;
    const char* name;
};

#define CERTPURGE_CKR(x) {x, #x}
// The values a failing C_GetFunctionList or C_Initialize is known to return.
constexpr SName kNames[] = {
    CERTPURGE_CKR(CKR_OK),
    CERTPURGE_CKR(CKR_CANCEL),
    CERTPURGE_CKR(CKR_HOST_MEMORY),
    CERTPURGE_CKR(CKR_SLOT_ID_INVALID),
    CERTPURGE_CKR(CKR_GENERAL_ERROR),
    CERTPURGE_CKR(CKR_FUNCTION_FAILED),
    CERTPURGE_CKR(CKR_ARGUMENTS_BAD),
    CERTPURGE_CKR(CKR_NO_EVENT),
    CERTPURGE_CKR(CKR_NEED_TO_CREATE_THREADS),
    CERTPURGE_CKR(CKR_CANT_LOCK),
    CERTPURGE_CKR(CKR_DEVICE_ERROR),
    CERTPURGE_CKR(CKR_DEVICE_MEMORY),
    CERTPURGE_CKR(CKR_DEVICE_REMOVED),
    CERTPURGE_CKR(CKR_FUNCTION_NOT_SUPPORTED),
    CERTPURGE_CKR(CKR_TOKEN_NOT_PRESENT),
    CERTPURGE_CKR(CKR_TOKEN_NOT_RECOGNIZED),
    CERTPURGE_CKR(CKR_CRYPTOKI_NOT_INITIALIZED),
    CERTPURGE_CKR(CKR_CRYPTOKI_ALREADY_INITIALIZED),
    CERTPURGE_CKR(CKR_VENDOR_DEFINED),
};
#undef CERTPURGE_CKR

}  // namespace

std::string CCkrNames::Of(CK_RV rv)
{
    for (const SName& n : kNames) {
        if (n.rv == rv)
            return n.name;
    }
    char hex[24];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(rv));
    return hex;
}
