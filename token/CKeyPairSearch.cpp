#include "token/CKeyPairSearch.h"

#include "token/CObjectSearch.h"

#include <algorithm>
#include <string>

namespace {

using ETopic = CTokenLog::ETopic;

const char* KeyClassName(CK_OBJECT_CLASS keyClass)
{
    return keyClass == CKO_PUBLIC_KEY ? "public key" : "private key";
}

}  // namespace

CK_RV CKeyPairSearch::FindPubKey(CK_SESSION_HANDLE session, const unsigned char* id, CK_ULONG idLen,
                                 const CCertKey& key, SFound& found) const
{
    // Searched by type, a lone key whose value cannot be read is taken; by
    // class alone, only a key whose value shows it.
    return FindKeys(session, CKO_PUBLIC_KEY, id, idLen, key, key.SearchType(), found);
}

CK_RV CKeyPairSearch::FindPrivKey(CK_SESSION_HANDLE session, const unsigned char* id, CK_ULONG idLen,
                                  const CCertKey& key, CK_KEY_TYPE pubKeyType, SFound& found) const
{
    // By class alone, a lone private key whose value cannot be read is taken
    // when it is of the type the public key search showed the certificate's
    // key to have on this token.
    CK_KEY_TYPE takeable = key.SearchType() != CK_UNAVAILABLE_INFORMATION ? key.SearchType() : pubKeyType;
    return FindKeys(session, CKO_PRIVATE_KEY, id, idLen, key, takeable, found);
}

CK_RV CKeyPairSearch::FindKeys(CK_SESSION_HANDLE session, CK_OBJECT_CLASS keyClass, const unsigned char* id,
                               CK_ULONG idLen, const CCertKey& key, CK_KEY_TYPE takeable, SFound& found) const
{
    // Emptied first, so a search that finds nothing can never leave the key
    // of an earlier search behind for the destroy that follows.
    found = SFound();
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
    const CObjectSearch search(m_module, m_slot);
    CK_RV rv = search.FindAll(session, tmpl, bTyped ? 3 : 2, candidates);
    if (rv != CKR_OK)
        return rv;
    // Past the limit there may be more than were looked at.
    if (candidates.size() >= CObjectSearch::MAX_ID_MATCHES)
        return RV_KEY_AMBIGUOUS;
    // What the search handed out counts only when it reads back as asked.
    std::vector<CK_KEY_TYPE> types;
    if ((rv = search.KeepAsked(session, keyClass, id, idLen, keyType, candidates, &types)) != CKR_OK)
        return rv;

    std::vector<CCertKey::SKeyObject> objects(candidates.size());
    std::vector<CCertKey::EMatch> matches;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        objects[i].ulClass = keyClass;
        objects[i].ulKeyType = types[i];
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
        found.keys.push_back(candidates[i]);
        // One type for all, or none told.
        found.ulKeyType = found.keys.size() == 1 || objects[i].ulKeyType == found.ulKeyType
                              ? objects[i].ulKeyType
                              : CK_UNAVAILABLE_INFORMATION;
    }
    return CKR_OK;
}

// The key's type where the search left it open, then the values that tell it apart.
CK_RV CKeyPairSearch::ReadKeyObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                                    CCertKey::SKeyObject& key) const
{
    if (key.ulKeyType == CK_UNAVAILABLE_INFORMATION) {
        CK_KEY_TYPE type = CK_UNAVAILABLE_INFORMATION;
        CK_ATTRIBUTE attr = {CKA_KEY_TYPE, &type, sizeof type};
        CK_RV rv = m_module.Call(&CK_FUNCTION_LIST::C_GetAttributeValue, session, object, &attr, CK_ULONG{1});
        if (rv != CKR_OK && rv != CKR_ATTRIBUTE_SENSITIVE && rv != CKR_ATTRIBUTE_TYPE_INVALID) {
            m_module.Log().Failed("FindKeys", "C_GetAttributeValue", m_slot, rv);
            return rv;
        }
        key.ulKeyType = rv == CKR_OK && attr.ulValueLen == sizeof type ? type : CK_UNAVAILABLE_INFORMATION;
    }
    return ReadKeyValues(session, object, key);
}

// One read of every telling attribute. A value the module keeps to itself
// (sensitive, not there, or larger than any key's) is left absent: the
// answers that say so for single attributes are no failure of the read.
CK_RV CKeyPairSearch::ReadKeyValues(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                                    CCertKey::SKeyObject& key) const
{
    const std::vector<CK_ATTRIBUTE_TYPE> types = CCertKey::TellingAttributes(key.ulClass, key.ulKeyType);
    std::vector<std::vector<unsigned char>> values(types.size(), std::vector<unsigned char>(MAX_KEY_VALUE_LEN));
    std::vector<CK_ATTRIBUTE> attrs;
    for (std::size_t i = 0; i < types.size(); ++i)
        attrs.push_back({types[i], values[i].data(), MAX_KEY_VALUE_LEN});
    CK_RV rv = m_module.Call(&CK_FUNCTION_LIST::C_GetAttributeValue, session, object, attrs.data(),
                             static_cast<CK_ULONG>(attrs.size()));
    if (rv != CKR_OK && rv != CKR_ATTRIBUTE_SENSITIVE && rv != CKR_ATTRIBUTE_TYPE_INVALID &&
        rv != CKR_BUFFER_TOO_SMALL) {
        m_module.Log().Failed("FindKeys", "C_GetAttributeValue", m_slot, rv);
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
            m_module.Log().Debug(ETopic::Token, "FindKeys: the module gave a length that cannot be true");
            return CObjectSearch::RV_BAD_LENGTH;
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

// What a key search found under an ID, and what it took.
void CKeyPairSearch::LogKeySearch(CK_OBJECT_CLASS keyClass, const unsigned char* id, CK_ULONG idLen,
                                  const std::vector<CCertKey::EMatch>& matches,
                                  const std::optional<std::vector<std::size_t>>& chosen) const
{
    const CTokenLog& log = m_module.Log();
    if (!log.On(ETopic::Removal))
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
    log.Debug(ETopic::Removal, text);
}
