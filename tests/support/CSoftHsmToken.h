#pragma once

#include "CTempDir.h"
#include "CTestCertificate.h"
#include "platform/CLibrary.h"
#include "token/Pkcs11.h"

#include <string>
#include <vector>

namespace testsupport {

// A fresh SoftHSM2 token in a folder of its own, for one test.
//
// The constructor writes a configuration, points SOFTHSM2_CONF at it (each
// test runs in its own process) and initialises one token with the PINs
// below. The fixture works through its own instance of SoftHSM2; the code
// under test is given ModulePath(), a private copy of the library, so the
// two never share the module's in-process state but see the same objects.
class CSoftHsmToken {
public:
    static constexpr const char* kUserPin = "123456";
    static constexpr const char* kSoPin = "12345678";
    static constexpr const char* kLabel = "certpurge-test";

    CSoftHsmToken();
    // A token in `folder`, made afresh there and kept, for demonstrations.
    explicit CSoftHsmToken(const std::string& folder);
    ~CSoftHsmToken();
    CSoftHsmToken(const CSoftHsmToken&) = delete;
    CSoftHsmToken& operator=(const CSoftHsmToken&) = delete;

    const CTempDir& Folder() const { return m_dir; }
    // The module file the code under test loads.
    const std::string& ModulePath() const { return m_strModuleCopy; }
    // The initialised token's slot, as every instance of SoftHSM2 sees it.
    CK_SLOT_ID Slot() const { return m_slot; }
    // A further token, initialised in SoftHSM2's spare slot with the same
    // PINs; returns its slot. UseToken turns the helpers below to a token.
    CK_SLOT_ID AddToken(const std::string& label);
    void UseToken(CK_SLOT_ID slot) { m_workSlot = slot; }

    // An X.509 certificate object with this value and CKA_ID. The value
    // need not decode: any bytes are stored as they are.
    void ImportCertificate(const Bytes& der, const Bytes& id, const std::string& label = "cert");
    // An RSA key pair with this CKA_ID (and CKA_LABEL, when given); returns
    // its public key as a DER SubjectPublicKeyInfo, read back from the token.
    Bytes GenerateKeyPair(const Bytes& id, CK_ULONG bits = 1024, const std::string& label = {});
    // An EC key pair with this CKA_ID on a curve named as OpenSSL does
    // (not RSA: key searches must skip it); returns its public key likewise.
    Bytes GenerateEcKeyPair(const Bytes& id, const std::string& curve = "prime256v1");
    // An EdDSA key pair (CKK_EC_EDWARDS) with this CKA_ID, "ED25519" or
    // "ED448"; returns its public key likewise.
    Bytes GenerateEdKeyPair(const Bytes& id, const std::string& curve = "ED25519");
    // An RSA key pair and a certificate carrying its public key, under one
    // CKA_ID, as on a real token.
    void AddCertificateWithKeys(CTestCertificate cert, const Bytes& id);

    // A signature with the private key under this CKA_ID (the first found),
    // as the mechanism returns it.
    Bytes Sign(const Bytes& id, CK_MECHANISM_TYPE mechanism, const Bytes& data);

    // Destroys every object of this class carrying exactly this CKA_ID.
    void Destroy(CK_OBJECT_CLASS cls, const Bytes& id);

    struct Object {
        CK_OBJECT_CLASS cls = 0;
        Bytes id;
        std::string label;
        Bytes value;  // certificates only
        CK_KEY_TYPE keyType = CK_UNAVAILABLE_INFORMATION;  // keys only
    };
    // Every object on the token, private ones included.
    std::vector<Object> Objects();
    // How many objects of this class carry exactly this CKA_ID.
    std::size_t Count(CK_OBJECT_CLASS cls, const Bytes& id);
    // How many keys of this class and key type carry exactly this CKA_ID.
    std::size_t Count(CK_OBJECT_CLASS cls, const Bytes& id, CK_KEY_TYPE keyType);
    std::size_t Count(CK_OBJECT_CLASS cls);

private:
    class CSession;
    void Setup();
    void WriteConfig();
    void CopyModule();
    void InitToken();
    CK_SLOT_ID InitSpareToken(const std::string& label);
    CK_SLOT_ID FindTokenSlot(const CK_UTF8CHAR (&label)[32]);
    Bytes Attribute(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type);
    Bytes GenerateCurveKeyPair(CK_MECHANISM_TYPE mechanism, const Bytes& id, const std::string& curve);

    CTempDir m_dir;
    std::string m_strModuleCopy;
    CLibrary m_library;
    CK_FUNCTION_LIST_PTR m_pFunctions = nullptr;
    CK_SLOT_ID m_slot = 0;
    CK_SLOT_ID m_workSlot = 0;  // the token the helpers work on
};

}  // namespace testsupport
