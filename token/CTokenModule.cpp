#include "token/CTokenModule.h"

#include "token/CObjectReadBack.h"
#include "token/PaddedText.h"

#include <algorithm>
#include <iterator>
#include <optional>

namespace {

using ETopic = CTokenLog::ETopic;

std::string Version(const CK_VERSION& version)
{
    return std::to_string(version.major) + "." + std::to_string(version.minor);
}

// How often a slot list that grew between its count and its listing is asked again.
constexpr int kSlotListRetries = 3;

const char* KeyClassName(CK_OBJECT_CLASS keyClass)
{
    return keyClass == CKO_PUBLIC_KEY ? "public key" : "private key";
}

}  // namespace

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
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    present.clear();
    if (!IsLoaded())
        return RV_NO_FUNCTION_LIST;
    SetOrigin(origin, EOrigin::Module);
    CK_RV rv = Call(&CK_FUNCTION_LIST::C_Initialize, nullptr);
    if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED)
        return rv;
    m_bInitialized = true;
    // Asked again when a token came between the count and the list.
    for (int pair = 0; pair <= kSlotListRetries; ++pair) {
        CK_ULONG count = 0;
        present.clear();
        rv = Call(&CK_FUNCTION_LIST::C_GetSlotList, CK_TRUE, nullptr, &count);
        if (rv != CKR_OK || count == 0)
            return rv;
        if (count > MAX_SLOTS)
            return CKR_FUNCTION_FAILED;
        present.resize(count);
        rv = Call(&CK_FUNCTION_LIST::C_GetSlotList, CK_TRUE, present.data(), &count);
        present.resize(rv == CKR_OK ? std::min<CK_ULONG>(count, present.size()) : 0);
        if (rv != CKR_BUFFER_TOO_SMALL)
            break;
    }
    return rv;
}

std::vector<CK_SLOT_ID> CTokenModule::SlotList() const
{
    auto lock = Acquire();
    if (!lock || !m_pSlotList)
        return {};
    return m_presentSlots;
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

CTokenModule::ELoadStep CTokenModule::LastLoadStep() const
{
    auto lock = Acquire();
    return lock ? m_eLoadStep : ELoadStep::None;
}

CK_RV CTokenModule::Load(const char* fileName)
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    m_eLoadStep = ELoadStep::None;
    if (IsLoaded())
        return Reinitialize();
    CK_RV rv = LoadLibrary(fileName);
    if (rv != CKR_OK)
        return rv;
    rv = Call(&CK_FUNCTION_LIST::C_Initialize, nullptr);
    // Initialised already, by whoever: the module is ready for use all the same.
    if (rv == CKR_CRYPTOKI_ALREADY_INITIALIZED) {
        m_log.Debug(ETopic::Token, "Load: the module was initialised already");
        rv = CKR_OK;
    }
    if (rv != CKR_OK) {
        m_log.Failed("Load", "C_Initialize", CK_UNAVAILABLE_INFORMATION, rv);
        m_eLoadStep = ELoadStep::Initialize;
        Unload();
        return rv;
    }
    m_bInitialized = true;
    LogModuleInfo(fileName);
    return CKR_OK;
}

CK_RV CTokenModule::LoadLibrary(const char* fileName)
{
    // Never unmapped: modules leave threads running after C_Finalize.
    int error = m_hModule.Load(fileName, CLibrary::ELifetime::Process);
    if (error != 0) {
        m_eLoadStep = ELoadStep::Library;
        m_log.Debug(ETopic::Token, "Load: " + m_hModule.LastError());
        return static_cast<CK_RV>(error);
    }
    m_pfnGetFunctionList = reinterpret_cast<CK_C_GetFunctionList>(m_hModule.Symbol("C_GetFunctionList"));
    if (m_pfnGetFunctionList == nullptr) {
        m_eLoadStep = ELoadStep::EntryPoint;
        m_log.Debug(ETopic::Token, "Load: no C_GetFunctionList in " + CLibrary::ResolvePath(fileName));
        Unload();
        return RV_NO_FUNCTION_LIST;
    }
    CK_RV rv = m_pfnGetFunctionList(&m_pFunctionList);
    m_eLoadStep = ELoadStep::FunctionList;
    if (rv == CKR_OK && m_pFunctionList == nullptr) {
        m_eLoadStep = ELoadStep::NullFunctionList;
        rv = CKR_FUNCTION_FAILED;
    }
    if (rv != CKR_OK) {
        m_log.Failed("Load", "C_GetFunctionList", CK_UNAVAILABLE_INFORMATION, rv);
        Unload();
        return rv;
    }
    m_eLoadStep = ELoadStep::None;
    return CKR_OK;
}

// What the module says of itself, when anyone reads the log.
void CTokenModule::LogModuleInfo(const char* fileName) const
{
    if (!m_log.On(ETopic::Token))
        return;
    CK_INFO info{};
    if (Step("Load", "C_GetInfo", CK_UNAVAILABLE_INFORMATION, &CK_FUNCTION_LIST::C_GetInfo, &info) != CKR_OK)
        return;
    m_log.Debug(ETopic::Token, "Load: " + CLibrary::ResolvePath(fileName) + ": " + PaddedText(info.manufacturerID) +
                                   ", " + PaddedText(info.libraryDescription) + " " + Version(info.libraryVersion) +
                                   ", Cryptoki " + Version(info.cryptokiVersion));
}

CK_RV CTokenModule::Reinitialize()
{
    CK_RV rv = Call(&CK_FUNCTION_LIST::C_Initialize, nullptr);
    if (rv == CKR_OK || rv == CKR_CRYPTOKI_ALREADY_INITIALIZED) {
        m_bInitialized = true;
        return CKR_OK;
    }
    m_eLoadStep = ELoadStep::Initialize;
    m_log.Failed("Load", "C_Initialize", CK_UNAVAILABLE_INFORMATION, rv);
    Unload();
    return rv;
}

void CTokenModule::SetTokenChoice(CTokenChoice choice)
{
    auto lock = Acquire();
    if (lock)
        m_tokenChoice = std::move(choice);
}

CK_RV CTokenModule::GetSlotList()
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    if (!IsLoaded())
        return RV_NO_FUNCTION_LIST;

    std::vector<CK_SLOT_ID> present;
    CK_RV rv = PresentSlots(present);
    std::vector<CK_SLOT_ID> accepted;
    if (rv == CKR_OK)
        accepted = AcceptedSlots(present);
    if (accepted.empty()) {
        Finalize();
        ReleaseSlotList();
        return rv;
    }
    m_presentSlots = std::move(present);
    m_pSlotList = std::make_unique<CK_SLOT_ID[]>(accepted.size());
    std::copy(accepted.begin(), accepted.end(), m_pSlotList.get());
    m_ulSlotCount = accepted.size();
    return CKR_OK;
}

// The slots holding a token, as the module lists them.
CK_RV CTokenModule::PresentSlots(std::vector<CK_SLOT_ID>& slots)
{
    const CK_SLOT_ID none = CK_UNAVAILABLE_INFORMATION;
    CK_ULONG all = 0;
    CK_RV rv = CKR_OK;
    // A token that comes between the count and the list leaves the list no
    // room: the pair is asked again, a bounded number of times.
    for (int pair = 0; pair <= kSlotListRetries; ++pair) {
        slots.clear();
        rv = Step("GetSlotList", "C_GetSlotList", none, &CK_FUNCTION_LIST::C_GetSlotList, CK_FALSE, nullptr, &all);
        if (rv == CKR_OK && all > MAX_SLOTS) {
            m_log.Debug(ETopic::Token, "GetSlotList: " + std::to_string(all) + " slots cannot be true");
            rv = CKR_FUNCTION_FAILED;
        }
        if (rv != CKR_OK || all == 0)
            return rv;
        slots.resize(all);
        CK_ULONG present = all;
        rv = Call(&CK_FUNCTION_LIST::C_GetSlotList, CK_TRUE, slots.data(), &present);
        if (rv == CKR_OK && present > all)
            rv = CKR_FUNCTION_FAILED;  // more than it was given room for
        slots.resize(rv == CKR_OK ? present : 0);
        if (rv != CKR_BUFFER_TOO_SMALL)
            break;
        m_log.Debug(ETopic::Token, "GetSlotList: the slot list grew meanwhile");
    }
    if (rv != CKR_OK)
        m_log.Failed("GetSlotList", "C_GetSlotList", none, rv);
    m_log.Debug(ETopic::Token, "GetSlotList: " + std::to_string(all) + " slots, " + std::to_string(slots.size()) +
                                   " holding a token");
    return rv;
}

// Of the present slots, those whose token the choice accepts (a token that
// does not answer is none), the token listed last first when it is there.
std::vector<CK_SLOT_ID> CTokenModule::AcceptedSlots(const std::vector<CK_SLOT_ID>& present)
{
    std::vector<std::pair<CK_SLOT_ID, STokenIdentity>> accepted;
    for (CK_SLOT_ID slot : present) {
        CK_TOKEN_INFO info{};
        if (Step("GetSlotList", "C_GetTokenInfo", slot, &CK_FUNCTION_LIST::C_GetTokenInfo, slot, &info) != CKR_OK)
            continue;
        STokenIdentity token = STokenIdentity::Of(info);
        const char* passedOver = !token.bInitialized ? "not initialised" : !m_tokenChoice.Matches(info) ? "not the URI's" : nullptr;
        m_log.Debug(ETopic::Token, "GetSlotList: slot " + std::to_string(slot) + ": " + token.strUri +
                                       (passedOver ? std::string(", passed over: ") + passedOver : std::string()));
        if (passedOver == nullptr)
            accepted.emplace_back(slot, std::move(token));
    }
    if (accepted.empty()) {
        m_log.Debug(ETopic::Token, "GetSlotList: no token to work on");
        return {};
    }
    auto listed = std::find_if(accepted.begin(), accepted.end(), [this](const auto& token) {
        return m_listedToken && token.second.IsSameToken(*m_listedToken);
    });
    if (listed != accepted.end())
        std::rotate(accepted.begin(), listed, listed + 1);
    m_listedToken = accepted.front().second;
    m_log.Debug(ETopic::Token, "GetSlotList: token '" + m_listedToken->strLabel + "', serial " +
                                   m_listedToken->strSerial + ", in slot " + std::to_string(accepted.front().first));
    std::vector<CK_SLOT_ID> slots;
    for (const auto& token : accepted)
        slots.push_back(token.first);
    return slots;
}

std::optional<STokenIdentity> CTokenModule::ListedToken() const
{
    auto lock = Acquire();
    if (!lock || m_ulSlotCount == 0)
        return std::nullopt;
    return m_listedToken;
}

CK_RV CTokenModule::ReadTokenIdentity(CK_ULONG index, STokenIdentity& identity)
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    if (index >= m_ulSlotCount)
        return CKR_ARGUMENTS_BAD;
    CK_TOKEN_INFO info{};
    CK_RV rv = Step("ReadTokenIdentity", "C_GetTokenInfo", m_pSlotList[index], &CK_FUNCTION_LIST::C_GetTokenInfo,
                    m_pSlotList[index], &info);
    if (rv == CKR_OK)
        identity = STokenIdentity::Of(info);
    return rv;
}

CK_RV CTokenModule::ListTokens(const CTokenChoice& choice, std::vector<STokenIdentity>& tokens)
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    tokens.clear();
    if (!IsLoaded())
        return RV_NO_FUNCTION_LIST;
    std::vector<CK_SLOT_ID> present;
    CK_RV rv = PresentSlots(present);
    for (CK_SLOT_ID slot : present) {
        CK_TOKEN_INFO info{};
        if (Step("ListTokens", "C_GetTokenInfo", slot, &CK_FUNCTION_LIST::C_GetTokenInfo, slot, &info) == CKR_OK &&
            choice.Matches(info))
            tokens.push_back(STokenIdentity::Of(info));
    }
    return rv;
}

CK_RV CTokenModule::GetTokenInfo(CK_SLOT_ID slotId, CK_TOKEN_INFO* info)
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    return Step("GetTokenInfo", "C_GetTokenInfo", slotId, &CK_FUNCTION_LIST::C_GetTokenInfo, slotId, info);
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
        Step("OpenSession", "C_CloseSession", m_pSlotList[index], &CK_FUNCTION_LIST::C_CloseSession, m_hSessions[index]);
        m_hSessions[index] = CK_INVALID_HANDLE;
    }
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    CK_RV rv = Step("OpenSession", "C_OpenSession", m_pSlotList[index], &CK_FUNCTION_LIST::C_OpenSession,
                    m_pSlotList[index], CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session);
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
    // The PIN itself is never logged.
    CK_RV rv = Call(&CK_FUNCTION_LIST::C_Login, m_hSessions[index], CKU_USER, const_cast<CK_UTF8CHAR_PTR>(pin),
                    pinLen);
    if (rv == CKR_USER_ALREADY_LOGGED_IN)
        m_log.Debug(ETopic::Token, "Login: already logged in");
    else if (rv != CKR_OK)
        m_log.Failed("Login", "C_Login", SessionSlot(), rv);
    return rv == CKR_USER_ALREADY_LOGGED_IN ? CKR_OK : rv;
}

CK_RV CTokenModule::Logout(CK_ULONG index)
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    if (index >= MAX_SESSIONS)
        return CKR_ARGUMENTS_BAD;
    CK_RV rv = Call(&CK_FUNCTION_LIST::C_Logout, m_hSessions[index]);
    if (rv != CKR_OK && rv != CKR_USER_NOT_LOGGED_IN)
        m_log.Failed("Logout", "C_Logout", SessionSlot(), rv);
    return rv == CKR_USER_NOT_LOGGED_IN ? CKR_OK : rv;
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
    const CK_SLOT_ID slot = SessionSlot();
    CK_RV rv = Step("FindCertificates", "C_FindObjectsInit", slot, &CK_FUNCTION_LIST::C_FindObjectsInit, session, tmpl,
                    CK_ULONG{2});
    if (rv != CKR_OK)
        return rv;
    // No handle of an earlier search may pass for one of this search.
    std::fill(std::begin(m_hCerts), std::end(m_hCerts), CK_INVALID_HANDLE);
    CK_ULONG found = 0;
    rv = Step("FindCertificates", "C_FindObjects", slot, &CK_FUNCTION_LIST::C_FindObjects, session, m_hCerts,
              MAX_CERTS, &found);
    Step("FindCertificates", "C_FindObjectsFinal", slot, &CK_FUNCTION_LIST::C_FindObjectsFinal, session);
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
    CK_RV rv = Step("ReadCertificate", "C_GetAttributeValue", SessionSlot(), &CK_FUNCTION_LIST::C_GetAttributeValue,
                    m_hSessions[0], m_hCerts[index], attrs, CK_ULONG{2});
    if (rv != CKR_OK)
        return rv;
    // CK_UNAVAILABLE_INFORMATION or an absurd size would overflow the
    // callers' "length + 1" buffers or exhaust memory.
    if (attrs[0].ulValueLen > MAX_ATTRIBUTE_LEN || attrs[1].ulValueLen > MAX_ATTRIBUTE_LEN) {
        m_log.Debug(ETopic::Token, "ReadCertificate: the module gave a length that cannot be true");
        return RV_BAD_LENGTH;
    }
    if (value == nullptr && id == nullptr) {
        *valueLen = attrs[0].ulValueLen;
        *idLen = attrs[1].ulValueLen;
        return CKR_OK;
    }
    if (*valueLen < attrs[0].ulValueLen || *idLen < attrs[1].ulValueLen)
        return RV_BUFFER_TOO_SMALL;
    attrs[0].pValue = value;
    attrs[1].pValue = id;
    return Step("ReadCertificate", "C_GetAttributeValue", SessionSlot(), &CK_FUNCTION_LIST::C_GetAttributeValue,
                m_hSessions[0], m_hCerts[index], attrs, CK_ULONG{2});
}

CK_RV CTokenModule::DestroyCertificate(CK_OBJECT_HANDLE cert)
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    const std::string what = m_log.On(ETopic::Removal) ? Describe(cert) : std::string();
    CK_RV rv = Step("DestroyCertificate", "C_DestroyObject", SessionSlot(), &CK_FUNCTION_LIST::C_DestroyObject,
                    m_hSessions[0], cert);
    if (rv == CKR_OK)
        m_log.Debug(ETopic::Removal, "certificate " + what + " destroyed");
    return rv;
}

CK_RV CTokenModule::FindPubKey(CK_SESSION_HANDLE session, const unsigned char* id, CK_ULONG idLen,
                               const CCertKey& key)
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    // Searched by type, a lone key whose value cannot be read is taken; by
    // class alone, only a key whose value shows it.
    return FindKeys(session, CKO_PUBLIC_KEY, id, idLen, key, key.SearchType(), m_hPubKeys, m_ulPubKeyType);
}

CK_RV CTokenModule::FindPrivKey(CK_SESSION_HANDLE session, const unsigned char* id, CK_ULONG idLen,
                                const CCertKey& key)
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    // By class alone, a lone private key whose value cannot be read is taken
    // when it is of the type the public key search showed the certificate's
    // key to have on this token.
    CK_KEY_TYPE takeable = key.SearchType() != CK_UNAVAILABLE_INFORMATION ? key.SearchType() : m_ulPubKeyType;
    CK_KEY_TYPE found = CK_UNAVAILABLE_INFORMATION;
    return FindKeys(session, CKO_PRIVATE_KEY, id, idLen, key, takeable, m_hPrivKeys, found);
}

CK_RV CTokenModule::FindKeys(CK_SESSION_HANDLE session, CK_OBJECT_CLASS keyClass, const unsigned char* id,
                             CK_ULONG idLen, const CCertKey& key, CK_KEY_TYPE takeable,
                             std::vector<CK_OBJECT_HANDLE>& target, CK_KEY_TYPE& targetType)
{
    // Emptied first, so a search that finds nothing can never leave the key
    // of an earlier search behind for the destroy that follows.
    target.clear();
    targetType = CK_UNAVAILABLE_INFORMATION;
    if (id == nullptr)
        return CKR_ARGUMENTS_BAD;
    CK_KEY_TYPE keyType = key.SearchType();
    CK_ATTRIBUTE tmpl[] = {
        {CKA_CLASS, &keyClass, sizeof keyClass},
        {CKA_KEY_TYPE, &keyType, sizeof keyType},
        {CKA_ID, const_cast<unsigned char*>(id), idLen},
    };
    // A key of no type the searches know is looked for by class and ID alone.
    const bool bTyped = keyType != CK_UNAVAILABLE_INFORMATION;
    if (!bTyped)
        tmpl[1] = tmpl[2];
    std::vector<CK_OBJECT_HANDLE> candidates;
    CK_RV rv = FindAll(session, tmpl, bTyped ? 3 : 2, candidates);
    if (rv != CKR_OK)
        return rv;
    // Past the limit there may be more than were looked at.
    if (candidates.size() >= MAX_ID_MATCHES)
        return RV_KEY_AMBIGUOUS;

    // What the search handed out counts only when it reads back as asked.
    std::vector<CK_OBJECT_HANDLE> asked;
    std::vector<CK_KEY_TYPE> askedTypes;
    for (CK_OBJECT_HANDLE candidate : candidates) {
        CObjectReadBack readBack(keyClass, id, idLen, keyType);
        rv = CObjectReadBack::ReadResult(Call(&CK_FUNCTION_LIST::C_GetAttributeValue, session, candidate,
                                              readBack.Template(), readBack.Count()));
        if (rv != CKR_OK) {
            m_log.Failed("FindKeys", "C_GetAttributeValue", SessionSlot(), rv);
            return rv;
        }
        if (readBack.Matches()) {
            asked.push_back(candidate);
            askedTypes.push_back(readBack.KeyType());
            continue;
        }
        m_log.Warning(ETopic::Removal, std::string("FindKeys: the module's search gave a ") + KeyClassName(keyClass) +
                                           " (handle " + std::to_string(candidate) +
                                           ") that is not the one asked for: " + readBack.Mismatch() + "; not taken");
    }
    candidates.swap(asked);

    std::vector<CCertKey::SKeyObject> objects(candidates.size());
    std::vector<CCertKey::EMatch> matches;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        objects[i].ulClass = keyClass;
        objects[i].ulKeyType = askedTypes[i];
        if ((rv = ReadKeyObject(session, candidates[i], objects[i])) != CKR_OK)
            return rv;
        CCertKey::EMatch match = key.Match(objects[i]);
        // A key of another type than the certificate's key has here is not its key.
        if (match == CCertKey::EMatch::Unknown &&
            (takeable == CK_UNAVAILABLE_INFORMATION || objects[i].ulKeyType != takeable))
            match = CCertKey::EMatch::Other;
        matches.push_back(match);
    }
    std::optional<std::vector<std::size_t>> chosen = CCertKey::Choose(matches);
    LogKeySearch(keyClass, id, idLen, matches, chosen);
    if (!chosen)
        return RV_KEY_AMBIGUOUS;
    for (std::size_t i : *chosen) {
        target.push_back(candidates[i]);
        // One type for all, or none told.
        targetType = target.size() == 1 || objects[i].ulKeyType == targetType ? objects[i].ulKeyType
                                                                              : CK_UNAVAILABLE_INFORMATION;
    }
    return CKR_OK;
}

// The key's type where the search left it open, then the values that tell it apart.
CK_RV CTokenModule::ReadKeyObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CCertKey::SKeyObject& key)
{
    if (key.ulKeyType == CK_UNAVAILABLE_INFORMATION) {
        CK_KEY_TYPE type = CK_UNAVAILABLE_INFORMATION;
        CK_ATTRIBUTE attr = {CKA_KEY_TYPE, &type, sizeof type};
        CK_RV rv = Call(&CK_FUNCTION_LIST::C_GetAttributeValue, session, object, &attr, CK_ULONG{1});
        if (rv != CKR_OK && rv != CKR_ATTRIBUTE_SENSITIVE && rv != CKR_ATTRIBUTE_TYPE_INVALID) {
            m_log.Failed("FindKeys", "C_GetAttributeValue", SessionSlot(), rv);
            return rv;
        }
        key.ulKeyType = rv == CKR_OK && attr.ulValueLen == sizeof type ? type : CK_UNAVAILABLE_INFORMATION;
    }
    return ReadKeyValues(session, object, key);
}

// One read of every telling attribute. A value the module keeps to itself
// (sensitive, not there, or larger than any key's) is left absent: the
// answers that say so for single attributes are no failure of the read.
CK_RV CTokenModule::ReadKeyValues(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CCertKey::SKeyObject& key)
{
    const std::vector<CK_ATTRIBUTE_TYPE> types = CCertKey::TellingAttributes(key.ulClass, key.ulKeyType);
    std::vector<std::vector<unsigned char>> values(types.size(), std::vector<unsigned char>(MAX_KEY_VALUE_LEN));
    std::vector<CK_ATTRIBUTE> attrs;
    for (std::size_t i = 0; i < types.size(); ++i)
        attrs.push_back({types[i], values[i].data(), MAX_KEY_VALUE_LEN});
    CK_RV rv = Call(&CK_FUNCTION_LIST::C_GetAttributeValue, session, object, attrs.data(),
                    static_cast<CK_ULONG>(attrs.size()));
    if (rv != CKR_OK && rv != CKR_ATTRIBUTE_SENSITIVE && rv != CKR_ATTRIBUTE_TYPE_INVALID &&
        rv != CKR_BUFFER_TOO_SMALL) {
        m_log.Failed("FindKeys", "C_GetAttributeValue", SessionSlot(), rv);
        return rv;
    }
    for (std::size_t i = 0; i < types.size(); ++i) {
        const CK_ULONG len = attrs[i].ulValueLen;
        if (len == CK_UNAVAILABLE_INFORMATION || len == 0)
            continue;
        if (len > MAX_KEY_VALUE_LEN) {
            // Too large for any key's value; said with CKR_OK, not believed.
            if (rv == CKR_BUFFER_TOO_SMALL)
                continue;
            m_log.Debug(ETopic::Token, "FindKeys: the module gave a length that cannot be true");
            return RV_BAD_LENGTH;
        }
        values[i].resize(len);
        switch (types[i]) {
        case CKA_MODULUS: key.modulus = std::move(values[i]); break;
        case CKA_PUBLIC_EXPONENT: key.exponent = std::move(values[i]); break;
        case CKA_EC_POINT: key.ecPoint = std::move(values[i]); break;
        case CKA_PUBLIC_KEY_INFO: key.publicKeyInfo = std::move(values[i]); break;
        default: break;
        }
    }
    return CKR_OK;
}

// Runs a search to its end, keeping at most MAX_ID_MATCHES handles. A
// module that hands out the same objects without end fails the search.
CK_RV CTokenModule::FindAll(CK_SESSION_HANDLE session, CK_ATTRIBUTE* tmpl, CK_ULONG count,
                            std::vector<CK_OBJECT_HANDLE>& found)
{
    found.clear();
    const CK_SLOT_ID slot = SessionSlot();
    CK_RV rv = Step("FindObjects", "C_FindObjectsInit", slot, &CK_FUNCTION_LIST::C_FindObjectsInit, session, tmpl, count);
    if (rv != CKR_OK)
        return rv;
    CK_OBJECT_HANDLE batch[16];
    bool bEnded = false;
    for (CK_ULONG calls = 0; !bEnded && calls < MAX_ID_MATCHES && found.size() < MAX_ID_MATCHES; ++calls) {
        CK_ULONG n = 0;
        std::fill(std::begin(batch), std::end(batch), CK_INVALID_HANDLE);
        rv = Step("FindObjects", "C_FindObjects", slot, &CK_FUNCTION_LIST::C_FindObjects, session, batch,
                  CK_ULONG{std::size(batch)}, &n);
        // A module may claim more than it was given room for, or more than it wrote.
        n = rv == CKR_OK ? std::min<CK_ULONG>(n, std::size(batch)) : 0;
        bEnded = n == 0;
        // A handle handed out twice is one object.
        std::copy_if(batch, batch + n, std::back_inserter(found), [&found](CK_OBJECT_HANDLE h) {
            return h != CK_INVALID_HANDLE && std::find(found.begin(), found.end(), h) == found.end();
        });
    }
    Step("FindObjects", "C_FindObjectsFinal", slot, &CK_FUNCTION_LIST::C_FindObjectsFinal, session);
    if (rv == CKR_OK && !bEnded && found.size() < MAX_ID_MATCHES) {
        m_log.Debug(ETopic::Token, "FindObjects: the search does not end");
        rv = CKR_FUNCTION_FAILED;
    }
    if (rv != CKR_OK)
        found.clear();
    return rv;
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
    CK_RV rv = FindAll(session, tmpl, CK_ULONG{2}, found);
    if (rv != CKR_OK)
        return rv;
    // A certificate counts only when it reads back as asked.
    for (auto it = found.begin(); it != found.end();) {
        CObjectReadBack readBack(CKO_CERTIFICATE, id, idLen);
        rv = CObjectReadBack::ReadResult(
            Call(&CK_FUNCTION_LIST::C_GetAttributeValue, session, *it, readBack.Template(), readBack.Count()));
        if (rv != CKR_OK) {
            m_log.Failed("FindCertificatesWithId", "C_GetAttributeValue", SessionSlot(), rv);
            found.clear();
            return rv;
        }
        if (readBack.Matches()) {
            ++it;
            continue;
        }
        m_log.Warning(ETopic::Removal, "FindCertificatesWithId: the module's search gave an object (handle " +
                                           std::to_string(*it) + ") that is not the one asked for: " +
                                           readBack.Mismatch() + "; not counted");
        it = found.erase(it);
    }
    return CKR_OK;
}

CK_RV CTokenModule::DestroyPubKey()
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    return DestroyKeys("DestroyPubKey", "public key", m_hPubKeys);
}

CK_RV CTokenModule::DestroyPrivKey()
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    return DestroyKeys("DestroyPrivKey", "private key", m_hPrivKeys);
}

CK_RV CTokenModule::DestroyKeys(const char* step, const char* what, std::vector<CK_OBJECT_HANDLE>& keys)
{
    // Handles are used once: a later destroy must find its keys anew.
    std::vector<CK_OBJECT_HANDLE> found;
    found.swap(keys);
    for (CK_OBJECT_HANDLE key : found) {
        const std::string name = m_log.On(ETopic::Removal) ? Describe(key) : std::string();
        if (CK_RV rv = Step(step, "C_DestroyObject", SessionSlot(), &CK_FUNCTION_LIST::C_DestroyObject,
                            m_hSessions[0], key);
            rv != CKR_OK)
            return rv;
        m_log.Debug(ETopic::Removal, std::string(what) + " " + name + " destroyed");
    }
    return CKR_OK;
}

// What a key search found under an ID, and what it took.
void CTokenModule::LogKeySearch(CK_OBJECT_CLASS keyClass, const unsigned char* id, CK_ULONG idLen,
                                const std::vector<CCertKey::EMatch>& matches,
                                const std::optional<std::vector<std::size_t>>& chosen) const
{
    if (!m_log.On(ETopic::Removal))
        return;
    auto count = [&matches](CCertKey::EMatch m) { return std::to_string(std::count(matches.begin(), matches.end(), m)); };
    std::string text = std::string(KeyClassName(keyClass)) + "s under id " + CTokenLog::Id(id, idLen) + ": ";
    if (matches.empty())
        text += "none found";
    else
        text += std::to_string(matches.size()) + " found, " + count(CCertKey::EMatch::Own) +
                " shown the certificate's, " + count(CCertKey::EMatch::Other) + " another key's, " +
                count(CCertKey::EMatch::Unknown) + " not telling; " +
                (chosen ? std::to_string(chosen->size()) + " taken" : std::string("cannot be told apart, none taken"));
    m_log.Debug(ETopic::Removal, text);
}

std::string CTokenModule::Describe(CK_OBJECT_HANDLE object) const
{
    CK_ATTRIBUTE attrs[] = {{CKA_LABEL, nullptr, 0}, {CKA_ID, nullptr, 0}};
    if (Call(&CK_FUNCTION_LIST::C_GetAttributeValue, m_hSessions[0], object, attrs, CK_ULONG{2}) != CKR_OK ||
        attrs[0].ulValueLen > MAX_ATTRIBUTE_LEN || attrs[1].ulValueLen > MAX_ATTRIBUTE_LEN)
        return "(handle " + std::to_string(object) + ")";
    std::vector<unsigned char> label(attrs[0].ulValueLen), id(attrs[1].ulValueLen);
    attrs[0].pValue = label.data();
    attrs[1].pValue = id.data();
    if (Call(&CK_FUNCTION_LIST::C_GetAttributeValue, m_hSessions[0], object, attrs, CK_ULONG{2}) != CKR_OK)
        return "(handle " + std::to_string(object) + ")";
    return "'" + std::string(label.begin(), label.end()) + "' id " + CTokenLog::Id(id.data(), id.size());
}

CK_SLOT_ID CTokenModule::SessionSlot() const
{
    return m_pSlotList && m_ulSlotCount > 0 ? m_pSlotList[0] : CK_UNAVAILABLE_INFORMATION;
}

CK_RV CTokenModule::Close()
{
    auto lock = Acquire();
    if (!lock)
        return RV_MODULE_BUSY;
    if (m_hSessions[0] == CK_INVALID_HANDLE)
        return CKR_OK;
    Step("Close", "C_CloseSession", SessionSlot(), &CK_FUNCTION_LIST::C_CloseSession, m_hSessions[0]);
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
    m_hPubKeys.clear();
    m_hPrivKeys.clear();
    m_ulPubKeyType = CK_UNAVAILABLE_INFORMATION;
}

void CTokenModule::ReleaseSlotList()
{
    m_pSlotList.reset();
    m_ulSlotCount = 0;
    m_presentSlots.clear();
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
