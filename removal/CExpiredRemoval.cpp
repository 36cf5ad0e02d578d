#include "removal/CExpiredRemoval.h"

#include "inventory/BuildCertTable.h"
#include "inventory/InventoryMessages.h"
#include "platform/CMessageBox.h"
#include "platform/StandardIds.h"
#include "removal/CPinDlg.h"
#include "removal/RemovalMessages.h"

#include <QByteArray>
#include <QCoreApplication>

#include <algorithm>

namespace {

// The whole CKA_ID, zero bytes included.
std::string KeyId(const CertRecord& record)
{
    return std::string(reinterpret_cast<const char*>(record.pId.get()), record.ulIdLen);
}

// A key pair by its key type and whole CKA_ID: one ID may name pairs of two
// types, each the pair of its own certificate.
std::string KeyPairName(const CertRecord& record)
{
    return std::to_string(record.ulKeyType) + ':' + KeyId(record);
}

bool AnyMarked(const CertTable& table)
{
    return std::any_of(table.records.begin(), table.records.begin() + table.nCount,
                       [](const CertRecord& r) { return r.nMark == 1; });
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
    if (!AnyMarked(table)) {
        MessageBox(Messages::kNothingExpired, Messages::kNoticeCaption, MB_OK);
        m_token.Close();
        m_host.RefreshList();
        return;
    }
    // What is deleted is what the user confirms: the list shows this run's
    // table, not what an earlier refresh found.
    m_host.ShowTable(table);
    if (ConfirmAndLogIn())
        DeleteMarked(table);
}

// Scans the token on a new session 0; false (after its message) when there
// is nothing to go on with.
bool CExpiredRemoval::ScanForRemoval(CertTable& table)
{
    if (m_token.m_ulSlotCount == 0)
        return false;
    if (m_token.OpenSession(0) != CKR_OK) {
        MessageBox(Messages::kCommunicationFailed, Messages::kNoticeCaption, MB_ICONINFORMATION);
        return false;
    }
    if (m_token.FindCertificates(m_token.m_hSessions[0], &m_token.m_ulCertCount) != CKR_OK) {
        MessageBox(Messages::kFindCertificatesFailed, Messages::kNoticeCaption, MB_ICONINFORMATION);
        return false;
    }
    if (m_token.m_ulCertCount == 0) {
        MessageBox(Messages::kNoCertificates, nullptr, MB_OK);
        return false;
    }
    BuildCertTable(m_token, table, m_clock);
    return true;
}

// Asks for the confirmation and the PIN and logs in; false when the run ends.
bool CExpiredRemoval::ConfirmAndLogIn()
{
    // Handles of the scan are good only while its session is: a token pulled
    // out or swapped while the user is asked, or a refresh by the monitor,
    // ends the session they belong to.
    const unsigned long sessionSerial = m_token.SessionSerial();
    const unsigned long tokenEvents = m_host.TokenEventsHandled();
    auto sessionChanged = [&] { return m_token.SessionSerial() != sessionSerial || m_host.TokenEventsHandled() != tokenEvents; };

    if (MessageBox(Messages::kConfirmDelete, Messages::kConfirmCaption, MB_OKCANCEL) == IDCANCEL) {
        m_token.Close();
        m_host.RefreshList();
        return false;
    }
    if (sessionChanged()) {
        AbandonStaleRemoval();
        return false;
    }
    CPinDlg dlgPin(m_host.PromptOwner(), &m_prompts);
    int answer = m_prompts.RunPinDialog(dlgPin);
    if (answer != IDOK || sessionChanged()) {
        dlgPin.WipePin();
        if (answer != IDOK) {
            m_token.Close();
            m_host.RefreshList();
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

bool CExpiredRemoval::LoginSucceeded(CK_RV rv)
{
    if (rv == CKR_OK)
        return true;
    if (rv == CKR_PIN_INCORRECT)
        MessageBox(Messages::kPinIncorrect, Messages::kNoticeCaption, MB_ICONINFORMATION);
    else if (rv == CKR_PIN_LOCKED)
        MessageBox(Messages::kPinLocked, Messages::kNoticeCaption, MB_ICONHAND);
    else if (TokenWentAway(rv))
        MessageBox(Messages::kCommunicationFailed, Messages::kNoticeCaption, MB_ICONINFORMATION);
    m_host.RefreshList();
    return false;
}

// Destroys every marked certificate with its keys, in table order.
void CExpiredRemoval::DeleteMarked(const CertTable& table)
{
    std::vector<std::string> keysRemoved;
    for (CK_ULONG i = 0; i < table.nCount; ++i) {
        if (table.records[i].nMark != 1)
            continue;
        if (m_token.DestroyCertificate(table.records[i].hCertObject) != CKR_OK) {
            MessageBox(Messages::kDeleteCertFailed, nullptr, MB_OK);
            m_token.Close();
            // Earlier records may be gone already: the list shows what is left.
            m_host.RefreshList();
            return;
        }
        if (!DestroyRecord(table, i, keysRemoved))
            break;
    }
    MessageBox(Messages::kDeleted, Messages::kNoticeCaption, MB_OK);
    m_host.RefreshList();
}

// The token went away or its session was replaced while the user was being
// asked: nothing is deleted through the handles of the earlier scan.
void CExpiredRemoval::AbandonStaleRemoval()
{
    MessageBox(Messages::kCommunicationFailed, Messages::kNoticeCaption, MB_ICONINFORMATION);
    m_host.RefreshList();
}

// The key pair of a marked record whose certificate is gone, of the type of
// the certificate's own key; false (after its message) when a key could not
// be found or destroyed.
bool CExpiredRemoval::DestroyRecord(const CertTable& table, CK_ULONG index, std::vector<std::string>& keysRemoved)
{
    const CertRecord& record = table.records[index];
    std::string id = KeyId(record);
    std::string pair = KeyPairName(record);
    // No identifier names no key; a pair already handled for an earlier
    // record is gone with it.
    if (id.empty() || std::find(keysRemoved.begin(), keysRemoved.end(), pair) != keysRemoved.end())
        return true;
    const auto* pId = reinterpret_cast<const unsigned char*>(id.data());
    const auto idLen = static_cast<CK_ULONG>(id.size());
    CK_SESSION_HANDLE session = m_token.m_hSessions[0];
    const char* failure = nullptr;
    bool bKept = false;
    if (!KeysStillInUse(table, pId, idLen, bKept))
        failure = Messages::kFindPubKeyFailed;
    else if (bKept)
        return true;
    else if (m_token.FindPubKey(session, pId, idLen, record.ulKeyType) != CKR_OK)
        failure = Messages::kFindPubKeyFailed;
    else if (m_token.DestroyPubKey() != CKR_OK)
        failure = Messages::kDeletePubKeyFailed;
    else if (m_token.FindPrivKey(session, pId, idLen, record.ulKeyType) != CKR_OK)
        failure = Messages::kFindPrivKeyFailed;
    else if (m_token.DestroyPrivKey() != CKR_OK)
        failure = Messages::kDeletePrivKeyFailed;
    if (failure != nullptr) {
        MessageBox(failure, nullptr, MB_OK);
        return false;
    }
    keysRemoved.push_back(pair);
    return true;
}

// A renewed certificate often keeps its predecessor's key pair, and it may
// lie beyond what the scan saw: the keys stay while any certificate on the
// token that this run does not delete carries the same CKA_ID. False when
// the token could not be asked.
bool CExpiredRemoval::KeysStillInUse(const CertTable& table, const unsigned char* id, CK_ULONG idLen, bool& bInUse)
{
    std::vector<CK_OBJECT_HANDLE> holders;
    if (m_token.FindCertificatesWithId(m_token.m_hSessions[0], id, idLen, holders) != CKR_OK)
        return false;
    bInUse = std::any_of(holders.begin(), holders.end(),
                         [&table](CK_OBJECT_HANDLE h) { return !IsMarkedObject(table, h); });
    return true;
}

int CExpiredRemoval::MessageBox(const char* text, const char* caption, UINT type)
{
    QByteArray appName = QCoreApplication::applicationName().toUtf8();
    return m_prompts.MessageBox(m_host.PromptOwner(), text, caption != nullptr ? caption : appName.constData(), type);
}
