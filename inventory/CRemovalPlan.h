#pragma once

#include "inventory/CKeyPairRule.h"
#include "inventory/CertTable.h"
#include "token/CTokenModule.h"

#include <cstddef>
#include <string>
#include <vector>

// What a removal would delete, told before it asks for the PIN: each red
// certificate in table order, why it is red, what goes with it, and whether
// what was encrypted to it becomes unreadable. Made from the scanned table
// and what the token shows without a login (its certificates and public
// objects); private keys are matched only after the PIN.
class CRemovalPlan {
public:
    enum class EKeys {
        Goes,  // its own key pair, found by ID and matched after the PIN
        Kept,  // a certificate the run keeps carries its ID
        NoId,  // it has no ID, so no key is its own
    };
    // Its own public key under its ID, as a search without a login sees it.
    enum class EPublicKey {
        Seen,
        NotSeen,
        Unclear,  // several keys under the ID that cannot be told apart
    };

    struct SItem {
        std::string strDisplayName;
        std::string strIssueDate;   // 14 digits, UTC
        std::string strExpiryDate;  // 14 digits, UTC
        std::string strIdHex;       // empty without ID
        bool bExpired = false;
        bool bSuperseded = false;
        // The issue date of the newest certificate that renews it.
        std::string strRenewalIssueDate;
        EKeys eKeys = EKeys::NoId;
        // Who keeps the keys, for EKeys::Kept: false when that certificate
        // lies beyond what the scan read, and the fields below are empty.
        bool bKeeperRead = false;
        std::string strKeeperName;
        std::string strKeeperIssueDate;
        std::string strKeeperExpiryDate;
        EPublicKey ePublicKey = EPublicKey::NotSeen;
        bool bCanDecrypt = false;

        // Its private key goes, and with it the means to read what was
        // encrypted to it.
        bool DecryptionKeyGoes() const { return bCanDecrypt && eKeys == EKeys::Goes; }
    };

    // Makes the plan of `table`, which `token` scanned last, asking the
    // token on session 0 who else carries each red record's ID and whether
    // its public key is there. Any search the token refuses fails the whole
    // plan, which is then empty.
    CK_RV Read(CTokenModule& token, const CertTable& table);
    // One red record of `table`, judged by the key pair rule.
    void Add(const CertTable& table, const CertRecord& record, const CKeyPairRule::SVerdict& verdict,
             EPublicKey publicKey);

    const std::vector<SItem>& Items() const { return m_items; }
    bool AnyDecryptionKeyGoes() const;

    // The plan as the confirmation's details: one block a certificate.
    std::string Details() const;
    // For scripts: "goes", "kept" or "none".
    static const char* KeysWord(EKeys keys);
    // What goes with it, or why its keys stay.
    static std::string KeysText(const SItem& item);
    // Why it is red: "expired", "superseded by the certificate issued on
    // <time>", or both.
    static std::string RedText(const SItem& item);
    // "2020-01-31 08:00:00 UTC" of "20200131080000".
    static std::string ShownTime(const std::string& digits);

private:
    CK_RV ReadRecord(CTokenModule& token, const CertTable& table, const CertRecord& record);

    std::vector<SItem> m_items;
};
