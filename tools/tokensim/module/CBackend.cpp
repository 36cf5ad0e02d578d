#include "CBackend.h"

#include <algorithm>
#include <cstdio>

// Not finalised here: when the program exits without C_Finalize, the
// backend's own statics may already be gone.
CBackend::~CBackend() = default;

CK_RV CBackend::Initialize(const std::string& path)
{
    if (m_pList == nullptr || path != m_strPath) {
        CK_RV rv = Load(path);
        if (rv != CKR_OK)
            return rv;
    }
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK;
    CK_RV rv = Call(&CK_FUNCTION_LIST::C_Initialize, &args);
    m_bOwnsInit = rv == CKR_OK;
    return rv == CKR_CRYPTOKI_ALREADY_INITIALIZED ? CKR_OK : rv;
}

CK_RV CBackend::Load(const std::string& path)
{
    m_pList = nullptr;
    m_strPath = path;
    if (m_library.Load(path.c_str()) != 0) {
        std::fprintf(stderr, "tokensim: cannot load %s: %s\n", path.c_str(), m_library.LastError().c_str());
        return CKR_GENERAL_ERROR;
    }
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(m_library.Symbol("C_GetFunctionList"));
    if (getList == nullptr || getList(&m_pList) != CKR_OK || m_pList == nullptr) {
        std::fprintf(stderr, "tokensim: %s has no function list\n", path.c_str());
        m_pList = nullptr;
        return CKR_GENERAL_ERROR;
    }
    return CKR_OK;
}

void CBackend::Finalize()
{
    if (m_bOwnsInit)
        Call(&CK_FUNCTION_LIST::C_Finalize, nullptr);
    m_bOwnsInit = false;
}

std::vector<CK_SLOT_ID> CBackend::Slots(ESlots which) const
{
    CK_ULONG count = 0;
    if (Call(&CK_FUNCTION_LIST::C_GetSlotList, CK_FALSE, nullptr, &count) != CKR_OK)
        return {};
    std::vector<CK_SLOT_ID> slots(count);
    if (Call(&CK_FUNCTION_LIST::C_GetSlotList, CK_FALSE, slots.data(), &count) != CKR_OK)
        return {};
    slots.resize(count);
    if (which == ESlots::Initialised)
        std::erase_if(slots, [this](CK_SLOT_ID s) { return !HasInitialisedToken(s); });
    else if (which == ESlots::UninitialisedFirst)
        std::stable_partition(slots.begin(), slots.end(), [this](CK_SLOT_ID s) { return !HasInitialisedToken(s); });
    return slots;
}

bool CBackend::HasInitialisedToken(CK_SLOT_ID slot) const
{
    CK_TOKEN_INFO info{};
    return Call(&CK_FUNCTION_LIST::C_GetTokenInfo, slot, &info) == CKR_OK && (info.flags & CKF_TOKEN_INITIALIZED);
}

std::optional<std::vector<CK_BYTE>> CBackend::ReadBytes(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                                                        CK_ATTRIBUTE_TYPE type) const
{
    CK_ATTRIBUTE attr = {type, nullptr, 0};
    if (Call(&CK_FUNCTION_LIST::C_GetAttributeValue, session, object, &attr, CK_ULONG{1}) != CKR_OK ||
        attr.ulValueLen == CK_UNAVAILABLE_INFORMATION)
        return std::nullopt;
    std::vector<CK_BYTE> bytes(attr.ulValueLen);
    attr.pValue = bytes.data();
    if (Call(&CK_FUNCTION_LIST::C_GetAttributeValue, session, object, &attr, CK_ULONG{1}) != CKR_OK ||
        attr.ulValueLen > bytes.size())
        return std::nullopt;
    bytes.resize(attr.ulValueLen);
    return bytes;
}
