#pragma once

#include "inventory/CRemovalPlan.h"
#include "inventory/CertTable.h"
#include "token/STokenIdentity.h"

#include <string>
#include <utility>
#include <vector>

// The certificate table as one JSON array of objects, a line a field.
class CJsonListing {
public:
    // `now` is the fourteen-digit UTC time the marks were made against. A
    // table the scan did not complete ends with {"complete": false,
    // "certificate": N, "found": M, "reason": "..."}.
    static std::string Render(const CertTable& table, const std::string& now);
    // What a removal would delete, an object a red certificate, ending as
    // Render's array does when the scan was cut short.
    static std::string RenderPlan(const CRemovalPlan& plan, const CertTable& table);
    // The tokens present, an object each.
    static std::string RenderTokens(const std::vector<STokenIdentity>& tokens);

    // "2024-03-13T10:20:30Z" of "20240313102030".
    static std::string IsoTime(const std::string& digits);
    static std::string Hex(const unsigned char* bytes, CK_ULONG length);
    // "expired", "superseded", or empty for an unmarked record.
    static std::string Reason(const CertRecord& record, const std::string& now);
    // The certificate's key algorithm: "rsa", "rsa-pss", "ec", "ed25519", "ed448" or "other".
    static std::string KeyName(CCertificate::EKeyType key);
    // What the certificate's key is for: "signing", "encryption" or "general".
    static std::string UseName(CCertificate::EUse use);

    // Whether a plan's search without a login saw the certificate's own
    // public key: "seen", "unseen", or "unclear" (several keys under its ID
    // that cannot be told apart).
    static std::string PublicKeyName(CRemovalPlan::EPublicKey key);

    // The token flags a listing shows, so a script sees a locked token
    // before anyone spends a PIN on it: the user PIN's state and a keypad,
    // as words ("pin-locked", "pin-final-try", "pin-count-low", "keypad").
    static std::vector<std::string> PinState(CK_FLAGS flags);

private:
    static constexpr std::pair<CK_FLAGS, const char*> kPinStateFlags[] = {
        {CKF_USER_PIN_LOCKED, "pin-locked"},
        {CKF_USER_PIN_FINAL_TRY, "pin-final-try"},
        {CKF_USER_PIN_COUNT_LOW, "pin-count-low"},
        {CKF_PROTECTED_AUTHENTICATION_PATH, "keypad"},
    };
};
