#include "token/CObjectDestroyer.h"

#include "token/CObjectSearch.h"

namespace {

using ETopic = CTokenLog::ETopic;

}  // namespace

CK_RV CObjectDestroyer::DestroyCertificate(CK_OBJECT_HANDLE cert) const
{
    const std::string what = m_module.Log().On(ETopic::Removal) ? Describe(cert) : std::string();
    CK_RV rv = m_module.Step("DestroyCertificate", "C_DestroyObject", m_slot, &CK_FUNCTION_LIST::C_DestroyObject,
                             m_hSession, cert);
    if (rv == CKR_OK)
        m_module.Log().Debug(ETopic::Removal, "certificate " + what + " destroyed");
    return rv;
}

CK_RV CObjectDestroyer::DestroyKeys(const char* step, const char* what, std::vector<CK_OBJECT_HANDLE>& keys) const
{
    // Handles are used once: a later destroy must find its keys anew.
    std::vector<CK_OBJECT_HANDLE> found;
    found.swap(keys);
    for (CK_OBJECT_HANDLE key : found) {
        const std::string name = m_module.Log().On(ETopic::Removal) ? Describe(key) : std::string();
        if (CK_RV rv = m_module.Step(step, "C_DestroyObject", m_slot, &CK_FUNCTION_LIST::C_DestroyObject, m_hSession,
                                     key);
            rv != CKR_OK)
            return rv;
        m_module.Log().Debug(ETopic::Removal, std::string(what) + " " + name + " destroyed");
    }
    return CKR_OK;
}

std::string CObjectDestroyer::Describe(CK_OBJECT_HANDLE object) const
{
    const CK_ULONG maxLen = CObjectSearch::MAX_ATTRIBUTE_LEN;
    CK_ATTRIBUTE attrs[] = {{CKA_LABEL, nullptr, 0}, {CKA_ID, nullptr, 0}};
    if (m_module.Call(&CK_FUNCTION_LIST::C_GetAttributeValue, m_hSession, object, attrs, CK_ULONG{2}) != CKR_OK ||
        attrs[0].ulValueLen > maxLen || attrs[1].ulValueLen > maxLen)
        return "(handle " + std::to_string(object) + ")";
    std::vector<unsigned char> label(attrs[0].ulValueLen), id(attrs[1].ulValueLen);
    attrs[0].pValue = label.data();
    attrs[1].pValue = id.data();
    if (m_module.Call(&CK_FUNCTION_LIST::C_GetAttributeValue, m_hSession, object, attrs, CK_ULONG{2}) != CKR_OK)
        return "(handle " + std::to_string(object) + ")";
    return "'" + std::string(label.begin(), label.end()) + "' id " + CTokenLog::Id(id.data(), id.size());
}
