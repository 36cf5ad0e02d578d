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

    // An X.509 certificate object with this value and CKA_ID. The value
    // need not decode: any bytes are stored as they are.
    void ImportCertificate(const Bytes& der, const Bytes& id, const std::string& label = "cert");
    // An RSA key pair with this CKA_ID.
    void GenerateKeyPair(const Bytes& id, CK_ULONG bits = 1024);
    // An EC key pair with this CKA_ID (not RSA: key searches must skip it).
    void GenerateEcKeyPair(const Bytes& id);
    // A certificate and its RSA key pair under one CKA_ID.
    void AddCertificateWithKeys(const CTestCertificate& cert, const Bytes& id);

    // Destroys every object of this class carrying exactly this CKA_ID.
    void Destroy(CK_OBJECT_CLASS cls, const Bytes& id);

    struct Object {
        CK_OBJECT_CLASS cls = 0;
        Bytes id;
        std::string label;
        Bytes value;  // certificates only
    };
    // Every object on the token, private ones included.
    std::vector<Object> Objects();
    // How many objects of this class carry exactly this CKA_ID.
    std::size_t Count(CK_OBJECT_CLASS cls, const Bytes& id);
    std::size_t Count(CK_OBJECT_CLASS cls);

private:
    class CSession;
    void Setup();
    void WriteConfig();
    void CopyModule();
    void InitToken();
    CK_SLOT_ID FindTokenSlot();

    CTempDir m_dir;
    std::string m_strModuleCopy;
    CLibrary m_library;
    CK_FUNCTION_LIST_PTR m_pFunctions = nullptr;
    CK_SLOT_ID m_slot = 0;
};

}  // namespace testsupport
