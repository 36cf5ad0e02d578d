#include "removal/CExpiredRemoval.h"

#include "inventory/BuildCertTable.h"
#include "inventory/InventoryMessages.h"
#include "inventory/ScanToken.h"
#include "platform/CMessageBox.h"
#include "platform/StandardIds.h"
#include "removal/CPinDlg.h"
#include "removal/RemovalMessages.h"
#include "token/CCkrNames.h"

#include <QByteArray>
#include <QCoreApplication>

#include <algorithm>

namespace {

using ETopic = CTokenLog::ETopic;

std::size_t MarkedCount(const CertTable& table)
{
    return static_cast<std::size_t>(std::count_if(table.records.begin(), table.records.begin() + table.nCount,
                                                  [](const CertRecord& r) { return r.nMark == 1; }));
}

std::string Named(const CertRecord& record)
{
    return "certificate id " + CTokenLog::Id(record.pId.get(), record.ulIdLen) + " '" + record.strDisplayName + "'";
}

bool IsMarkedObject(const CertTable& table, CK_OBJECT_HANDLE object)
{
    return std::any_of(table.records.begin(), table.records.begin() + table.nCount,
                       [object](const CertRecord& r) { return r.nMark == 1 && r.hCertObject == object; });
}

// Answers of the module that mean the token went away or the session with it.
bool TokenWentAway(CK_RV rv)
{
    return rv == CKR_SESSION_HANDLE_INVALID || rv == CKR_SESSION_CLOSED || rv == CKR_DEVICE_REMOVED ||
           rv == CKR_TOKEN_NOT_PRESENT;
}

}  // namespace

CExpiredRemoval::CExpiredRemoval(CTokenModule& token, CUserPrompts& prompts, const CClock& clock,
                                 IRemovalHost& host)
    : m_token(token), m_prompts(prompts), m_clock(clock), m_host(host)
{
}

void CExpiredRemoval::Run()
{
    CertTable table;
    if (!ScanForRemoval(table))
        return;
    const std::size_t marked = MarkedCount(table);
    Log(std::to_string(marked) + " of " + std::to_string(table.nCount) + " certificates red on token '" +
        m_scannedToken.strLabel + "', serial " + m_scannedToken.strSerial);
    if (marked == 0) {
        MessageBox(Messages::kNothingExpired, Messages::kNoticeCaption, MB_OK);
        m_token.Close();
        m_host.RefreshList();
        return;
    }
    // What is deleted is what the user confirms: the list shows this run's
    // table, not what an earlier refresh found.
    m_host.ShowTable(table);
    // The red rows stay red: no PIN is asked for what cannot be done.
    if (WriteProtected()) {
        Log("the token is write-protected: nothing asked, nothing deleted");
        MessageBox(Messages::kWriteProtected, Messages::kNoticeCaption, MB_ICONINFORMATION);
        EndUnconfirmed();
        return;
    }
    if (ConfirmAndLogIn())
        DeleteMarked(table);
}

// Scans the token on a new session 0; false (after its message) when there
// is nothing to go on with.
bool CExpiredRemoval::ScanForRemoval(CertTable& table)
{
    switch (ScanListedToken(m_token, table, m_clock, &m_scannedToken, CTokenModule::EAccess::ReadWrite)) {
    case ScanResult::Scanned:
        return true;
    case ScanResult::SessionFailed:
        MessageBox(Messages::kCommunicationFailed, Messages::kNoticeCaption, MB_ICONINFORMATION);
        return false;
    case ScanResult::FindFailed:
        // The module's answer is in the token's debug log.
        m_token.Log().Warning(ETopic::Removal, "the certificate search refused: nothing deleted");
        MessageBox(Messages::kFindCertificatesFailed, Messages::kNoticeCaption, MB_ICONINFORMATION);
        return false;
    case ScanResult::NoCertificates:
        MessageBox(Messages::kNoCertificates, nullptr, MB_OK);
        return false;
    default:
        return false;  // no token at the last listing
    }
}

// The token says so, or refused the scan a session that may write.
bool CExpiredRemoval::WriteProtected() const
{
    return (m_scannedToken.ulFlags & CKF_WRITE_PROTECTED) != 0 ||
           m_token.SessionAccess(0) != CTokenModule::EAccess::ReadWrite;
}

// Asks for the confirmation and the PIN and logs in; false when the run ends.
bool CExpiredRemoval::ConfirmAndLogIn()
{
    // Handles of the scan are good only while its session is: a token pulled
    // out or swapped while the user is asked, or a refresh by the monitor,
    // ends the session they belong to.
    m_ulSessionSerial = m_token.SessionSerial();
    m_ulTokenEvents = m_host.TokenEventsHandled();

    if (MessageBox(Messages::kConfirmDelete, Messages::kConfirmCaption, MB_OKCANCEL) == IDCANCEL) {
        Log("the deletion was declined");
        EndUnconfirmed();
        return false;
    }
    // The PIN goes only to the token whose certificates the user was shown,
    // and what that token says of its PIN decides how it is asked for.
    STokenIdentity now;
    if (SessionChanged() || m_token.ReadTokenIdentity(0, now) != CKR_OK || !now.IsSameToken(m_scannedToken)) {
        AbandonStaleRemoval();
        return false;
    }
    if (!PinMayBeAskedFor(now.ulFlags))
        return false;
    if (now.ulFlags & CKF_PROTECTED_AUTHENTICATION_PATH)
        return LogInOnKeypad();
    return LogInWithTypedPin();
}

// A locked PIN is told at once, and a last try only spent when the user
// says so; false when the run ends.
bool CExpiredRemoval::PinMayBeAskedFor(CK_FLAGS flags)
{
    if (flags & CKF_USER_PIN_LOCKED) {
        Log("the token says its user PIN is locked: no PIN asked, nothing deleted");
        MessageBox(Messages::kPinLocked, Messages::kNoticeCaption, MB_ICONHAND);
        m_host.RefreshList();
        return false;
    }
    if (flags & CKF_USER_PIN_COUNT_LOW)
        m_token.Log().Warning(ETopic::Removal, "the token has counted a wrong user PIN since the last right one");
    if ((flags & CKF_USER_PIN_FINAL_TRY) &&
        MessageBox(Messages::kPinFinalTry, Messages::kNoticeCaption, MB_OKCANCEL | MB_ICONEXCLAMATION) == IDCANCEL) {
        Log("one PIN try left, and the user stopped");
        EndUnconfirmed();
        return false;
    }
    return true;
}

bool CExpiredRemoval::LogInWithTypedPin()
{
    CPinDlg dlgPin(m_host.PromptOwner(), &m_prompts);
    int answer = m_prompts.RunPinDialog(dlgPin);
    if (answer != IDOK || SessionChanged()) {
        dlgPin.WipePin();
        if (answer != IDOK) {
            Log("the PIN was not given");
            EndUnconfirmed();
        } else {
            AbandonStaleRemoval();
        }
        return false;
    }
    CK_RV rv = m_token.Login(0, reinterpret_cast<const unsigned char*>(dlgPin.m_strPin.data()),
                             static_cast<CK_ULONG>(dlgPin.m_strPin.size()));
    dlgPin.WipePin();
    return LoginSucceeded(rv);
}

// The token's own keypad takes the PIN: the login waits for it, holding the
// module, so token events meanwhile are only counted; any of them makes
// the scan's handles suspect, and the run is abandoned.
bool CExpiredRemoval::LogInOnKeypad()
{
    if (SessionChanged()) {
        AbandonStaleRemoval();
        return false;
    }
    Log("the PIN is entered on the token's keypad");
    m_host.HoldTokenEvents(true);
    CK_RV rv = m_prompts.LoginOnKeypad(m_host.PromptOwner(), [this] { return m_token.Login(0, nullptr, 0); });
    m_host.HoldTokenEvents(false);
    if (SessionChanged()) {
        if (rv == CKR_OK)
            m_token.Logout(0);
        AbandonStaleRemoval();
        return false;
    }
    return LoginSucceeded(rv);
}

bool CExpiredRemoval::SessionChanged() const
{
    return m_token.SessionSerial() != m_ulSessionSerial || m_host.TokenEventsHandled() != m_ulTokenEvents;
}

// Nothing was confirmed, or no PIN given: the module is closed and the list
// shows the token anew.
void CExpiredRemoval::EndUnconfirmed()
{
    m_token.Close();
    m_host.RefreshList();
}

bool CExpiredRemoval::LoginSucceeded(CK_RV rv)
{
    if (rv == CKR_OK) {
        Log("logged in");
        return true;
    }
    // A wrong PIN is the user's mistake; any other refusal is the journal's.
    if (rv == CKR_PIN_INCORRECT) {
        Log("not logged in, wrong PIN: nothing deleted");
        MessageBox(Messages::kPinIncorrect, Messages::kNoticeCaption, MB_ICONINFORMATION);
        m_host.RefreshList();
        return false;
    }
    Refused("the login (nothing deleted)", rv);
    if (rv == CKR_PIN_LOCKED)
        MessageBox(Messages::kPinLocked, Messages::kNoticeCaption, MB_ICONHAND);
    else if (TokenWentAway(rv))
        MessageBox(Messages::kCommunicationFailed, Messages::kNoticeCaption, MB_ICONINFORMATION);
    m_host.RefreshList();
    return false;
}

// Destroys every marked certificate with its keys, in table order, and logs
// out before anything is told: every removal's PIN is checked by the token,
// whatever the module keeps between sessions.
void CExpiredRemoval::DeleteMarked(const CertTable& table)
{
    const char* failure = nullptr;
    for (CK_ULONG i = 0; i < table.nCount && failure == nullptr; ++i) {
        if (table.records[i].nMark == 1)
            failure = RemoveRecord(table, table.records[i]);
    }
    m_token.Logout(0);
    Log(failure == nullptr ? "logged out; every red certificate handled" : std::string("logged out; ends: ") + failure);
    if (failure == Messages::kDeleteCertFailed) {
        MessageBox(failure, nullptr, MB_OK);
        m_token.Close();
        // Earlier records may be gone already: the list shows what is left.
        m_host.RefreshList();
        return;
    }
    if (failure != nullptr)
        MessageBox(failure, nullptr, MB_OK);
    MessageBox(Messages::kDeleted, Messages::kNoticeCaption, MB_OK);
    m_host.RefreshList();
}

// The token went away or its session was replaced while the user was being
// asked: nothing is deleted through the handles of the earlier scan.
void CExpiredRemoval::AbandonStaleRemoval()
{
    Log("the token or its session changed while the user was asked: nothing deleted");
    MessageBox(Messages::kCommunicationFailed, Messages::kNoticeCaption, MB_ICONINFORMATION);
    m_host.RefreshList();
}

// One marked record: its own keys are found before anything is destroyed,
// so a search that fails or cannot tell its keys apart leaves the record
// whole. Then its public key, its private key, and the certificate last:
// the certificate is what leads a removal to the keys, so a run stopped
// anywhere leaves it red for the next run to finish. The text of the
// failure that ends the run, or null.
const char* CExpiredRemoval::RemoveRecord(const CertTable& table, const CertRecord& record)
{
    Log(Named(record) + ": its keys are looked for first");
    CTokenModule::SFoundKeys pubKeys;
    CTokenModule::SFoundKeys privKeys;
    bool bKeys = false;
    if (const char* failure = FindOwnKeys(table, record, pubKeys, privKeys, bKeys))
        return failure;
    if (CK_RV rv = bKeys ? m_token.DestroyPubKey(pubKeys) : CKR_OK; rv != CKR_OK) {
        Refused(Named(record) + ": destroying its public key", rv);
        return Messages::kDeletePubKeyFailed;
    }
    if (CK_RV rv = bKeys ? m_token.DestroyPrivKey(privKeys) : CKR_OK; rv != CKR_OK) {
        Refused(Named(record) + ": destroying its private key", rv);
        return Messages::kDeletePrivKeyFailed;
    }
    if (CK_RV rv = m_token.DestroyCertificate(record.hCertObject); rv != CKR_OK) {
        Refused(Named(record) + ": destroying it", rv);
        return Messages::kDeleteCertFailed;
    }
    return nullptr;
}

// Finds the record's own public and private keys; a search that finds none
// is no failure. `bKeys` is false when the keys stay whatever they are: no
// identifier names no key, and another certificate may still use them.
const char* CExpiredRemoval::FindOwnKeys(const CertTable& table, const CertRecord& record,
                                         CTokenModule::SFoundKeys& pubKeys, CTokenModule::SFoundKeys& privKeys,
                                         bool& bKeys)
{
    bKeys = false;
    if (record.ulIdLen == 0) {
        Log(Named(record) + ": no ID, so no key is its own; keys kept");
        return nullptr;
    }
    const unsigned char* pId = record.pId.get();
    bool bInUse = false;
    if (!KeysStillInUse(table, record, bInUse))
        return Messages::kFindPubKeyFailed;
    if (bInUse) {
        Log(Named(record) + ": another certificate on the token carries the ID; keys kept");
        return nullptr;
    }
    CK_SESSION_HANDLE session = m_token.Session(0);
    if (CK_RV rv = m_token.FindPubKey(session, pId, record.ulIdLen, record.key, pubKeys); rv != CKR_OK) {
        Refused(Named(record) + ": the search for its public key", rv);
        return Messages::kFindPubKeyFailed;
    }
    if (CK_RV rv = m_token.FindPrivKey(session, pId, record.ulIdLen, record.key, pubKeys.ulKeyType, privKeys);
        rv != CKR_OK) {
        Refused(Named(record) + ": the search for its private key", rv);
        return Messages::kFindPrivKeyFailed;
    }
    bKeys = true;
    return nullptr;
}

// A renewed certificate often keeps its predecessor's key pair, and it may
// lie beyond what the scan saw: the keys stay while any certificate on the
// token that this run does not delete carries the same CKA_ID. False when
// the token could not be asked.
bool CExpiredRemoval::KeysStillInUse(const CertTable& table, const CertRecord& record, bool& bInUse)
{
    std::vector<CK_OBJECT_HANDLE> holders;
    if (CK_RV rv = m_token.FindCertificatesWithId(m_token.Session(0), record.pId.get(), record.ulIdLen, holders);
        rv != CKR_OK) {
        Refused(Named(record) + ": the search for certificates with its ID", rv);
        return false;
    }
    bInUse = std::any_of(holders.begin(), holders.end(),
                         [&table](CK_OBJECT_HANDLE h) { return !IsMarkedObject(table, h); });
    return true;
}

void CExpiredRemoval::Log(const std::string& text) const
{
    m_token.Log().Debug(ETopic::Removal, text);
}

// A module's refusal stops a removal halfway: it reaches the journal
// without asking for debug lines.
void CExpiredRemoval::Refused(const std::string& what, CK_RV rv) const
{
    m_token.Log().Warning(ETopic::Removal, what + " refused: " + CCkrNames::Of(rv));
}

int CExpiredRemoval::MessageBox(const char* text, const char* caption, UINT type)
{
    QByteArray appName = QCoreApplication::applicationName().toUtf8();
    return m_prompts.MessageBox(m_host.PromptOwner(), text, caption != nullptr ? caption : appName.constData(), type);
}
