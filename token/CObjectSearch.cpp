#include "token/CObjectSearch.h"

#include "token/CObjectReadBack.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <unordered_set>

namespace {

using ETopic = CTokenLog::ETopic;

}  // namespace

CK_RV CObjectSearch::FindCertificates(CK_SESSION_HANDLE session, std::vector<CK_OBJECT_HANDLE>& certs) const
{
    // No handle of an earlier search may pass for one of this search.
    certs.clear();
    CK_OBJECT_CLASS certClass = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE certType = CKC_X_509;
    CK_ATTRIBUTE tmpl[] = {
        {CKA_CLASS, &certClass, sizeof certClass},
        {CKA_CERTIFICATE_TYPE, &certType, sizeof certType},
    };
    CK_RV rv = m_module.Step("FindCertificates", "C_FindObjectsInit", m_slot, &CK_FUNCTION_LIST::C_FindObjectsInit,
                             session, tmpl, CK_ULONG{2});
    if (rv != CKR_OK)
        return rv;
    std::unordered_set<CK_OBJECT_HANDLE> seen;
    CK_OBJECT_HANDLE batch[MAX_CERTS];
    bool bEnded = false;
    // Handed out anew or not, no more handles than the most certificates
    // believed of a token are asked for.
    for (CK_ULONG calls = 0; !bEnded && calls <= MAX_TOKEN_CERTS / MAX_CERTS; ++calls) {
        std::fill(std::begin(batch), std::end(batch), CK_INVALID_HANDLE);
        CK_ULONG n = 0;
        rv = m_module.Step("FindCertificates", "C_FindObjects", m_slot, &CK_FUNCTION_LIST::C_FindObjects, session, batch,
                           MAX_CERTS, &n);
        if (rv != CKR_OK)
            break;
        // A module may claim more than it was given room for, or more than it wrote.
        n = std::min(n, MAX_CERTS);
        bEnded = n < MAX_CERTS;
        // A handle handed out twice is one certificate.
        std::copy_if(batch, batch + n, std::back_inserter(certs),
                     [&seen](CK_OBJECT_HANDLE h) { return h != CK_INVALID_HANDLE && seen.insert(h).second; });
    }
    m_module.Step("FindCertificates", "C_FindObjectsFinal", m_slot, &CK_FUNCTION_LIST::C_FindObjectsFinal, session);
    if (rv == CKR_OK && (!bEnded || certs.size() > MAX_TOKEN_CERTS)) {
        m_module.Log().Debug(ETopic::Token, "FindCertificates: the search does not end");
        rv = CKR_FUNCTION_FAILED;
    }
    if (rv != CKR_OK)
        certs.clear();
    return rv;
}

CK_RV CObjectSearch::FindCertificatesWithId(CK_SESSION_HANDLE session, const unsigned char* id, CK_ULONG idLen,
                                            std::vector<CK_OBJECT_HANDLE>& found) const
{
    found.clear();
    if (id == nullptr && idLen != 0)
        return CKR_ARGUMENTS_BAD;
    CK_OBJECT_CLASS certClass = CKO_CERTIFICATE;
    CK_ATTRIBUTE tmpl[] = {
        {CKA_CLASS, &certClass, sizeof certClass},
        {CKA_ID, const_cast<unsigned char*>(id), idLen},
    };
    CK_RV rv = FindAll(session, tmpl, CK_ULONG{2}, found, MAX_TOKEN_CERTS);
    if (rv == CKR_OK && found.size() >= MAX_TOKEN_CERTS) {
        m_module.Log().Debug(ETopic::Token, "FindObjects: the search by ID does not end");
        rv = CKR_FUNCTION_FAILED;
    }
    if (rv == CKR_OK)
        rv = KeepAsked(session, CKO_CERTIFICATE, id, idLen, CK_UNAVAILABLE_INFORMATION, found);
    if (rv != CKR_OK)
        found.clear();
    return rv;
}

CK_RV CObjectSearch::KeepAsked(CK_SESSION_HANDLE session, CK_OBJECT_CLASS ulClass, const unsigned char* id,
                               CK_ULONG idLen, CK_KEY_TYPE keyType, std::vector<CK_OBJECT_HANDLE>& found,
                               std::vector<CK_KEY_TYPE>* types) const
{
    std::vector<CK_OBJECT_HANDLE> asked;
    if (types != nullptr)
        types->clear();
    for (CK_OBJECT_HANDLE object : found) {
        CObjectReadBack readBack(ulClass, id, idLen, keyType);
        CK_RV rv = CObjectReadBack::ReadResult(m_module.Call(&CK_FUNCTION_LIST::C_GetAttributeValue, session, object,
                                                             readBack.Template(), readBack.Count()));
        if (rv != CKR_OK) {
            m_module.Log().Failed("FindObjects", "C_GetAttributeValue", m_slot, rv);
            found.clear();
            return rv;
        }
        if (!readBack.Matches()) {
            m_module.Log().Warning(ETopic::Removal, "FindObjects: the module's search gave an object (handle " +
                                                        std::to_string(object) +
                                                        ") that is not the one asked for: " + readBack.Mismatch() +
                                                        "; not taken");
            continue;
        }
        asked.push_back(object);
        if (types != nullptr)
            types->push_back(readBack.KeyType());
    }
    found.swap(asked);
    return CKR_OK;
}

// A module that hands out the same objects without end fails the search.
CK_RV CObjectSearch::FindAll(CK_SESSION_HANDLE session, CK_ATTRIBUTE* tmpl, CK_ULONG count,
                             std::vector<CK_OBJECT_HANDLE>& found, CK_ULONG limit) const
{
    found.clear();
    CK_RV rv = m_module.Step("FindObjects", "C_FindObjectsInit", m_slot, &CK_FUNCTION_LIST::C_FindObjectsInit, session,
                             tmpl, count);
    if (rv != CKR_OK)
        return rv;
    CK_OBJECT_HANDLE batch[16];
    bool bEnded = false;
    for (CK_ULONG calls = 0; !bEnded && calls < limit && found.size() < limit; ++calls) {
        CK_ULONG n = 0;
        std::fill(std::begin(batch), std::end(batch), CK_INVALID_HANDLE);
        rv = m_module.Step("FindObjects", "C_FindObjects", m_slot, &CK_FUNCTION_LIST::C_FindObjects, session, batch,
                           CK_ULONG{std::size(batch)}, &n);
        // A module may claim more than it was given room for, or more than it wrote.
        n = rv == CKR_OK ? std::min<CK_ULONG>(n, std::size(batch)) : 0;
        bEnded = n == 0;
        // A handle handed out twice is one object.
        std::copy_if(batch, batch + n, std::back_inserter(found), [&found](CK_OBJECT_HANDLE h) {
            return h != CK_INVALID_HANDLE && std::find(found.begin(), found.end(), h) == found.end();
        });
    }
    m_module.Step("FindObjects", "C_FindObjectsFinal", m_slot, &CK_FUNCTION_LIST::C_FindObjectsFinal, session);
    if (rv == CKR_OK && !bEnded && found.size() < limit) {
        m_module.Log().Debug(ETopic::Token, "FindObjects: the search does not end");
        rv = CKR_FUNCTION_FAILED;
    }
    if (rv != CKR_OK)
        found.clear();
    return rv;
}

CK_RV CObjectSearch::ReadCertificate(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE cert, unsigned char* value,
                                     CK_ULONG* valueLen, unsigned char* id, CK_ULONG* idLen) const
{
    CK_ATTRIBUTE attrs[] = {
        {CKA_VALUE, nullptr, 0},
        {CKA_ID, nullptr, 0},
    };
    CK_RV rv = m_module.Step("ReadCertificate", "C_GetAttributeValue", m_slot, &CK_FUNCTION_LIST::C_GetAttributeValue,
                             session, cert, attrs, CK_ULONG{2});
    if (rv != CKR_OK)
        return rv;
    // CK_UNAVAILABLE_INFORMATION or an absurd size would overflow the
    // callers' "length + 1" buffers or exhaust memory.
    if (attrs[0].ulValueLen > MAX_ATTRIBUTE_LEN || attrs[1].ulValueLen > MAX_ATTRIBUTE_LEN) {
        m_module.Log().Debug(ETopic::Token, "ReadCertificate: the module gave a length that cannot be true");
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
    const CK_ULONG valueRoom = attrs[0].ulValueLen;
    const CK_ULONG idRoom = attrs[1].ulValueLen;
    rv = m_module.Step("ReadCertificate", "C_GetAttributeValue", m_slot, &CK_FUNCTION_LIST::C_GetAttributeValue,
                       session, cert, attrs, CK_ULONG{2});
    if (rv != CKR_OK)
        return rv;
    // What the fetch wrote, which may be less than the size query said:
    // never more than the room it was given.
    *valueLen = std::min(attrs[0].ulValueLen, valueRoom);
    *idLen = std::min(attrs[1].ulValueLen, idRoom);
    return CKR_OK;
}
