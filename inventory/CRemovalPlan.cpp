#include "inventory/CRemovalPlan.h"

#include "inventory/CertTableRules.h"
#include "platform/CEscapedText.h"
#include "platform/CHexText.h"
#include "token/CCkrNames.h"

#include <algorithm>

namespace {

using ETopic = CTokenLog::ETopic;

// The newest record that renews `record`, or null.
const CertRecord* NewestRenewal(const CertTable& table, const CertRecord& record)
{
    for (CK_ULONG i = table.nCount; i-- > 0;) {
        if (Supersedes(table.records[i], record))
            return &table.records[i];
    }
    return nullptr;
}

std::string Named(const std::string& name)
{
    return name.empty() ? std::string("(no name)") : CEscapedText::Of(name);
}

std::string PublicKeyText(CRemovalPlan::EPublicKey key)
{
    switch (key) {
    case CRemovalPlan::EPublicKey::Seen: return "its public key is on the token";
    case CRemovalPlan::EPublicKey::NotSeen: return "no public key of it seen before the PIN";
    case CRemovalPlan::EPublicKey::Unclear: break;
    }
    return "several public keys under its ID cannot be told apart";
}

}  // namespace

CK_RV CRemovalPlan::Read(CTokenModule& token, const CertTable& table)
{
    m_items.clear();
    for (CK_ULONG i = 0; i < table.nCount; ++i) {
        if (table.records[i].nMark != 1)
            continue;
        if (CK_RV rv = ReadRecord(token, table, table.records[i]); rv != CKR_OK) {
            m_items.clear();
            return rv;
        }
    }
    return CKR_OK;
}

CK_RV CRemovalPlan::ReadRecord(CTokenModule& token, const CertTable& table, const CertRecord& record)
{
    const CK_SESSION_HANDLE session = token.Session(0);
    std::vector<CK_OBJECT_HANDLE> holders;
    if (CKeyPairRule::HasId(record)) {
        if (CK_RV rv = token.FindCertificatesWithId(session, record.pId.get(), record.ulIdLen, holders); rv != CKR_OK) {
            token.Log().Warning(ETopic::Removal, "the plan: the search for certificates with id " +
                                                      CTokenLog::Id(record.pId.get(), record.ulIdLen) +
                                                      " refused: " + CCkrNames::Of(rv));
            return rv;
        }
    }
    const CKeyPairRule::SVerdict verdict = CKeyPairRule::Judge(table, record, holders);
    EPublicKey publicKey = EPublicKey::NotSeen;
    if (verdict.eFate == CKeyPairRule::EFate::Goes) {
        // The search keeps nothing: the keys it finds are only counted.
        CTokenModule::SFoundKeys found;
        CK_RV rv = token.FindPubKey(session, record.pId.get(), record.ulIdLen, record.key, found);
        const std::size_t count = found.keys.size();
        if (rv != CKR_OK && rv != CTokenModule::RV_KEY_AMBIGUOUS) {
            token.Log().Warning(ETopic::Removal, "the plan: the search for the public key of id " +
                                                      CTokenLog::Id(record.pId.get(), record.ulIdLen) +
                                                      " refused: " + CCkrNames::Of(rv));
            return rv;
        }
        publicKey = rv == CTokenModule::RV_KEY_AMBIGUOUS ? EPublicKey::Unclear
                    : count > 0                          ? EPublicKey::Seen
                                                         : EPublicKey::NotSeen;
    }
    Add(table, record, verdict, publicKey);
    token.Log().Debug(ETopic::Removal, "the plan: id " + CTokenLog::Id(record.pId.get(), record.ulIdLen) + " '" +
                                           record.strDisplayName + "': " + RedText(m_items.back()) + "; " +
                                           KeysText(m_items.back()));
    return CKR_OK;
}

void CRemovalPlan::Add(const CertTable& table, const CertRecord& record, const CKeyPairRule::SVerdict& verdict,
                       EPublicKey publicKey)
{
    SItem item;
    item.strDisplayName = record.strDisplayName;
    item.strIssueDate = record.strIssueDate;
    item.strExpiryDate = record.strExpiryDate;
    if (record.ulIdLen > 0)
        item.strIdHex = CHexText::Lower(record.pId.get(), record.ulIdLen);
    item.bExpired = record.bExpired;
    item.bSuperseded = record.bSuperseded;
    if (const CertRecord* renewal = record.bSuperseded ? NewestRenewal(table, record) : nullptr)
        item.strRenewalIssueDate = renewal->strIssueDate;
    switch (verdict.eFate) {
    case CKeyPairRule::EFate::Goes: item.eKeys = EKeys::Goes; break;
    case CKeyPairRule::EFate::KeptInUse: item.eKeys = EKeys::Kept; break;
    case CKeyPairRule::EFate::KeptNoId: item.eKeys = EKeys::NoId; break;
    }
    if (verdict.pKeeper != nullptr) {
        item.bKeeperRead = true;
        item.strKeeperName = verdict.pKeeper->strDisplayName;
        item.strKeeperIssueDate = verdict.pKeeper->strIssueDate;
        item.strKeeperExpiryDate = verdict.pKeeper->strExpiryDate;
    }
    item.ePublicKey = item.eKeys == EKeys::Goes ? publicKey : EPublicKey::NotSeen;
    item.bCanDecrypt = record.bCanDecrypt;
    m_items.push_back(std::move(item));
}

bool CRemovalPlan::AnyDecryptionKeyGoes() const
{
    return std::any_of(m_items.begin(), m_items.end(), [](const SItem& i) { return i.DecryptionKeyGoes(); });
}

std::string CRemovalPlan::Details() const
{
    std::string text = "To be deleted, in the list's order, as the token shows it before the PIN:\n";
    for (std::size_t n = 0; n < m_items.size(); ++n) {
        const SItem& item = m_items[n];
        text += "\n" + std::to_string(n + 1) + ". " + Named(item.strDisplayName) + "\n";
        text += "   issued " + ShownTime(item.strIssueDate) + ", expires " + ShownTime(item.strExpiryDate) + "\n";
        text += "   red: " + RedText(item) + "\n";
        text += std::string("   ") + (item.eKeys == EKeys::Goes ? "goes with it: " : "") + KeysText(item) + "\n";
        if (item.DecryptionKeyGoes())
            text += "   decrypts: once its private key is deleted, files and mail encrypted to it can no longer "
                    "be decrypted\n";
    }
    return text;
}

const char* CRemovalPlan::KeysWord(EKeys keys)
{
    switch (keys) {
    case EKeys::Goes: return "goes";
    case EKeys::Kept: return "kept";
    case EKeys::NoId: break;
    }
    return "none";
}

std::string CRemovalPlan::KeysText(const SItem& item)
{
    switch (item.eKeys) {
    case EKeys::Goes: return "its key pair (found by ID; matched after the PIN); " + PublicKeyText(item.ePublicKey);
    case EKeys::Kept:
        if (!item.bKeeperRead)
            return "keys kept: a certificate the scan did not read uses them";
        return "keys kept: " + Named(item.strKeeperName) + " (issued " + ShownTime(item.strKeeperIssueDate) +
               ", expires " + ShownTime(item.strKeeperExpiryDate) + ") uses them";
    case EKeys::NoId: break;
    }
    return "no ID: keys kept";
}

std::string CRemovalPlan::RedText(const SItem& item)
{
    std::string superseded = "superseded by the certificate issued on " + ShownTime(item.strRenewalIssueDate);
    if (item.bExpired && item.bSuperseded)
        return "expired, and " + superseded;
    return item.bExpired ? "expired" : superseded;
}

std::string CRemovalPlan::ShownTime(const std::string& d)
{
    if (d.size() != 14)
        return d;
    return d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2) + " " + d.substr(8, 2) + ":" +
           d.substr(10, 2) + ":" + d.substr(12, 2) + " UTC";
}
