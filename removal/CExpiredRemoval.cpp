#include "removal/CExpiredRemoval.h"

#include "inventory/BuildCertTable.h"
#include "inventory/CKeyPairRule.h"
#include "inventory/CRemovalPlan.h"
#include "inventory/InventoryMessages.h"
#include "inventory/ScanToken.h"
#include "platform/CMessageBox.h"
#include "platform/StandardIds.h"
#include "removal/CPinDlg.h"
#include "removal/RemovalMessages.h"
#include "token/CCkrNames.h"
#include "token/TokenGone.h"

#include <QByteArray>
#include <QCoreApplication>

#include <algorithm>
#include <iterator>

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

// What follows the telling of an end.
constexpr unsigned kLogOut = 1u << 0;    // before anything is told
constexpr unsigned kTellDone = 1u << 1;  // the completion notice
constexpr unsigned kClose = 1u << 2;     // the module closed
constexpr unsigned kRefresh = 1u << 3;   // the list shows the token anew

// How each end of a run is told, and what follows. A run that logged in
// logs out first, so the next run's PIN is checked by the token whatever
// the module keeps between sessions. The module is closed when nothing was
// confirmed or a step was refused midway; the list is refreshed once the
// user has been asked anything. Only a run that handled every red record
// says it is done.
struct SEndRow {
    ERemovalEnd eEnd;
    const char* pszWhy;      // for the log
    const char* pszText;     // the box telling it, or null for none
    const char* pszCaption;  // null: the program's name
    UINT type;
    unsigned follows;
};

using E = ERemovalEnd;
constexpr const char* kNotice = Messages::kNoticeCaption;
constexpr UINT kInfo = MB_ICONINFORMATION;
constexpr const char* kGone = Messages::kCommunicationFailed;

constexpr SEndRow kEnds[] = {
    {E::NoToken, "no token at the last listing", nullptr, nullptr, 0, 0},
    {E::SessionFailed, "no session", kGone, kNotice, kInfo, 0},
    {E::FindCertificatesFailed, "the certificate search refused", Messages::kFindCertificatesFailed, kNotice, kInfo, 0},
    {E::NoCertificates, "no certificate", Messages::kNoCertificates, nullptr, MB_OK, 0},
    {E::NothingMarked, "nothing red", Messages::kNothingExpired, kNotice, MB_OK, kClose | kRefresh},
    {E::WriteProtected, "the token is write-protected: nothing asked", Messages::kWriteProtected, kNotice, kInfo,
     kClose | kRefresh},
    {E::PlanRefused, "a search for what goes with a red certificate refused", Messages::kFindCertificatesFailed,
     kNotice, kInfo, kClose | kRefresh},
    {E::Declined, "declined", nullptr, nullptr, 0, kClose | kRefresh},
    {E::PinNotGiven, "the PIN was not given", nullptr, nullptr, 0, kClose | kRefresh},
    {E::PinLocked, "the user PIN is locked", Messages::kPinLocked, kNotice, MB_ICONHAND, kRefresh},
    {E::WrongPin, "wrong PIN", Messages::kPinIncorrect, kNotice, kInfo, kRefresh},
    {E::LoginRefused, "the login refused", Messages::kLoginRefused, kNotice, kInfo, kRefresh},
    {E::TokenGone, "the token went away at the login", kGone, kNotice, kInfo, kRefresh},
    {E::StaleSession, "the token or its session changed while the user was asked", kGone, kNotice, kInfo, kRefresh},
    {E::StaleAfterLogin, "the token or its session changed during the login", kGone, kNotice, kInfo,
     kLogOut | kRefresh},
    {E::FindPubKeyFailed, "a public key not found", Messages::kFindPubKeyFailed, nullptr, MB_OK,
     kLogOut | kClose | kRefresh},
    {E::DeletePubKeyFailed, "a public key not destroyed", Messages::kDeletePubKeyFailed, nullptr, MB_OK,
     kLogOut | kClose | kRefresh},
    {E::FindPrivKeyFailed, "a private key not found", Messages::kFindPrivKeyFailed, nullptr, MB_OK,
     kLogOut | kClose | kRefresh},
    {E::DeletePrivKeyFailed, "a private key not destroyed", Messages::kDeletePrivKeyFailed, nullptr, MB_OK,
     kLogOut | kClose | kRefresh},
    {E::DeleteCertFailed, "a certificate not destroyed", Messages::kDeleteCertFailed, nullptr, MB_OK,
     kLogOut | kClose | kRefresh},
    {E::NotKept, "a certificate could not be kept before its destroy", Messages::kArchiveFailed, kNotice,
     MB_ICONHAND, kLogOut | kClose | kRefresh},
    {E::Removed, "every red certificate handled", nullptr, nullptr, 0, kLogOut | kTellDone | kRefresh},
};

constexpr bool EveryEndInItsRow()
{
    for (std::size_t i = 0; i < std::size(kEnds); ++i) {
        if (kEnds[i].eEnd != static_cast<ERemovalEnd>(i))
            return false;
    }
    return std::size(kEnds) == static_cast<std::size_t>(ERemovalEnd::Removed) + 1;
}
static_assert(EveryEndInItsRow(), "one row for each ERemovalEnd, in its order");

const SEndRow& RowOf(ERemovalEnd end)
{
    return kEnds[static_cast<std::size_t>(end)];
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
    Finish(Remove(table));
}

// The steps in turn, up to the first that ends the run.
SRemovalEnd CExpiredRemoval::Remove(CertTable& table)
{
    if (std::optional<SRemovalEnd> end = ScanForRemoval(table))
        return *end;
    if (std::optional<SRemovalEnd> end = Confirm(table))
        return *end;
    if (std::optional<SRemovalEnd> end = LogIn())
        return *end;
    return DeleteMarked(table);
}

// Scans the token on a new session 0; the run goes on when something is red.
std::optional<SRemovalEnd> CExpiredRemoval::ScanForRemoval(CertTable& table)
{
    switch (ScanListedToken(m_token, table, m_clock, &m_scannedToken, CTokenModule::EAccess::ReadWrite)) {
    case ScanResult::Scanned:
        break;
    case ScanResult::SessionFailed:
        return ERemovalEnd::SessionFailed;
    case ScanResult::FindFailed:
        // The module's answer is in the token's debug log.
        m_token.Log().Warning(ETopic::Removal, "the certificate search refused: nothing deleted");
        return ERemovalEnd::FindCertificatesFailed;
    case ScanResult::NoCertificates:
        return ERemovalEnd::NoCertificates;
    default:
        return ERemovalEnd::NoToken;
    }
    const std::size_t marked = MarkedCount(table);
    Log(std::to_string(marked) + " of " + std::to_string(table.nCount) + " certificates red on token '" +
        m_scannedToken.strLabel + "', serial " + m_scannedToken.strSerial);
    if (marked == 0)
        return ERemovalEnd::NothingMarked;
    return std::nullopt;
}

std::optional<SRemovalEnd> CExpiredRemoval::Confirm(const CertTable& table)
{
    // What is deleted is what the user confirms: the list shows this run's
    // table, not what an earlier refresh found.
    m_host.ShowTable(table);
    // The red rows stay red: no PIN is asked for what cannot be done.
    if (WriteProtected())
        return ERemovalEnd::WriteProtected;
    // Handles of the scan are good only while its session is: a token pulled
    // out or swapped while the user is asked, or a refresh by the monitor,
    // ends the session they belong to.
    m_ulSessionSerial = m_token.SessionSerial();
    m_ulTokenEvents = m_host.TokenEventsHandled();
    // The user sees what goes before confirming: each red certificate, what
    // goes with it, and whether what was encrypted to it becomes unreadable.
    CRemovalPlan plan;
    if (CK_RV rv = plan.Read(m_token, table); rv != CKR_OK)
        return SRemovalEnd(ERemovalEnd::PlanRefused, "A search for what goes with a red certificate returned " +
                                                         CCkrNames::Of(rv) + ". Nothing was asked or deleted.");
    const std::string warning = plan.AnyDecryptionKeyGoes() ? Messages::kDecryptionKeysGo : "";
    if (m_prompts.MessageBoxWithInformation(m_host.PromptOwner(), Messages::kConfirmDelete, Messages::kConfirmCaption,
                                            MB_OKCANCEL, warning, plan.Details()) == IDCANCEL)
        return ERemovalEnd::Declined;
    return std::nullopt;
}

// The PIN goes only to the token whose certificates the user was shown,
// and what that token says of its PIN decides how it is asked for.
std::optional<SRemovalEnd> CExpiredRemoval::LogIn()
{
    STokenIdentity now;
    if (SessionChanged() || m_token.ReadTokenIdentity(0, now) != CKR_OK || !now.IsSameToken(m_scannedToken))
        return ERemovalEnd::StaleSession;
    if (std::optional<SRemovalEnd> end = PinMayBeAskedFor(now.ulFlags))
        return end;
    if (now.ulFlags & CKF_PROTECTED_AUTHENTICATION_PATH)
        return LogInOnKeypad();
    return LogInWithTypedPin();
}

// A locked PIN is told at once, and a last try only spent when the user
// says so.
std::optional<SRemovalEnd> CExpiredRemoval::PinMayBeAskedFor(CK_FLAGS flags)
{
    if (flags & CKF_USER_PIN_LOCKED) {
        Log("the token says its user PIN is locked: no PIN asked");
        return ERemovalEnd::PinLocked;
    }
    if (flags & CKF_USER_PIN_COUNT_LOW)
        m_token.Log().Warning(ETopic::Removal, "the token has counted a wrong user PIN since the last right one");
    if ((flags & CKF_USER_PIN_FINAL_TRY) &&
        MessageBox(Messages::kPinFinalTry, Messages::kNoticeCaption, MB_OKCANCEL | MB_ICONEXCLAMATION) == IDCANCEL) {
        Log("one PIN try left, and the user stopped");
        return ERemovalEnd::Declined;
    }
    return std::nullopt;
}

std::optional<SRemovalEnd> CExpiredRemoval::LogInWithTypedPin()
{
    CPinDlg dlgPin(m_host.PromptOwner(), &m_prompts);
    int answer = m_prompts.RunPinDialog(dlgPin);
    if (answer != IDOK || SessionChanged()) {
        dlgPin.WipePin();
        return answer != IDOK ? ERemovalEnd::PinNotGiven : ERemovalEnd::StaleSession;
    }
    CK_RV rv = m_token.Login(0, reinterpret_cast<const unsigned char*>(dlgPin.m_strPin.data()),
                             static_cast<CK_ULONG>(dlgPin.m_strPin.size()));
    dlgPin.WipePin();
    return LoginEnd(rv);
}

// The token's own keypad takes the PIN: the login waits for it, holding the
// module, so token events meanwhile are only counted; any of them makes
// the scan's handles suspect, and the run is abandoned.
std::optional<SRemovalEnd> CExpiredRemoval::LogInOnKeypad()
{
    if (SessionChanged())
        return ERemovalEnd::StaleSession;
    Log("the PIN is entered on the token's keypad");
    m_host.HoldTokenEvents(true);
    CK_RV rv = m_prompts.LoginOnKeypad(m_host.PromptOwner(), [this] { return m_token.Login(0, nullptr, 0); });
    m_host.HoldTokenEvents(false);
    if (SessionChanged())
        return rv == CKR_OK ? ERemovalEnd::StaleAfterLogin : ERemovalEnd::StaleSession;
    return LoginEnd(rv);
}

// The token says so, or refused the scan a session that may write.
bool CExpiredRemoval::WriteProtected() const
{
    return (m_scannedToken.ulFlags & CKF_WRITE_PROTECTED) != 0 ||
           m_token.SessionAccess(0) != CTokenModule::EAccess::ReadWrite;
}

bool CExpiredRemoval::SessionChanged() const
{
    return m_token.SessionSerial() != m_ulSessionSerial || m_host.TokenEventsHandled() != m_ulTokenEvents;
}

// Every refusal of the login is told. A wrong PIN is the user's mistake;
// any other refusal is the journal's too.
std::optional<SRemovalEnd> CExpiredRemoval::LoginEnd(CK_RV rv)
{
    if (rv == CKR_OK) {
        Log("logged in");
        return std::nullopt;
    }
    if (rv == CKR_PIN_INCORRECT)
        return WrongPinEnd();
    if (rv == CKR_PIN_LEN_RANGE)
        return ERemovalEnd::WrongPin;
    Refused("the login (nothing deleted)", rv);
    if (rv == CKR_PIN_LOCKED)
        return ERemovalEnd::PinLocked;
    if (TokenGone(rv))
        return ERemovalEnd::TokenGone;
    return SRemovalEnd(ERemovalEnd::LoginRefused, "C_Login returned " + CCkrNames::Of(rv) + ". Nothing was deleted.");
}

// Some modules answer the try that locks the PIN as any wrong one: the
// token's flags tell.
ERemovalEnd CExpiredRemoval::WrongPinEnd()
{
    STokenIdentity now;
    if (m_token.ReadTokenIdentity(0, now) == CKR_OK && (now.ulFlags & CKF_USER_PIN_LOCKED)) {
        Log("the wrong PIN locked the user PIN");
        return ERemovalEnd::PinLocked;
    }
    return ERemovalEnd::WrongPin;
}

// Destroys every marked certificate with its keys, in table order, up to
// the first refusal.
SRemovalEnd CExpiredRemoval::DeleteMarked(const CertTable& table)
{
    m_archive.emplace(CRemovedArchive::DataHome(), m_scannedToken, m_token.Log());
    for (CK_ULONG i = 0; i < table.nCount; ++i) {
        if (table.records[i].nMark != 1)
            continue;
        if (std::optional<SRemovalEnd> failed = RemoveRecord(table, table.records[i]))
            return *failed;
    }
    return ERemovalEnd::Removed;
}

// Every run ends here, as its row says.
void CExpiredRemoval::Finish(const SRemovalEnd& end)
{
    const SEndRow& row = RowOf(end.eEnd);
    if (row.follows & kLogOut)
        m_token.Logout(0);
    Log(std::string("the run ends: ") + row.pszWhy + (row.follows & kLogOut ? ", logged out" : ""));
    if (row.pszText != nullptr)
        MessageBox((row.pszText + end.strMore).c_str(), row.pszCaption, row.type, end.strDetails);
    // The completion notice tells where the certificates deleted were kept.
    if (row.follows & kTellDone)
        MessageBox(Messages::kDeleted, Messages::kNoticeCaption, MB_OK, m_archive ? m_archive->Details() : "");
    if (row.follows & kClose)
        m_token.Close();
    // After a refusal midway earlier records may be gone: the list shows
    // what is left.
    if (row.follows & kRefresh)
        m_host.RefreshList();
}

// One marked record: its own keys are found before anything is destroyed,
// so a search that fails or cannot tell its keys apart leaves the record
// whole. Then its public key, its private key, and the certificate last:
// the certificate is what leads a removal to the keys, so a run stopped
// anywhere leaves it red for the next run to finish. Nothing of it goes
// before the certificate is kept. The step refused, if any.
std::optional<SRemovalEnd> CExpiredRemoval::RemoveRecord(const CertTable& table, const CertRecord& record)
{
    Log(Named(record) + ": its keys are looked for first");
    CTokenModule::SFoundKeys pubKeys;
    CTokenModule::SFoundKeys privKeys;
    bool bKeys = false;
    if (std::optional<ERemovalEnd> failed = FindOwnKeys(table, record, pubKeys, privKeys, bKeys))
        return failed;
    if (std::optional<SRemovalEnd> failed = KeepCopy(record))
        return failed;
    if (CK_RV rv = bKeys ? m_token.DestroyPubKey(pubKeys) : CKR_OK; rv != CKR_OK) {
        Refused(Named(record) + ": destroying its public key", rv);
        return ERemovalEnd::DeletePubKeyFailed;
    }
    if (CK_RV rv = bKeys ? m_token.DestroyPrivKey(privKeys) : CKR_OK; rv != CKR_OK) {
        Refused(Named(record) + ": destroying its private key", rv);
        return ERemovalEnd::DeletePrivKeyFailed;
    }
    if (CK_RV rv = m_token.DestroyCertificate(record.hCertObject); rv != CKR_OK) {
        Refused(Named(record) + ": destroying it", rv);
        return ERemovalEnd::DeleteCertFailed;
    }
    return std::nullopt;
}

// The certificate in the archive, on the disk, or the run stops before
// anything of it is destroyed.
std::optional<SRemovalEnd> CExpiredRemoval::KeepCopy(const CertRecord& record)
{
    CRemovedArchive::SKept kept = m_archive->Keep(record.strCertDer, record.strDisplayName, m_clock.GetSystemTime());
    if (kept.bKept)
        return std::nullopt;
    m_token.Log().Warning(ETopic::Removal, Named(record) + ": not kept in " + kept.strFile + " (" + kept.strReason +
                                               "): nothing of it destroyed");
    return SRemovalEnd(ERemovalEnd::NotKept, {},
                       std::string("\n") + Messages::kArchiveFile + kept.strFile + "\n" + Messages::kArchiveReason +
                           kept.strReason);
}

// Finds the record's own public and private keys; a search that finds none
// is no failure. `bKeys` is false when the keys stay whatever they are: no
// identifier names no key, and another certificate may still use them.
std::optional<ERemovalEnd> CExpiredRemoval::FindOwnKeys(const CertTable& table, const CertRecord& record,
                                                        CTokenModule::SFoundKeys& pubKeys,
                                                        CTokenModule::SFoundKeys& privKeys, bool& bKeys)
{
    bKeys = false;
    if (!CKeyPairRule::HasId(record)) {
        Log(Named(record) + ": no ID, so no key is its own; keys kept");
        return std::nullopt;
    }
    const unsigned char* pId = record.pId.get();
    bool bInUse = false;
    if (!KeysStillInUse(table, record, bInUse))
        return ERemovalEnd::FindPubKeyFailed;
    if (bInUse) {
        Log(Named(record) + ": another certificate on the token carries the ID; keys kept");
        return std::nullopt;
    }
    CK_SESSION_HANDLE session = m_token.Session(0);
    if (CK_RV rv = m_token.FindPubKey(session, pId, record.ulIdLen, record.key, pubKeys); rv != CKR_OK) {
        Refused(Named(record) + ": the search for its public key", rv);
        return ERemovalEnd::FindPubKeyFailed;
    }
    if (CK_RV rv = m_token.FindPrivKey(session, pId, record.ulIdLen, record.key, pubKeys.ulKeyType, privKeys);
        rv != CKR_OK) {
        Refused(Named(record) + ": the search for its private key", rv);
        return ERemovalEnd::FindPrivKeyFailed;
    }
    bKeys = true;
    return std::nullopt;
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
    bInUse = CKeyPairRule::Judge(table, record, holders).eFate == CKeyPairRule::EFate::KeptInUse;
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

int CExpiredRemoval::MessageBox(const char* text, const char* caption, UINT type, const std::string& details)
{
    QByteArray appName = QCoreApplication::applicationName().toUtf8();
    const char* shown = caption != nullptr ? caption : appName.constData();
    if (!details.empty())
        return m_prompts.MessageBoxWithDetails(m_host.PromptOwner(), text, shown, type, details);
    return m_prompts.MessageBox(m_host.PromptOwner(), text, shown, type);
}
