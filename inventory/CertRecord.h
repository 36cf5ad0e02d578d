#pragma once

#include "platform/CCertificate.h"
#include "token/Pkcs11.h"

#include <memory>
#include <string>

// One scanned certificate. Strings are UTF-8 byte strings.
struct CertRecord {
    std::string strDisplayName;
    std::string strIssueDate;   // 14 digits, UTC
    std::string strExpiryDate;  // 14 digits, UTC
    CK_OBJECT_HANDLE hCertObject = CK_INVALID_HANDLE;
    // CKA_ID followed by one zero byte, so it also reads as a C string.
    std::unique_ptr<unsigned char[]> pId;
    CK_ULONG ulIdLen = 0;
    // The type of the key pair under that ID, after the certificate's own
    // public key; CKK_RSA for a key of no type the key searches know.
    CK_KEY_TYPE ulKeyType = CKK_RSA;
    // The certificate's own public key, which that type was taken from.
    CCertificate::EKeyType eCertKey = CCertificate::EKeyType::Other;
    int nMark = 0;  // 1: expired or superseded
};
