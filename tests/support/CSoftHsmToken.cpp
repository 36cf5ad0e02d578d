#include "CSoftHsmToken.h"

#include "CPublicKeyDer.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <openssl/x509.h>

namespace testsupport {

namespace {

void Check(CK_RV rv, const char* what)
{
    if (rv != CKR_OK) {
        char buf[160];
        std::snprintf(buf, sizeof buf, "SoftHSM2 fixture: %s failed with 0x%lx", what, rv);
        throw std::runtime_error(buf);
    }
}

CK_UTF8CHAR_PTR Utf8(const char* s)
{
    return reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(s));
}

void PadLabel(CK_UTF8CHAR (&out)[32], const char* label)
{
    std::memset(out, ' ', sizeof out);
    std::memcpy(out, label, std::min(std::strlen(label), sizeof out));
}

// The subject DER of a certificate, or of an empty name when it does not decode.
Bytes SubjectOf(const Bytes& der)
{
    const unsigned char* p = der.data();
    X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    if (cert == nullptr)
        return Bytes{0x30, 0x00};
    unsigned char* out = nullptr;
    int len = i2d_X509_NAME(X509_get_subject_name(cert), &out);
    Bytes subject = len > 0 ? Bytes(out, out + len) : Bytes{0x30, 0x00};
    OPENSSL_free(out);
    X509_free(cert);
    return subject;
}

}  // namespace

// A logged-in read/write session of the fixture's own, for one helper call.
// SoftHSM2 may already be initialised in this process (by a test loading the
// system's copy); then it is left initialised.
class CSoftHsmToken::CSession {
public:
    CSession(CK_FUNCTION_LIST_PTR f, CK_SLOT_ID slot) : m_f(f)
    {
        CK_RV rv = m_f->C_Initialize(nullptr);
        if (rv != CKR_CRYPTOKI_ALREADY_INITIALIZED)
            Check(rv, "C_Initialize");
        m_bFinalize = rv == CKR_OK;
        Check(m_f->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &m_h), "C_OpenSession");
        rv = m_f->C_Login(m_h, CKU_USER, Utf8(kUserPin), std::strlen(kUserPin));
        if (rv != CKR_USER_ALREADY_LOGGED_IN)
            Check(rv, "C_Login");
    }
    ~CSession()
    {
        m_f->C_CloseSession(m_h);
        if (m_bFinalize)
            m_f->C_Finalize(nullptr);
    }
    CSession(const CSession&) = delete;
    CSession& operator=(const CSession&) = delete;

    CK_SESSION_HANDLE Handle() const { return m_h; }

private:
    CK_FUNCTION_LIST_PTR m_f;
    CK_SESSION_HANDLE m_h = 0;
    bool m_bFinalize = false;
};

CSoftHsmToken::CSoftHsmToken()
{
    Setup();
}

CSoftHsmToken::CSoftHsmToken(const std::string& folder) : m_dir(folder)
{
    Setup();
}

void CSoftHsmToken::Setup()
{
    WriteConfig();
    CopyModule();
    if (m_library.Load(CERTPURGE_SOFTHSM_MODULE) != 0)
        throw std::runtime_error("cannot load SoftHSM2: " + m_library.LastError());
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(m_library.Symbol("C_GetFunctionList"));
    if (getList == nullptr)
        throw std::runtime_error("SoftHSM2 has no C_GetFunctionList");
    Check(getList(&m_pFunctions), "C_GetFunctionList");
    InitToken();
}

CSoftHsmToken::~CSoftHsmToken() = default;

void CSoftHsmToken::WriteConfig()
{
    std::filesystem::remove_all(m_dir.File("tokens"));
    std::filesystem::create_directory(m_dir.File("tokens"));
    std::ofstream conf(m_dir.File("softhsm2.conf"));
    conf << "directories.tokendir = " << m_dir.File("tokens") << "\n"
         << "objectstore.backend = file\n"
         << "log.level = ERROR\n"
         << "slots.removable = true\n";
    conf.close();
    setenv("SOFTHSM2_CONF", m_dir.File("softhsm2.conf").c_str(), 1);
}

void CSoftHsmToken::CopyModule()
{
    m_strModuleCopy = m_dir.File("softhsm2-under-test.so");
    std::filesystem::copy_file(CERTPURGE_SOFTHSM_MODULE, m_strModuleCopy,
                               std::filesystem::copy_options::overwrite_existing);
}

void CSoftHsmToken::InitToken()
{
    m_slot = InitSpareToken(kLabel);
    m_workSlot = m_slot;
}

CK_SLOT_ID CSoftHsmToken::AddToken(const std::string& label)
{
    return InitSpareToken(label);
}

// SoftHSM2 keeps one slot with an uninitialised token spare.
CK_SLOT_ID CSoftHsmToken::InitSpareToken(const std::string& label)
{
    Check(m_pFunctions->C_Initialize(nullptr), "C_Initialize");
    CK_SLOT_ID slots[8];
    CK_ULONG count = 8;
    Check(m_pFunctions->C_GetSlotList(CK_FALSE, slots, &count), "C_GetSlotList");
    CK_SLOT_ID spare = CK_UNAVAILABLE_INFORMATION;
    for (CK_ULONG i = 0; i < count && spare == CK_UNAVAILABLE_INFORMATION; ++i) {
        CK_TOKEN_INFO info{};
        if (m_pFunctions->C_GetTokenInfo(slots[i], &info) == CKR_OK && !(info.flags & CKF_TOKEN_INITIALIZED))
            spare = slots[i];
    }
    if (spare == CK_UNAVAILABLE_INFORMATION)
        throw std::runtime_error("SoftHSM2 fixture: no slot with an uninitialised token");
    CK_UTF8CHAR padded[32];
    PadLabel(padded, label.c_str());
    Check(m_pFunctions->C_InitToken(spare, Utf8(kSoPin), std::strlen(kSoPin), padded), "C_InitToken");

    CK_SESSION_HANDLE h = 0;
    Check(m_pFunctions->C_OpenSession(spare, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &h),
          "C_OpenSession");
    Check(m_pFunctions->C_Login(h, CKU_SO, Utf8(kSoPin), std::strlen(kSoPin)), "C_Login(SO)");
    Check(m_pFunctions->C_InitPIN(h, Utf8(kUserPin), std::strlen(kUserPin)), "C_InitPIN");
    m_pFunctions->C_CloseSession(h);
    m_pFunctions->C_Finalize(nullptr);

    // An initialised token moves to a slot numbered after its serial; a
    // fresh start of the module shows where.
    Check(m_pFunctions->C_Initialize(nullptr), "C_Initialize");
    CK_SLOT_ID slot = FindTokenSlot(padded);
    m_pFunctions->C_Finalize(nullptr);
    return slot;
}

CK_SLOT_ID CSoftHsmToken::FindTokenSlot(const CK_UTF8CHAR (&label)[32])
{
    CK_SLOT_ID slots[8];
    CK_ULONG count = 8;
    Check(m_pFunctions->C_GetSlotList(CK_TRUE, slots, &count), "C_GetSlotList");
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_TOKEN_INFO info{};
        if (m_pFunctions->C_GetTokenInfo(slots[i], &info) == CKR_OK && (info.flags & CKF_TOKEN_INITIALIZED) &&
            std::memcmp(info.label, label, sizeof label) == 0)
            return slots[i];
    }
    throw std::runtime_error("SoftHSM2 fixture: the initialised token is not listed");
}

void CSoftHsmToken::ImportCertificate(const Bytes& der, const Bytes& id, const std::string& label)
{
    CSession s(m_pFunctions, m_workSlot);
    CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE type = CKC_X_509;
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL no = CK_FALSE;
    Bytes subject = SubjectOf(der);
    Bytes value = der;
    Bytes idCopy = id;
    std::string labelCopy = label;
    CK_ATTRIBUTE tmpl[] = {
        {CKA_CLASS, &cls, sizeof cls},
        {CKA_CERTIFICATE_TYPE, &type, sizeof type},
        {CKA_TOKEN, &yes, sizeof yes},
        {CKA_PRIVATE, &no, sizeof no},
        {CKA_SUBJECT, subject.data(), subject.size()},
        {CKA_VALUE, value.data(), value.size()},
        {CKA_ID, idCopy.data(), idCopy.size()},
        {CKA_LABEL, labelCopy.data(), labelCopy.size()},
    };
    CK_OBJECT_HANDLE h = 0;
    Check(m_pFunctions->C_CreateObject(s.Handle(), tmpl, sizeof tmpl / sizeof tmpl[0], &h), "C_CreateObject");
}

Bytes CSoftHsmToken::Attribute(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type)
{
    CK_ATTRIBUTE a = {type, nullptr, 0};
    Check(m_pFunctions->C_GetAttributeValue(h, object, &a, 1), "C_GetAttributeValue");
    Bytes value(a.ulValueLen);
    a.pValue = value.data();
    Check(m_pFunctions->C_GetAttributeValue(h, object, &a, 1), "C_GetAttributeValue");
    return value;
}

Bytes CSoftHsmToken::GenerateKeyPair(const Bytes& id, CK_ULONG bits, const std::string& label)
{
    CSession s(m_pFunctions, m_workSlot);
    CK_MECHANISM mech = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_BBOOL yes = CK_TRUE;
    CK_BYTE exponent[] = {0x01, 0x00, 0x01};
    Bytes idCopy = id;
    std::string labelCopy = label;
    CK_ATTRIBUTE pub[] = {
        {CKA_TOKEN, &yes, sizeof yes},
        {CKA_VERIFY, &yes, sizeof yes},
        {CKA_MODULUS_BITS, &bits, sizeof bits},
        {CKA_PUBLIC_EXPONENT, exponent, sizeof exponent},
        {CKA_ID, idCopy.data(), idCopy.size()},
        {CKA_LABEL, labelCopy.data(), labelCopy.size()},
    };
    CK_ATTRIBUTE priv[] = {
        {CKA_TOKEN, &yes, sizeof yes},
        {CKA_PRIVATE, &yes, sizeof yes},
        {CKA_SENSITIVE, &yes, sizeof yes},
        {CKA_SIGN, &yes, sizeof yes},
        {CKA_ID, idCopy.data(), idCopy.size()},
        {CKA_LABEL, labelCopy.data(), labelCopy.size()},
    };
    const CK_ULONG count = label.empty() ? 5 : 6;
    CK_OBJECT_HANDLE hPub = 0;
    CK_OBJECT_HANDLE hPriv = 0;
    Check(m_pFunctions->C_GenerateKeyPair(s.Handle(), &mech, pub, count, priv, count, &hPub, &hPriv),
          "C_GenerateKeyPair");
    return CPublicKeyDer::Rsa(Attribute(s.Handle(), hPub, CKA_MODULUS), Attribute(s.Handle(), hPub, CKA_PUBLIC_EXPONENT));
}

Bytes CSoftHsmToken::GenerateEcKeyPair(const Bytes& id, const std::string& curve)
{
    return CPublicKeyDer::Ec(curve, GenerateCurveKeyPair(CKM_EC_KEY_PAIR_GEN, id, curve));
}

Bytes CSoftHsmToken::GenerateEdKeyPair(const Bytes& id, const std::string& curve)
{
    return CPublicKeyDer::Ed(curve, GenerateCurveKeyPair(CKM_EC_EDWARDS_KEY_PAIR_GEN, id, curve));
}

// An EC or EdDSA pair on a named curve; its public point.
Bytes CSoftHsmToken::GenerateCurveKeyPair(CK_MECHANISM_TYPE mechanism, const Bytes& id, const std::string& curve)
{
    CSession s(m_pFunctions, m_workSlot);
    CK_MECHANISM mech = {mechanism, nullptr, 0};
    CK_BBOOL yes = CK_TRUE;
    Bytes params = CPublicKeyDer::CurveParams(curve);
    Bytes idCopy = id;
    CK_ATTRIBUTE pub[] = {
        {CKA_TOKEN, &yes, sizeof yes},
        {CKA_EC_PARAMS, params.data(), params.size()},
        {CKA_ID, idCopy.data(), idCopy.size()},
    };
    CK_ATTRIBUTE priv[] = {
        {CKA_TOKEN, &yes, sizeof yes},
        {CKA_PRIVATE, &yes, sizeof yes},
        {CKA_SIGN, &yes, sizeof yes},
        {CKA_ID, idCopy.data(), idCopy.size()},
    };
    CK_OBJECT_HANDLE hPub = 0;
    CK_OBJECT_HANDLE hPriv = 0;
    Check(m_pFunctions->C_GenerateKeyPair(s.Handle(), &mech, pub, 3, priv, 4, &hPub, &hPriv),
          ("C_GenerateKeyPair(" + curve + ")").c_str());
    return Attribute(s.Handle(), hPub, CKA_EC_POINT);
}

void CSoftHsmToken::AddCertificateWithKeys(CTestCertificate cert, const Bytes& id)
{
    ImportCertificate(cert.PublicKey(GenerateKeyPair(id)).Der(), id);
}

Bytes CSoftHsmToken::Sign(const Bytes& id, CK_MECHANISM_TYPE mechanism, const Bytes& data)
{
    CSession s(m_pFunctions, m_workSlot);
    CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
    Bytes idCopy = id;
    CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &cls, sizeof cls}, {CKA_ID, idCopy.data(), idCopy.size()}};
    Check(m_pFunctions->C_FindObjectsInit(s.Handle(), tmpl, 2), "C_FindObjectsInit");
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    CK_ULONG n = 0;
    CK_RV rv = m_pFunctions->C_FindObjects(s.Handle(), &key, 1, &n);
    m_pFunctions->C_FindObjectsFinal(s.Handle());
    Check(rv, "C_FindObjects");
    if (n == 0)
        throw std::runtime_error("SoftHSM2 fixture: no private key under this ID");

    CK_MECHANISM mech = {mechanism, nullptr, 0};
    Check(m_pFunctions->C_SignInit(s.Handle(), &mech, key), "C_SignInit");
    Bytes input = data;
    CK_ULONG len = 0;
    Check(m_pFunctions->C_Sign(s.Handle(), input.data(), input.size(), nullptr, &len), "C_Sign");
    Bytes signature(len);
    Check(m_pFunctions->C_Sign(s.Handle(), input.data(), input.size(), signature.data(), &len), "C_Sign");
    signature.resize(len);
    return signature;
}

void CSoftHsmToken::Destroy(CK_OBJECT_CLASS cls, const Bytes& id)
{
    CSession s(m_pFunctions, m_workSlot);
    Bytes idCopy = id;
    CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &cls, sizeof cls}, {CKA_ID, idCopy.data(), idCopy.size()}};
    Check(m_pFunctions->C_FindObjectsInit(s.Handle(), tmpl, 2), "C_FindObjectsInit");
    CK_OBJECT_HANDLE found[16];
    CK_ULONG n = 0;
    CK_RV rv = m_pFunctions->C_FindObjects(s.Handle(), found, 16, &n);
    m_pFunctions->C_FindObjectsFinal(s.Handle());
    Check(rv, "C_FindObjects");
    for (CK_ULONG i = 0; i < n; ++i)
        Check(m_pFunctions->C_DestroyObject(s.Handle(), found[i]), "C_DestroyObject");
}

std::vector<CSoftHsmToken::Object> CSoftHsmToken::Objects()
{
    CSession s(m_pFunctions, m_workSlot);
    Check(m_pFunctions->C_FindObjectsInit(s.Handle(), nullptr, 0), "C_FindObjectsInit");
    std::vector<CK_OBJECT_HANDLE> handles;
    for (;;) {
        CK_OBJECT_HANDLE batch[64];
        CK_ULONG n = 0;
        Check(m_pFunctions->C_FindObjects(s.Handle(), batch, 64, &n), "C_FindObjects");
        if (n == 0)
            break;
        handles.insert(handles.end(), batch, batch + n);
    }
    m_pFunctions->C_FindObjectsFinal(s.Handle());

    std::vector<Object> objects;
    for (CK_OBJECT_HANDLE h : handles) {
        Object o;
        CK_ATTRIBUTE sizes[] = {{CKA_CLASS, &o.cls, sizeof o.cls}, {CKA_ID, nullptr, 0}, {CKA_LABEL, nullptr, 0}};
        Check(m_pFunctions->C_GetAttributeValue(s.Handle(), h, sizes, 3), "C_GetAttributeValue");
        o.id.resize(sizes[1].ulValueLen);
        o.label.resize(sizes[2].ulValueLen);
        CK_ATTRIBUTE values[] = {{CKA_ID, o.id.data(), o.id.size()}, {CKA_LABEL, o.label.data(), o.label.size()}};
        Check(m_pFunctions->C_GetAttributeValue(s.Handle(), h, values, 2), "C_GetAttributeValue");
        if (o.cls == CKO_CERTIFICATE) {
            CK_ATTRIBUTE v = {CKA_VALUE, nullptr, 0};
            Check(m_pFunctions->C_GetAttributeValue(s.Handle(), h, &v, 1), "C_GetAttributeValue");
            o.value.resize(v.ulValueLen);
            v.pValue = o.value.data();
            Check(m_pFunctions->C_GetAttributeValue(s.Handle(), h, &v, 1), "C_GetAttributeValue");
        }
        if (o.cls == CKO_PUBLIC_KEY || o.cls == CKO_PRIVATE_KEY) {
            CK_ATTRIBUTE t = {CKA_KEY_TYPE, &o.keyType, sizeof o.keyType};
            Check(m_pFunctions->C_GetAttributeValue(s.Handle(), h, &t, 1), "C_GetAttributeValue");
        }
        objects.push_back(std::move(o));
    }
    return objects;
}

std::size_t CSoftHsmToken::Count(CK_OBJECT_CLASS cls, const Bytes& id)
{
    std::size_t n = 0;
    for (const Object& o : Objects())
        n += o.cls == cls && o.id == id ? 1 : 0;
    return n;
}

std::size_t CSoftHsmToken::Count(CK_OBJECT_CLASS cls, const Bytes& id, CK_KEY_TYPE keyType)
{
    std::size_t n = 0;
    for (const Object& o : Objects())
        n += o.cls == cls && o.id == id && o.keyType == keyType ? 1 : 0;
    return n;
}

std::size_t CSoftHsmToken::Count(CK_OBJECT_CLASS cls)
{
    std::size_t n = 0;
    for (const Object& o : Objects())
        n += o.cls == cls ? 1 : 0;
    return n;
}

}  // namespace testsupport
