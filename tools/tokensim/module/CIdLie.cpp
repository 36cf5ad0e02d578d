#include "CIdLie.h"

#include <algorithm>

CIdLie::CIdLie(const std::string& lie)
    : m_bKeysOnly(lie.starts_with("key-")), m_bCString(lie.ends_with("-cstring"))
{
}

std::optional<CK_RV> CIdLie::Start(const CBackend& backend, CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR templ,
                                   CK_ULONG count, bool bSorted, std::optional<CSortedSearch>& search) const
{
    if (templ == nullptr && count != 0)
        return std::nullopt;
    std::vector<CK_ATTRIBUTE> all(templ, templ + count);
    auto id = std::find_if(all.begin(), all.end(), [](const CK_ATTRIBUTE& a) { return a.type == CKA_ID; });
    if (id == all.end() || id->pValue == nullptr || (m_bKeysOnly && !IsKeySearch(all)))
        return std::nullopt;
    const Bytes wanted = CString(static_cast<const CK_BYTE*>(id->pValue), id->ulValueLen);
    all.erase(id);
    CK_ATTRIBUTE_PTR withoutId = all.empty() ? nullptr : all.data();
    const auto n = static_cast<CK_ULONG>(all.size());
    if (m_bCString) {
        return CSortedSearch::RunMatching(backend, session, withoutId, n, [&](CK_OBJECT_HANDLE object) {
            std::optional<Bytes> objectId = backend.ReadBytes(session, object, CKA_ID);
            return objectId && CString(objectId->data(), objectId->size()) == wanted;
        }, search);
    }
    if (bSorted)
        return CSortedSearch::Run(backend, session, withoutId, n, search);
    return backend.Call(&CK_FUNCTION_LIST::C_FindObjectsInit, session, withoutId, n);
}

bool CIdLie::IsKeySearch(const std::vector<CK_ATTRIBUTE>& templ)
{
    return std::any_of(templ.begin(), templ.end(), [](const CK_ATTRIBUTE& a) {
        if (a.type != CKA_CLASS || a.pValue == nullptr || a.ulValueLen != sizeof(CK_OBJECT_CLASS))
            return false;
        const auto cls = *static_cast<const CK_OBJECT_CLASS*>(a.pValue);
        return cls == CKO_PUBLIC_KEY || cls == CKO_PRIVATE_KEY;
    });
}

CIdLie::Bytes CIdLie::CString(const CK_BYTE* bytes, CK_ULONG length)
{
    const CK_BYTE* end = std::find(bytes, bytes + length, CK_BYTE{0});
    return Bytes(bytes, end);
}

