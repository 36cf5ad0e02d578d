#pragma once

#include "inventory/CertTable.h"
#include "platform/CClock.h"
#include "platform/WinTypes.h"
#include "removal/CUserPrompts.h"
#include "removal/IRemovalHost.h"
#include "token/CTokenModule.h"

#include <string>
#include <vector>

// One press of the delete button: scans the token on a new session, shows
// what is out of date, asks for the confirmation and the PIN, logs in and
// destroys each marked certificate with its own key pair, unless another
// certificate still carries that key pair's CKA_ID.
class CExpiredRemoval {
public:
    CExpiredRemoval(CTokenModule& token, CUserPrompts& prompts, const CClock& clock, IRemovalHost& host);

    void Run();

private:
    bool ScanForRemoval(CertTable& table);
    bool WriteProtected() const;
    bool ConfirmAndLogIn();
    bool PinMayBeAskedFor(CK_FLAGS flags);
    bool LogInWithTypedPin();
    bool LogInOnKeypad();
    bool SessionChanged() const;
    void EndUnconfirmed();
    bool LoginSucceeded(CK_RV rv);
    void DeleteMarked(const CertTable& table);
    void AbandonStaleRemoval();
    const char* RemoveRecord(const CertTable& table, const CertRecord& record);
    const char* FindOwnKeys(const CertTable& table, const CertRecord& record, CTokenModule::SFoundKeys& pubKeys,
                            CTokenModule::SFoundKeys& privKeys, bool& bKeys);
    bool KeysStillInUse(const CertTable& table, const CertRecord& record, bool& bInUse);
    void Log(const std::string& text) const;
    void Refused(const std::string& what, CK_RV rv) const;
    // A message box owned by the host; no caption shows the program's name.
    int MessageBox(const char* text, const char* caption = nullptr, UINT type = 0);

    CTokenModule& m_token;
    CUserPrompts& m_prompts;
    const CClock& m_clock;
    IRemovalHost& m_host;
    // The token whose certificates were scanned, and are asked about.
    STokenIdentity m_scannedToken;
    // Session 0 and the token events handled when the user was first asked.
    unsigned long m_ulSessionSerial = 0;
    unsigned long m_ulTokenEvents = 0;
};
