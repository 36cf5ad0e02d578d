#pragma once

#include "platform/CCertificate.h"
#include "token/CCertKey.h"
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
    // The certificate's own public key: what its key pair under that ID is
    // searched and told apart by, and its algorithm.
    CCertKey key;
    CCertificate::EKeyType eCertKey = CCertificate::EKeyType::Other;
    // Whose it is, who issued it and what for: only a renewal of the same
    // subject, issuer and use supersedes a certificate. The display name
    // drops fields and collides across holders, so the names are compared
    // as encoded. The issuer also as the subject is rendered, for the log.
    std::string strSubjectDer;
    std::string strIssuerDer;
    std::string strIssuer;
    CCertificate::EUse eUse = CCertificate::EUse::General;
    // Whether its private key decrypts what was encrypted to it: deleting
    // that key makes such files and mail unreadable.
    bool bCanDecrypt = false;
    // The certificate as encoded: the copy a removal keeps before it
    // destroys the object.
    std::string strCertDer;
    int nMark = 0;  // 1: expired or superseded
    // Why it is marked, for whoever cannot see the red.
    bool bSuperseded = false;
    bool bExpired = false;
};
