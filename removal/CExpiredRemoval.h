#pragma once

#include "inventory/CertTable.h"
#include "platform/CClock.h"
#include "platform/WinTypes.h"
#include "removal/CRemovedArchive.h"
#include "removal/CUserPrompts.h"
#include "removal/IRemovalHost.h"
#include "removal/SRemovalEnd.h"
#include "token/CTokenModule.h"

#include <optional>
#include <string>
#include <vector>

// One press of the delete button: scans the token on a new session, shows
// what is out of date and what would go with it, asks for the confirmation
// and the PIN, logs in and destroys each marked certificate with its own
// key pair, unless another certificate still carries that key pair's
// CKA_ID; each certificate is kept in the archive before it goes.
class CExpiredRemoval {
public:
    CExpiredRemoval(CTokenModule& token, CUserPrompts& prompts, const CClock& clock, IRemovalHost& host);

    void Run();

private:
    // The steps of a run in turn; each gives the end that stops the run, or
    // nothing to go on.
    SRemovalEnd Remove(CertTable& table);
    std::optional<SRemovalEnd> ScanForRemoval(CertTable& table);
    std::optional<SRemovalEnd> Confirm(const CertTable& table);
    std::optional<SRemovalEnd> LogIn();
    std::optional<SRemovalEnd> PinMayBeAskedFor(CK_FLAGS flags);
    std::optional<SRemovalEnd> LogInWithTypedPin();
    std::optional<SRemovalEnd> LogInOnKeypad();
    std::optional<SRemovalEnd> LoginEnd(CK_RV rv);
    ERemovalEnd WrongPinEnd();
    bool WriteProtected() const;
    bool SessionChanged() const;
    SRemovalEnd DeleteMarked(const CertTable& table);
    std::optional<SRemovalEnd> RemoveRecord(const CertTable& table, const CertRecord& record);
    std::optional<SRemovalEnd> KeepCopy(const CertRecord& record);
    std::optional<ERemovalEnd> FindOwnKeys(const CertTable& table, const CertRecord& record,
                                           CTokenModule::SFoundKeys& pubKeys, CTokenModule::SFoundKeys& privKeys,
                                           bool& bKeys);
    bool KeysStillInUse(const CertTable& table, const CertRecord& record, bool& bInUse);
    // Tells the end and does what follows it, as the table of ends says.
    void Finish(const SRemovalEnd& end);
    void Log(const std::string& text) const;
    void Refused(const std::string& what, CK_RV rv) const;
    // A message box owned by the host; no caption shows the program's name.
    int MessageBox(const char* text, const char* caption = nullptr, UINT type = 0, const std::string& details = {});

    CTokenModule& m_token;
    CUserPrompts& m_prompts;
    const CClock& m_clock;
    IRemovalHost& m_host;
    // The token whose certificates were scanned, and are asked about.
    STokenIdentity m_scannedToken;
    // Session 0 and the token events handled when the user was first asked.
    unsigned long m_ulSessionSerial = 0;
    unsigned long m_ulTokenEvents = 0;
    // Where the certificates deleted are kept, once the deletion begins.
    std::optional<CRemovedArchive> m_archive;
};
