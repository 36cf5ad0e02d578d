#pragma once

#include "token/CCertKey.h"
#include "token/CKeyPairSearch.h"
#include "token/CModuleLibrary.h"
#include "token/CObjectSearch.h"
#include "token/CSlotSelection.h"
#include "token/CTokenChoice.h"
#include "token/CTokenLog.h"
#include "token/CTokenWatch.h"
#include "token/IPresencePort.h"
#include "token/Pkcs11.h"
#include "token/SLoadResult.h"
#include "token/STokenIdentity.h"
#include "token/TokenLimits.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

// Sessions held at once; only index 0 is used.
constexpr CK_ULONG MAX_SESSIONS = 4;

// The one wrapper around the token's PKCS#11 module: every operation the
// window, the scan, the removal, certpurge-list and the monitor need. Each
// holds the module (CModuleLibrary) for its whole course and hands the work
// to the part whose job it is: the slot selection, the object and key-pair
// searches, the destroyer. It keeps what callers read between operations:
// the slots, the sessions, the certificates last found. The keys a search
// finds are the caller's, handed to the destroy that follows.
class CTokenModule : public IPresencePort {
public:
    // Results of this class's own, beside the module's CK_RV values.
    static constexpr CK_RV RV_NO_FUNCTION_LIST = CModuleLibrary::RV_NO_FUNCTION_LIST;
    static constexpr CK_RV RV_BUFFER_TOO_SMALL = CObjectSearch::RV_BUFFER_TOO_SMALL;
    static constexpr CK_RV RV_KEY_AMBIGUOUS = CKeyPairSearch::RV_KEY_AMBIGUOUS;
    static constexpr CK_RV RV_BAD_LENGTH = CObjectSearch::RV_BAD_LENGTH;
    static constexpr CK_RV RV_MODULE_BUSY = CModuleLibrary::RV_MODULE_BUSY;
    static constexpr std::chrono::milliseconds kLockTimeout = CModuleLibrary::kLockTimeout;

    // What a session may do: read, as every listing does, or also write,
    // as a removal must.
    enum class EAccess { Read, ReadWrite };
    // The key objects a search chose, for the destroy that follows.
    using SFoundKeys = CKeyPairSearch::SFound;

    static constexpr CK_ULONG MAX_ATTRIBUTE_LEN = CObjectSearch::MAX_ATTRIBUTE_LEN;
    static constexpr CK_ULONG MAX_KEY_VALUE_LEN = CKeyPairSearch::MAX_KEY_VALUE_LEN;
    static constexpr CK_ULONG MAX_SLOTS = CSlotSelection::MAX_SLOTS;

    // A caller finds the module busy once another has held it `lockTimeout`.
    explicit CTokenModule(std::chrono::milliseconds lockTimeout = kLockTimeout);
    // Finalises a module still initialised and unloads it.
    ~CTokenModule() override;
    CTokenModule(const CTokenModule&) = delete;
    CTokenModule& operator=(const CTokenModule&) = delete;

    SLoadResult Load(const char* fileName);
    // The log this class, and whoever works through it, writes to; set
    // before any other thread uses the module.
    void SetLog(CTokenLog log) { m_library.SetLog(std::move(log)); }
    const CTokenLog& Log() const override { return m_library.Log(); }
    // Which tokens the slot listing takes; any initialised one by default.
    void SetTokenChoice(CTokenChoice choice);
    // Lists the slots whose token the choice accepts, in the module's order,
    // but for the token listed last, which keeps its place at the head: a
    // token put in beside it does not take over.
    CK_RV GetSlotList();
    CK_RV GetTokenInfo(CK_SLOT_ID slotId, CK_TOKEN_INFO* info);
    // A write-protected token refuses a session that would write with
    // CKR_TOKEN_WRITE_PROTECTED.
    CK_RV OpenSession(CK_ULONG index, EAccess access = EAccess::Read);
    // Without a PIN, the user types it on the token's keypad, which takes
    // as long as they need: every other caller finds the module busy at
    // once until the login answers.
    CK_RV Login(CK_ULONG index, const unsigned char* pin, CK_ULONG pinLen);
    // 0 also when the session was not logged in.
    CK_RV Logout(CK_ULONG index);
    // Every X.509 certificate the search hands out, in its order, each once.
    CK_RV FindCertificates(CK_SESSION_HANDLE session, CK_ULONG* count);
    CK_RV ReadCertificate(CK_ULONG index, unsigned char* value, CK_ULONG* valueLen, unsigned char* id,
                          CK_ULONG* idLen);
    CK_RV DestroyCertificate(CK_OBJECT_HANDLE cert);
    // Key searches find every key of the class, the certificate key's type
    // and the whole identifier, zero bytes included, and give the ones
    // shown to be the certificate's own (see CCertKey::Choose) in `found`.
    // Finding none is no failure: the destroy that follows then destroys
    // nothing. RV_KEY_AMBIGUOUS when several remain that cannot be told
    // apart. For a key of no type the searches know, the private key search
    // takes the type the public key search found (`pubKeyType`).
    CK_RV FindPubKey(CK_SESSION_HANDLE session, const unsigned char* id, CK_ULONG idLen, const CCertKey& key,
                     SFoundKeys& found);
    CK_RV FindPrivKey(CK_SESSION_HANDLE session, const unsigned char* id, CK_ULONG idLen, const CCertKey& key,
                      CK_KEY_TYPE pubKeyType, SFoundKeys& found);
    // Destroys the keys a search found, on session 0, stopping at the first
    // the module refuses. The handles are used once: `found` is emptied.
    CK_RV DestroyPubKey(SFoundKeys& found);
    CK_RV DestroyPrivKey(SFoundKeys& found);
    CK_RV Close();

    // Every certificate object on the token carrying exactly this CKA_ID
    // (all of them, however many), so a caller can tell whether a key
    // pair still belongs to a certificate it keeps.
    CK_RV FindCertificatesWithId(CK_SESSION_HANDLE session, const unsigned char* id, CK_ULONG idLen,
                                 std::vector<CK_OBJECT_HANDLE>& found);
    static constexpr CK_ULONG MAX_ID_MATCHES = CObjectSearch::MAX_ID_MATCHES;

    // The presence monitor's port, for its thread. Reinitialising leaves
    // the window's slot list alone.
    bool HasFunctionList() const override;
    CK_RV WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID* slot, EOrigin* origin = nullptr) override;
    CK_RV GetSlotInfo(CK_SLOT_ID slotId, CK_SLOT_INFO* info, EOrigin* origin = nullptr) override;
    CK_RV ReinitializeForMonitor(std::vector<CK_SLOT_ID>& present, EOrigin* origin = nullptr) override;
    CK_RV ListPresentSlots(std::vector<CK_SLOT_ID>& present, EOrigin* origin = nullptr) override;
    CK_RV ReadTokenInfo(CK_SLOT_ID slotId, CK_TOKEN_INFO* info, EOrigin* origin = nullptr) override;
    CK_RV WatchToken(CK_SLOT_ID slotId, EOrigin* origin = nullptr) override;
    CK_RV CheckWatch(CK_SLOT_ID slotId, EWatch* watch, EOrigin* origin = nullptr) override;
    void EndWatches() override;

    // Through p11-kit's proxy taken in place of a missing module, tokens of
    // fixed slots (software, a TPM) are taken only when a URI names them.
    void SetRemovableOnly(bool bOnly);

    // Every slot that held a token at the last slot listing, accepted or not.
    std::vector<CK_SLOT_ID> SlotList() const;
    // The token of the first listed slot, as the last listing read it;
    // null while no slot is listed.
    std::optional<STokenIdentity> ListedToken() const;
    // Who the token in a listed slot is now.
    CK_RV ReadTokenIdentity(CK_ULONG index, STokenIdentity& identity);
    // Every token present that the choice's URI matches, initialised or
    // not, in the module's order; the module must be loaded. Leaves the
    // slot list as it is.
    CK_RV ListTokens(const CTokenChoice& choice, std::vector<STokenIdentity>& tokens);

    // Changes whenever session 0 is opened or ended, so a caller can tell
    // that handles it holds belong to an earlier session.
    unsigned long SessionSerial() const;

    // What the last operations left, for the window's thread, which alone
    // changes it. Slots that held an accepted token at the last listing (at
    // least 1: a token is there); a session's handle (0: none) and what it
    // may do; the certificates the last search found.
    CK_ULONG SlotCount() const { return m_ulSlotCount; }
    CK_SESSION_HANDLE Session(CK_ULONG index) const
    {
        return index < MAX_SESSIONS ? m_hSessions[index] : CK_INVALID_HANDLE;
    }
    EAccess SessionAccess(CK_ULONG index) const
    {
        return index < MAX_SESSIONS ? m_eSessionAccess[index] : EAccess::Read;
    }
    CK_ULONG CertCount() const { return static_cast<CK_ULONG>(m_hCerts.size()); }
    CK_OBJECT_HANDLE CertObject(CK_ULONG index) const
    {
        return index < m_hCerts.size() ? m_hCerts[index] : CK_INVALID_HANDLE;
    }

private:
    using CGuard = CModuleLibrary::CGuard;

    // A call of the monitor's, telling where its answer came from.
    template <typename Fn, typename... Args>
    CK_RV CallForMonitor(EOrigin* origin, Fn CK_FUNCTION_LIST::*fn, Args... args)
    {
        SetOrigin(origin, EOrigin::Wrapper);
        return m_library.Run([&](CGuard& module) -> CK_RV {
            if (!module.HasFunctionList())
                return RV_NO_FUNCTION_LIST;
            SetOrigin(origin, EOrigin::Module);
            return module.Call(fn, args...);
        });
    }
    static void SetOrigin(EOrigin* origin, EOrigin value)
    {
        if (origin != nullptr)
            *origin = value;
    }

    // The slot of session 0, for the log.
    CK_SLOT_ID SessionSlot() const;
    void Finalize(CGuard& module);
    void ReleaseSlotList();
    void ForgetSessions();
    // Back to the state of a new object, after the library was unloaded.
    void Empty();

    CK_RV DestroyKeys(const char* step, const char* what, SFoundKeys& found);

    // mutable: the readers that change nothing hold the module too.
    mutable CModuleLibrary m_library;
    CSlotSelection m_slots;
    CTokenWatch m_watch;  // the monitor's sessions, for a module without slot events

    // Changed by the window's thread alone, with the module held.
    CK_ULONG m_ulSlotCount = 0;
    std::vector<CK_OBJECT_HANDLE> m_hCerts;
    CK_SESSION_HANDLE m_hSessions[MAX_SESSIONS] = {};
    EAccess m_eSessionAccess[MAX_SESSIONS] = {};
    std::atomic<unsigned long> m_ulSessionSerial{0};
};

// The layer's own results are told from every answer a module gives in
// the standard's range.
static_assert((CTokenModule::RV_NO_FUNCTION_LIST & CKR_VENDOR_DEFINED) != 0 &&
                  (CTokenModule::RV_BUFFER_TOO_SMALL & CKR_VENDOR_DEFINED) != 0 &&
                  (CTokenModule::RV_KEY_AMBIGUOUS & CKR_VENDOR_DEFINED) != 0 &&
                  (CTokenModule::RV_BAD_LENGTH & CKR_VENDOR_DEFINED) != 0 &&
                  (CTokenModule::RV_MODULE_BUSY & CKR_VENDOR_DEFINED) != 0,
              "the token layer's own results lie in the vendor-defined range");
