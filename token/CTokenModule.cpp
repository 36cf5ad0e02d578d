#include "token/CTokenModule.h"

#include <algorithm>
#include <iterator>


CTokenModule::CTokenModule() = default;

CTokenModule::~CTokenModule()
{
    // Whoever shared the module has let it go: nobody holds the lock.
    std::lock_guard<CBoundedMutex> lock(m_mutex);
    if (m_bInitialized)
        Finalize();
    Unload();
}

std::unique_lock<CBoundedMutex> CTokenModule::Acquire() const
{
    return std::unique_lock<CBoundedMutex>(m_mutex, kLockTimeout);
}

bool CTokenModule::HasFunctionList() const
{
    auto lock = Acquire();
    return lock && m_pFunctionList != nullptr;
}

CK_RV CTokenModule::WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID* slot)
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    return Call(&CK_FUNCTION_LIST::C_WaitForSlotEvent, flags, slot, nullptr);
}

CK_RV CTokenModule::GetSlotInfo(CK_SLOT_ID slotId, CK_SLOT_INFO* info)
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    return Call(&CK_FUNCTION_LIST::C_GetSlotInfo, slotId, info);
}

CK_RV CTokenModule::ReinitializeForMonitor(std::vector<CK_SLOT_ID>& present)
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    present.clear();
    if (!IsLoaded())
        return RV_NO_FUNCTION_LIST;
    CK_RV rv = Call(&CK_FUNCTION_LIST::C_Initialize, nullptr);
    if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED)
        return rv;
    m_bInitialized = true;
    CK_ULONG count = 0;
    rv = Call(&CK_FUNCTION_LIST::C_GetSlotList, CK_TRUE, nullptr, &count);
    if (rv != CKR_OK || count == 0)
        return rv;
    if (count > MAX_SLOTS)
        return CKR_FUNCTION_FAILED;
    present.resize(count);
    rv = Call(&CK_FUNCTION_LIST::C_GetSlotList, CK_TRUE, present.data(), &count);
    present.resize(rv == CKR_OK ? std::min<CK_ULONG>(count, present.size()) : 0);
    return rv;
}

std::vector<CK_SLOT_ID> CTokenModule::SlotList() const
{
    auto lock = Acquire();
    if (!lock || !m_pSlotList)
        return {};
    return std::vector<CK_SLOT_ID>(m_pSlotList.get(), m_pSlotList.get() + m_ulSlotCount);
}

unsigned long CTokenModule::SessionSerial() const
{
    return m_ulSessionSerial;
}

std::string CTokenModule::LastLoadError() const
{
    auto lock = Acquire();
    return lock ? m_hModule.LastError() : std::string();
}

CK_RV CTokenModule::Load(const char* fileName)
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    if (IsLoaded())
        return Reinitialize();
    CK_RV rv = LoadLibrary(fileName);
    if (rv != CKR_OK)
        return rv;
    rv = Call(&CK_FUNCTION_LIST::C_Initialize, nullptr);
    if (rv != CKR_OK) {
        Unload();
        return rv;
    }
    m_bInitialized = true;
    return CKR_OK;
}

CK_RV CTokenModule::LoadLibrary(const char* fileName)
{
    int error = m_hModule.Load(fileName);
    if (error != 0)
        return static_cast<CK_RV>(error);
    m_pfnGetFunctionList = reinterpret_cast<CK_C_GetFunctionList>(m_hModule.Symbol("C_GetFunctionList"));
    if (m_pfnGetFunctionList == nullptr) {
        Unload();
        return RV_NO_FUNCTION_LIST;
    }
    CK_RV rv = m_pfnGetFunctionList(&m_pFunctionList);
    if (rv == CKR_OK && m_pFunctionList == nullptr)
        rv = CKR_FUNCTION_FAILED;
    if (rv != CKR_OK) {
        Unload();
        return rv;
    }
    return CKR_OK;
}

CK_RV CTokenModule::Reinitialize()
{
    CK_RV rv = Call(&CK_FUNCTION_LIST::C_Initialize, nullptr);
    if (rv == CKR_OK || rv == CKR_CRYPTOKI_ALREADY_INITIALIZED) {
        m_bInitialized = true;
        return CKR_OK;
    }
    Unload();
    return rv;
}

CK_RV CTokenModule::GetSlotList()
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    if (!IsLoaded())
        return RV_NO_FUNCTION_LIST;

    CK_ULONG all = 0;
    CK_RV rv = Call(&CK_FUNCTION_LIST::C_GetSlotList, CK_FALSE, nullptr, &all);
    if (rv == CKR_OK && all > MAX_SLOTS)
        rv = CKR_FUNCTION_FAILED;
    if (rv != CKR_OK || all == 0) {
        Finalize();
        ReleaseSlotList();
        return rv;
    }

    auto list = std::make_unique<CK_SLOT_ID[]>(all);
    CK_ULONG present = all;
    rv = Call(&CK_FUNCTION_LIST::C_GetSlotList, CK_TRUE, list.get(), &present);
    if (rv == CKR_OK && present > all)
        rv = CKR_FUNCTION_FAILED;  // more than it was given room for
    if (rv == CKR_OK && present >= 1) {
        m_pSlotList = std::move(list);
        m_ulSlotCount = present;
        return CKR_OK;
    }
    Finalize();
    ReleaseSlotList();
    return rv;
}

CK_RV CTokenModule::GetTokenInfo(CK_SLOT_ID slotId, CK_TOKEN_INFO* info)
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    return Call(&CK_FUNCTION_LIST::C_GetTokenInfo, slotId, info);
}

CK_RV CTokenModule::OpenSession(CK_ULONG index)
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    if (index >= m_ulSlotCount || index >= MAX_SESSIONS)
        return CKR_ARGUMENTS_BAD;
    // A session left open would pile up in the module and keep its login alive.
    if (m_hSessions[index] != CK_INVALID_HANDLE) {
        Call(&CK_FUNCTION_LIST::C_CloseSession, m_hSessions[index]);
        m_hSessions[index] = CK_INVALID_HANDLE;
    }
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    CK_RV rv = Call(&CK_FUNCTION_LIST::C_OpenSession, m_pSlotList[index], CKF_SERIAL_SESSION | CKF_RW_SESSION,
                    nullptr, nullptr, &session);
    if (rv == CKR_OK)
        m_hSessions[index] = session;
    ++m_ulSessionSerial;
    return rv;
}

CK_RV CTokenModule::Login(CK_ULONG index, const unsigned char* pin, CK_ULONG pinLen)
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    if (index >= MAX_SESSIONS)
        return CKR_ARGUMENTS_BAD;
    CK_RV rv = Call(&CK_FUNCTION_LIST::C_Login, m_hSessions[index], CKU_USER, const_cast<CK_UTF8CHAR_PTR>(pin),
                    pinLen);
    return rv == CKR_USER_ALREADY_LOGGED_IN ? CKR_OK : rv;
}

CK_RV CTokenModule::FindCertificates(CK_SESSION_HANDLE session, CK_ULONG* count)
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    if (count == nullptr)
        return CKR_ARGUMENTS_BAD;
    CK_OBJECT_CLASS certClass = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE certType = CKC_X_509;
    CK_ATTRIBUTE tmpl[] = {
        {CKA_CLASS, &certClass, sizeof certClass},
        {CKA_CERTIFICATE_TYPE, &certType, sizeof certType},
    };
    CK_RV rv = Call(&CK_FUNCTION_LIST::C_FindObjectsInit, session, tmpl, CK_ULONG{2});
    if (rv != CKR_OK)
        return rv;
    // No handle of an earlier search may pass for one of this search.
    std::fill(std::begin(m_hCerts), std::end(m_hCerts), CK_INVALID_HANDLE);
    CK_ULONG found = 0;
    rv = Call(&CK_FUNCTION_LIST::C_FindObjects, session, m_hCerts, MAX_CERTS, &found);
    Call(&CK_FUNCTION_LIST::C_FindObjectsFinal, session);
    // A module may claim more than it was asked for; only MAX_CERTS handles exist.
    *count = rv == CKR_OK ? std::min(found, MAX_CERTS) : 0;
    return rv;
}

CK_RV CTokenModule::ReadCertificate(CK_ULONG index, unsigned char* value, CK_ULONG* valueLen, unsigned char* id,
                                    CK_ULONG* idLen)
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    if (index >= MAX_CERTS || valueLen == nullptr || idLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    CK_ATTRIBUTE attrs[] = {
        {CKA_VALUE, nullptr, 0},
        {CKA_ID, nullptr, 0},
    };
    CK_RV rv = Call(&CK_FUNCTION_LIST::C_GetAttributeValue, m_hSessions[0], m_hCerts[index], attrs, CK_ULONG{2});
    if (rv != CKR_OK)
        return rv;
    // CK_UNAVAILABLE_INFORMATION or an absurd size would overflow the
    // callers' "length + 1" buffers or exhaust memory.
    if (attrs[0].ulValueLen > MAX_ATTRIBUTE_LEN || attrs[1].ulValueLen > MAX_ATTRIBUTE_LEN)
        return RV_BAD_LENGTH;
    if (value == nullptr && id == nullptr) {
        *valueLen = attrs[0].ulValueLen;
        *idLen = attrs[1].ulValueLen;
        return CKR_OK;
    }
    if (*valueLen < attrs[0].ulValueLen || *idLen < attrs[1].ulValueLen)
        return RV_BUFFER_TOO_SMALL;
    attrs[0].pValue = value;
    attrs[1].pValue = id;
    return Call(&CK_FUNCTION_LIST::C_GetAttributeValue, m_hSessions[0], m_hCerts[index], attrs, CK_ULONG{2});
}

CK_RV CTokenModule::DestroyCertificate(CK_OBJECT_HANDLE cert)
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    return Call(&CK_FUNCTION_LIST::C_DestroyObject, m_hSessions[0], cert);
}

CK_RV CTokenModule::FindPubKey(CK_SESSION_HANDLE session, const unsigned char* id, CK_ULONG idLen,
                               CK_KEY_TYPE keyType)
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    return FindKey(session, CKO_PUBLIC_KEY, keyType, id, idLen, m_hPubKey);
}

CK_RV CTokenModule::FindPrivKey(CK_SESSION_HANDLE session, const unsigned char* id, CK_ULONG idLen,
                                CK_KEY_TYPE keyType)
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    return FindKey(session, CKO_PRIVATE_KEY, keyType, id, idLen, m_hPrivKey);
}

CK_RV CTokenModule::FindKey(CK_SESSION_HANDLE session, CK_OBJECT_CLASS keyClass, CK_KEY_TYPE keyType,
                            const unsigned char* id, CK_ULONG idLen, CK_OBJECT_HANDLE& target)
{
    // Emptied first, so a search that finds nothing can never leave the key
    // of an earlier search behind for the destroy that follows.
    target = CK_INVALID_HANDLE;
    if (id == nullptr)
        return CKR_ARGUMENTS_BAD;
    CK_ATTRIBUTE tmpl[] = {
        {CKA_CLASS, &keyClass, sizeof keyClass},
        {CKA_KEY_TYPE, &keyType, sizeof keyType},
        {CKA_ID, const_cast<unsigned char*>(id), idLen},
    };
    CK_RV rv = Call(&CK_FUNCTION_LIST::C_FindObjectsInit, session, tmpl, CK_ULONG{3});
    if (rv != CKR_OK)
        return rv;
    CK_OBJECT_HANDLE found = CK_INVALID_HANDLE;
    CK_ULONG count = 0;
    rv = Call(&CK_FUNCTION_LIST::C_FindObjects, session, &found, CK_ULONG{1}, &count);
    Call(&CK_FUNCTION_LIST::C_FindObjectsFinal, session);
    if (rv != CKR_OK)
        return rv;
    if (count == 0 || found == CK_INVALID_HANDLE)
        return RV_KEY_NOT_FOUND;
    target = found;
    return CKR_OK;
}

CK_RV CTokenModule::FindCertificatesWithId(CK_SESSION_HANDLE session, const unsigned char* id, CK_ULONG idLen,
                                           std::vector<CK_OBJECT_HANDLE>& found)
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    found.clear();
    if (id == nullptr && idLen != 0)
        return CKR_ARGUMENTS_BAD;
    CK_OBJECT_CLASS certClass = CKO_CERTIFICATE;
    CK_ATTRIBUTE tmpl[] = {
        {CKA_CLASS, &certClass, sizeof certClass},
        {CKA_ID, const_cast<unsigned char*>(id), idLen},
    };
    CK_RV rv = Call(&CK_FUNCTION_LIST::C_FindObjectsInit, session, tmpl, CK_ULONG{2});
    if (rv != CKR_OK)
        return rv;
    CK_OBJECT_HANDLE batch[16];
    while (found.size() < MAX_ID_MATCHES) {
        CK_ULONG count = 0;
        rv = Call(&CK_FUNCTION_LIST::C_FindObjects, session, batch, CK_ULONG{std::size(batch)}, &count);
        // A module may claim more than it was given room for.
        count = std::min<CK_ULONG>(count, std::size(batch));
        if (rv != CKR_OK || count == 0)
            break;
        found.insert(found.end(), batch, batch + count);
    }
    Call(&CK_FUNCTION_LIST::C_FindObjectsFinal, session);
    if (rv != CKR_OK)
        found.clear();
    return rv;
}

CK_RV CTokenModule::DestroyPubKey()
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    return DestroyKey(m_hPubKey);
}

CK_RV CTokenModule::DestroyPrivKey()
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    return DestroyKey(m_hPrivKey);
}

CK_RV CTokenModule::DestroyKey(CK_OBJECT_HANDLE& key)
{
    if (key == CK_INVALID_HANDLE)
        return RV_KEY_NOT_FOUND;
    CK_RV rv = Call(&CK_FUNCTION_LIST::C_DestroyObject, m_hSessions[0], key);
    // A handle is used once: a later destroy must find its key anew.
    key = CK_INVALID_HANDLE;
    return rv;
}

CK_RV CTokenModule::Close()
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    if (m_hSessions[0] == CK_INVALID_HANDLE)
        return CKR_OK;
    Call(&CK_FUNCTION_LIST::C_CloseSession, m_hSessions[0]);
    m_hSessions[0] = CK_INVALID_HANDLE;
    Finalize();
    ReleaseSlotList();
    return CKR_OK;
}

void CTokenModule::Finalize()
{
    Call(&CK_FUNCTION_LIST::C_Finalize, nullptr);
    m_bInitialized = false;
    // Every session ends with the module's finalisation.
    ForgetSessions();
}

void CTokenModule::ForgetSessions()
{
    ++m_ulSessionSerial;
    std::fill(std::begin(m_hSessions), std::end(m_hSessions), CK_INVALID_HANDLE);
    m_hPubKey = CK_INVALID_HANDLE;
    m_hPrivKey = CK_INVALID_HANDLE;
}

void CTokenModule::ReleaseSlotList()
{
    m_pSlotList.reset();
    m_ulSlotCount = 0;
}

void CTokenModule::Unload()
{
    ReleaseSlotList();
    ForgetSessions();
    m_pFunctionList = nullptr;
    m_pfnGetFunctionList = nullptr;
    m_hModule.Free();
    std::fill(std::begin(m_hCerts), std::end(m_hCerts), CK_INVALID_HANDLE);
    m_ulCertCount = 0;
    m_bInitialized = false;
}
