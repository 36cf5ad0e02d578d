#include "token/CTokenModule.h"

#include "token/CObjectDestroyer.h"

#include <algorithm>
#include <iterator>

namespace {

using ETopic = CTokenLog::ETopic;

}  // namespace

CTokenModule::CTokenModule(std::chrono::milliseconds lockTimeout) : m_library(lockTimeout) {}

// The library finalises and unloads the module as it goes.
CTokenModule::~CTokenModule() = default;

bool CTokenModule::HasFunctionList() const
{
    std::optional<CGuard> module = m_library.Lock();
    return module && module->HasFunctionList();
}

CK_RV CTokenModule::WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID* slot, EOrigin* origin)
{
    return CallForMonitor(origin, &CK_FUNCTION_LIST::C_WaitForSlotEvent, flags, slot, nullptr);
}

CK_RV CTokenModule::GetSlotInfo(CK_SLOT_ID slotId, CK_SLOT_INFO* info, EOrigin* origin)
{
    return CallForMonitor(origin, &CK_FUNCTION_LIST::C_GetSlotInfo, slotId, info);
}

CK_RV CTokenModule::ReinitializeForMonitor(std::vector<CK_SLOT_ID>& present, EOrigin* origin)
{
    SetOrigin(origin, EOrigin::Wrapper);
    return m_library.Run([&](CGuard& module) -> CK_RV {
        present.clear();
        if (!module.IsLoaded())
            return RV_NO_FUNCTION_LIST;
        SetOrigin(origin, EOrigin::Module);
        CK_RV rv = module.Reinitialize();
        if (rv != CKR_OK)
            return rv;
        return m_slots.PresentSlots(module, present);
    });
}

CK_RV CTokenModule::ListPresentSlots(std::vector<CK_SLOT_ID>& present, EOrigin* origin)
{
    SetOrigin(origin, EOrigin::Wrapper);
    return m_library.Run([&](CGuard& module) -> CK_RV {
        if (!module.HasFunctionList())
            return RV_NO_FUNCTION_LIST;
        SetOrigin(origin, EOrigin::Module);
        return CSlotSelection::PollPresent(module, present);
    });
}

CK_RV CTokenModule::ReadTokenInfo(CK_SLOT_ID slotId, CK_TOKEN_INFO* info, EOrigin* origin)
{
    return CallForMonitor(origin, &CK_FUNCTION_LIST::C_GetTokenInfo, slotId, info);
}

CK_RV CTokenModule::WatchToken(CK_SLOT_ID slotId, EOrigin* origin)
{
    SetOrigin(origin, EOrigin::Wrapper);
    return m_library.Run([&](CGuard& module) -> CK_RV {
        if (!module.HasFunctionList())
            return RV_NO_FUNCTION_LIST;
        SetOrigin(origin, EOrigin::Module);
        return m_watch.Watch(module, slotId, m_hSessions);
    });
}

CK_RV CTokenModule::CheckWatch(CK_SLOT_ID slotId, EWatch* watch, EOrigin* origin)
{
    SetOrigin(origin, EOrigin::Wrapper);
    return m_library.Run([&](CGuard& module) -> CK_RV {
        if (!module.HasFunctionList())
            return RV_NO_FUNCTION_LIST;
        SetOrigin(origin, EOrigin::Module);
        return m_watch.Check(module, slotId, m_hSessions, *watch);
    });
}

void CTokenModule::EndWatches()
{
    m_library.Run([&](CGuard& module) -> CK_RV {
        m_watch.CloseAll(module, m_hSessions);
        return CKR_OK;
    });
}

void CTokenModule::SetRemovableOnly(bool bOnly)
{
    std::optional<CGuard> module = m_library.Lock();
    if (module)
        m_slots.SetRemovableOnly(bOnly);
}

std::vector<CK_SLOT_ID> CTokenModule::SlotList() const
{
    std::optional<CGuard> module = m_library.Lock();
    if (!module || m_slots.Count() == 0)
        return {};
    return m_slots.Present();
}

unsigned long CTokenModule::SessionSerial() const
{
    return m_ulSessionSerial;
}

SLoadResult CTokenModule::Load(const char* fileName)
{
    std::optional<CGuard> module = m_library.Lock();
    if (!module)
        return SLoadResult::Failed(SLoadResult::EStep::Busy, RV_MODULE_BUSY);
    SLoadResult result = module->Load(fileName);
    // A failed load leaves the library unloaded.
    if (!result.Loaded())
        Empty();
    return result;
}

void CTokenModule::SetTokenChoice(CTokenChoice choice)
{
    std::optional<CGuard> module = m_library.Lock();
    if (module)
        m_slots.SetTokenChoice(std::move(choice));
}

CK_RV CTokenModule::GetSlotList()
{
    return m_library.Run([this](CGuard& module) -> CK_RV {
        if (!module.IsLoaded())
            return RV_NO_FUNCTION_LIST;
        CK_RV rv = m_slots.List(module);
        if (m_slots.Count() == 0) {
            Finalize(module);
            ReleaseSlotList();
            return rv;
        }
        m_ulSlotCount = m_slots.Count();
        return CKR_OK;
    });
}

std::optional<STokenIdentity> CTokenModule::ListedToken() const
{
    std::optional<CGuard> module = m_library.Lock();
    if (!module || m_ulSlotCount == 0)
        return std::nullopt;
    return m_slots.ListedToken();
}

CK_RV CTokenModule::ReadTokenIdentity(CK_ULONG index, STokenIdentity& identity)
{
    return m_library.Run([&](CGuard& module) -> CK_RV {
        if (index >= m_ulSlotCount)
            return CKR_ARGUMENTS_BAD;
        const CK_SLOT_ID slot = m_slots.Slot(index);
        CK_TOKEN_INFO info{};
        CK_RV rv = module.Step("ReadTokenIdentity", "C_GetTokenInfo", slot, &CK_FUNCTION_LIST::C_GetTokenInfo, slot,
                               &info);
        if (rv == CKR_OK)
            identity = STokenIdentity::Of(info);
        return rv;
    });
}

CK_RV CTokenModule::ListTokens(const CTokenChoice& choice, std::vector<STokenIdentity>& tokens)
{
    return m_library.Run([&](CGuard& module) -> CK_RV {
        tokens.clear();
        if (!module.IsLoaded())
            return RV_NO_FUNCTION_LIST;
        return m_slots.ListTokens(module, choice, tokens);
    });
}

CK_RV CTokenModule::GetTokenInfo(CK_SLOT_ID slotId, CK_TOKEN_INFO* info)
{
    return m_library.Run([&](CGuard& module) -> CK_RV {
        return module.Step("GetTokenInfo", "C_GetTokenInfo", slotId, &CK_FUNCTION_LIST::C_GetTokenInfo, slotId, info);
    });
}

CK_RV CTokenModule::OpenSession(CK_ULONG index, EAccess access)
{
    return m_library.Run([&](CGuard& module) -> CK_RV {
        if (index >= m_ulSlotCount || index >= MAX_SESSIONS)
            return CKR_ARGUMENTS_BAD;
        const CK_SLOT_ID slot = m_slots.Slot(index);
        // A session left open would pile up in the module and keep its login alive.
        if (m_hSessions[index] != CK_INVALID_HANDLE) {
            module.Step("OpenSession", "C_CloseSession", slot, &CK_FUNCTION_LIST::C_CloseSession, m_hSessions[index]);
            m_hSessions[index] = CK_INVALID_HANDLE;
        }
        CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
        const CK_FLAGS flags = CKF_SERIAL_SESSION | (access == EAccess::ReadWrite ? CKF_RW_SESSION : 0);
        CK_RV rv = module.Step("OpenSession", "C_OpenSession", slot, &CK_FUNCTION_LIST::C_OpenSession, slot, flags,
                               nullptr, nullptr, &session);
        if (rv == CKR_OK)
            m_hSessions[index] = session;
        m_eSessionAccess[index] = rv == CKR_OK ? access : EAccess::Read;
        ++m_ulSessionSerial;
        return rv;
    });
}

CK_RV CTokenModule::Login(CK_ULONG index, const unsigned char* pin, CK_ULONG pinLen)
{
    return m_library.Run([&](CGuard& module) -> CK_RV {
        if (index >= MAX_SESSIONS)
            return CKR_ARGUMENTS_BAD;
        if (pin == nullptr)
            module.RefuseOthers();
        // The PIN itself is never logged.
        CK_RV rv = module.Call(&CK_FUNCTION_LIST::C_Login, m_hSessions[index], CKU_USER,
                               const_cast<CK_UTF8CHAR_PTR>(pin), pinLen);
        if (rv == CKR_USER_ALREADY_LOGGED_IN)
            module.Log().Debug(ETopic::Token, "Login: already logged in");
        else if (rv != CKR_OK)
            module.Log().Failed("Login", "C_Login", SessionSlot(), rv);
        return rv == CKR_USER_ALREADY_LOGGED_IN ? CKR_OK : rv;
    });
}

CK_RV CTokenModule::Logout(CK_ULONG index)
{
    return m_library.Run([&](CGuard& module) -> CK_RV {
        if (index >= MAX_SESSIONS)
            return CKR_ARGUMENTS_BAD;
        CK_RV rv = module.Call(&CK_FUNCTION_LIST::C_Logout, m_hSessions[index]);
        if (rv != CKR_OK && rv != CKR_USER_NOT_LOGGED_IN)
            module.Log().Failed("Logout", "C_Logout", SessionSlot(), rv);
        return rv == CKR_USER_NOT_LOGGED_IN ? CKR_OK : rv;
    });
}

CK_RV CTokenModule::FindCertificates(CK_SESSION_HANDLE session, CK_ULONG* count)
{
    return m_library.Run([&](CGuard& module) -> CK_RV {
        if (count == nullptr)
            return CKR_ARGUMENTS_BAD;
        CK_RV rv = CObjectSearch(module, SessionSlot()).FindCertificates(session, m_hCerts);
        *count = CertCount();
        return rv;
    });
}

CK_RV CTokenModule::ReadCertificate(CK_ULONG index, unsigned char* value, CK_ULONG* valueLen, unsigned char* id,
                                    CK_ULONG* idLen)
{
    return m_library.Run([&](CGuard& module) -> CK_RV {
        if (index >= m_hCerts.size() || valueLen == nullptr || idLen == nullptr)
            return CKR_ARGUMENTS_BAD;
        return CObjectSearch(module, SessionSlot())
            .ReadCertificate(m_hSessions[0], m_hCerts[index], value, valueLen, id, idLen);
    });
}

CK_RV CTokenModule::FindCertificatesWithId(CK_SESSION_HANDLE session, const unsigned char* id, CK_ULONG idLen,
                                           std::vector<CK_OBJECT_HANDLE>& found)
{
    return m_library.Run([&](CGuard& module) -> CK_RV {
        return CObjectSearch(module, SessionSlot()).FindCertificatesWithId(session, id, idLen, found);
    });
}

CK_RV CTokenModule::DestroyCertificate(CK_OBJECT_HANDLE cert)
{
    return m_library.Run([&](CGuard& module) -> CK_RV {
        return CObjectDestroyer(module, m_hSessions[0], SessionSlot()).DestroyCertificate(cert);
    });
}

CK_RV CTokenModule::FindPubKey(CK_SESSION_HANDLE session, const unsigned char* id, CK_ULONG idLen,
                               const CCertKey& key, SFoundKeys& found)
{
    found = SFoundKeys();
    return m_library.Run([&](CGuard& module) -> CK_RV {
        return CKeyPairSearch(module, SessionSlot()).FindPubKey(session, id, idLen, key, found);
    });
}

CK_RV CTokenModule::FindPrivKey(CK_SESSION_HANDLE session, const unsigned char* id, CK_ULONG idLen,
                                const CCertKey& key, CK_KEY_TYPE pubKeyType, SFoundKeys& found)
{
    found = SFoundKeys();
    return m_library.Run([&](CGuard& module) -> CK_RV {
        return CKeyPairSearch(module, SessionSlot()).FindPrivKey(session, id, idLen, key, pubKeyType, found);
    });
}

CK_RV CTokenModule::DestroyPubKey(SFoundKeys& found)
{
    return DestroyKeys("DestroyPubKey", "public key", found);
}

CK_RV CTokenModule::DestroyPrivKey(SFoundKeys& found)
{
    return DestroyKeys("DestroyPrivKey", "private key", found);
}

CK_RV CTokenModule::DestroyKeys(const char* step, const char* what, SFoundKeys& found)
{
    // Handles are used once, busy or not: a later destroy must find its keys anew.
    std::vector<CK_OBJECT_HANDLE> keys;
    keys.swap(found.keys);
    return m_library.Run([&](CGuard& module) -> CK_RV {
        return CObjectDestroyer(module, m_hSessions[0], SessionSlot()).DestroyKeys(step, what, keys);
    });
}

CK_SLOT_ID CTokenModule::SessionSlot() const
{
    return m_ulSlotCount > 0 ? m_slots.Slot(0) : CK_UNAVAILABLE_INFORMATION;
}

CK_RV CTokenModule::Close()
{
    return m_library.Run([this](CGuard& module) -> CK_RV {
        if (m_hSessions[0] == CK_INVALID_HANDLE)
            return CKR_OK;
        module.Step("Close", "C_CloseSession", SessionSlot(), &CK_FUNCTION_LIST::C_CloseSession, m_hSessions[0]);
        m_hSessions[0] = CK_INVALID_HANDLE;
        Finalize(module);
        ReleaseSlotList();
        return CKR_OK;
    });
}

void CTokenModule::Finalize(CGuard& module)
{
    module.Finalize();
    // Every session ends with the module's finalisation.
    ForgetSessions();
}

void CTokenModule::ForgetSessions()
{
    ++m_ulSessionSerial;
    m_watch.Forget();
    std::fill(std::begin(m_hSessions), std::end(m_hSessions), CK_INVALID_HANDLE);
    std::fill(std::begin(m_eSessionAccess), std::end(m_eSessionAccess), EAccess::Read);
}

void CTokenModule::ReleaseSlotList()
{
    m_slots.Release();
    m_ulSlotCount = 0;
}

void CTokenModule::Empty()
{
    ReleaseSlotList();
    ForgetSessions();
    m_hCerts.clear();
}
