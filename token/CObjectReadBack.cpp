#include "token/CObjectReadBack.h"

#include "token/CTokenLog.h"

#include <algorithm>

namespace {

enum EAttr { kClass, kId, kKeyType };

}  // namespace

CObjectReadBack::CObjectReadBack(CK_OBJECT_CLASS ulClass, const unsigned char* id, CK_ULONG idLen,
                                 CK_KEY_TYPE keyType)
    : m_ulClass(ulClass), m_id(id, id + (id != nullptr ? idLen : 0)), m_ulKeyType(keyType)
{
}

CK_RV CObjectReadBack::ReadResult(CK_RV rv)
{
    const bool bSingleAttributes =
        rv == CKR_ATTRIBUTE_SENSITIVE || rv == CKR_ATTRIBUTE_TYPE_INVALID || rv == CKR_BUFFER_TOO_SMALL;
    return bSingleAttributes ? CKR_OK : rv;
}

CK_ATTRIBUTE* CObjectReadBack::Template()
{
    // Filled with what was not asked, so a module that writes nothing and
    // answers CKR_OK never passes for a match.
    m_ulReadClass = CK_UNAVAILABLE_INFORMATION;
    m_readId.assign(m_id.size() + 1, 0);
    std::transform(m_id.begin(), m_id.end(), m_readId.begin(), [](unsigned char b) { return static_cast<unsigned char>(~b); });
    m_ulReadKeyType = CK_UNAVAILABLE_INFORMATION;
    m_attrs = {
        {CKA_CLASS, &m_ulReadClass, sizeof m_ulReadClass},
        {CKA_ID, m_readId.data(), static_cast<CK_ULONG>(m_readId.size())},
    };
    if (IsKey())
        m_attrs.push_back({CKA_KEY_TYPE, &m_ulReadKeyType, sizeof m_ulReadKeyType});
    return m_attrs.data();
}

bool CObjectReadBack::Matches() const
{
    return ClassMatches() && IdMatches() && KeyTypeMatches();
}

bool CObjectReadBack::ClassMatches() const
{
    return m_attrs.size() > kClass && m_attrs[kClass].ulValueLen == sizeof m_ulReadClass && m_ulReadClass == m_ulClass;
}

bool CObjectReadBack::IdMatches() const
{
    return m_attrs.size() > kId && m_attrs[kId].ulValueLen == m_id.size() &&
           std::equal(m_id.begin(), m_id.end(), m_readId.begin());
}

bool CObjectReadBack::KeyTypeMatches() const
{
    if (!IsKey() || m_ulKeyType == CK_UNAVAILABLE_INFORMATION)
        return true;
    return KeyType() == m_ulKeyType;
}

CK_KEY_TYPE CObjectReadBack::KeyType() const
{
    return IsKey() && m_attrs.size() > kKeyType && m_attrs[kKeyType].ulValueLen == sizeof m_ulReadKeyType
               ? m_ulReadKeyType
               : CK_UNAVAILABLE_INFORMATION;
}

std::string CObjectReadBack::Mismatch() const
{
    if (!ClassMatches())
        return "its CKA_CLASS is not the one asked for";
    if (!IdMatches()) {
        const CK_ULONG len = m_attrs.size() > kId ? m_attrs[kId].ulValueLen : CK_UNAVAILABLE_INFORMATION;
        if (len > m_id.size())
            return "its CKA_ID is longer than " + CTokenLog::Id(m_id.data(), m_id.size()) + " or unreadable";
        return "its CKA_ID " + CTokenLog::Id(m_readId.data(), len) + " is not " +
               CTokenLog::Id(m_id.data(), m_id.size());
    }
    if (!KeyTypeMatches())
        return "its CKA_KEY_TYPE is not the one asked for";
    return "it is what was asked for";
}
