#pragma once
// The one way into the PKCS#11 definitions: p11-kit's header, with the
// platform's native CK_ULONG width.
#include <p11-kit/pkcs11.h>
