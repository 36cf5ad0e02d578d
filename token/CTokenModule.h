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
// the slots, the sessions, the certificates and keys last found.
class CTokenModule : public IPresencePort {
public:
    // Results of this class's own, beside the module's CK_RV values.
    static constexpr CK_RV RV_NO_FUNCTION_LIST = CModuleLibrary::RV_NO_FUNCTION_LIST;
    static constexpr CK_RV RV_BUFFER_TOO_SMALL = CObjectSearch::RV_BUFFER_TOO_SMALL;
    static constexpr CK_RV RV_KEY_AMBIGUOUS = CKeyPairSearch::RV_KEY_AMBIGUOUS;
    static constexpr CK_RV RV_BAD_LENGTH = CObjectSearch::RV_BAD_LENGTH;
    static constexpr CK_RV RV_MODULE_BUSY = CModuleLibrary::RV_MODULE_BUSY;
    static constexpr std::chrono::milliseconds kLockTimeout = CModuleLibrary::kLockTimeout;

    static constexpr CK_ULONG MAX_ATTRIBUTE_LEN = CObjectSearch::MAX_ATTRIBUTE_LEN;
    static constexpr CK_ULONG MAX_KEY_VALUE_LEN = CKeyPairSearch::MAX_KEY_VALUE_LEN;
    static constexpr CK_ULONG MAX_SLOTS = CSlotSelection::MAX_SLOTS;

    CTokenModule();
    // Finalises a module still initialised and unloads it.
    ~CTokenModule() override;
    CTokenModule(const CTokenModule&) = delete;
    CTokenModule& operator=(const CTokenModule&) = delete;

    CK_RV Load(const char* fileName);
    // Where the last failed Load failed (see CModuleLibrary::ELoadStep).
    using ELoadStep = CModuleLibrary::ELoadStep;
    ELoadStep LastLoadStep() const;
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
    CK_RV OpenSession(CK_ULONG index);
    CK_RV Login(CK_ULONG index, const unsigned char* pin, CK_ULONG pinLen);
    // 0 also when the session was not logged in.
    CK_RV Logout(CK_ULONG index);
    CK_RV FindCertificates(CK_SESSION_HANDLE session, CK_ULONG* count);
    CK_RV ReadCertificate(CK_ULONG index, unsigned char* value, CK_ULONG* valueLen, unsigned char* id,
                          CK_ULONG* idLen);
    CK_RV DestroyCertificate(CK_OBJECT_HANDLE cert);
    // Key searches find every key of the class, the certificate key's type
    // and the whole identifier, zero bytes included, and keep the ones
    // shown to be the certificate's own (see CCertKey::Choose). Finding
    // none is no failure: the destroy that follows then destroys nothing.
    // RV_KEY_AMBIGUOUS when several remain that cannot be told apart. For
    // a key of no type the searches know, the private key search follows
    // the public key search before it.
    CK_RV FindPubKey(CK_SESSION_HANDLE session, const unsigned char* id, CK_ULONG idLen, const CCertKey& key);
    CK_RV DestroyPubKey();
    CK_RV FindPrivKey(CK_SESSION_HANDLE session, const unsigned char* id, CK_ULONG idLen, const CCertKey& key);
    CK_RV DestroyPrivKey();
    CK_RV Close();

    // Every certificate object on the token carrying exactly this CKA_ID
    // (at most MAX_ID_MATCHES of them), so a caller can tell whether a key
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
    // The loader's message for the last failed load.
    std::string LastLoadError() const;

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

    // mutable: the readers that change nothing hold the module too.
    mutable CModuleLibrary m_library;
    CSlotSelection m_slots;
    CTokenWatch m_watch;  // the monitor's sessions, for a module without slot events

public:
    // Read directly by the window's thread, which alone changes them.
    CK_ULONG m_ulSlotCount = 0;
    CK_OBJECT_HANDLE m_hCerts[MAX_CERTS] = {};
    CK_ULONG m_ulCertCount = 0;
    CK_SESSION_HANDLE m_hSessions[MAX_SESSIONS] = {};

private:
    // The keys the last searches chose, destroyed by the next destroy.
    std::vector<CK_OBJECT_HANDLE> m_hPubKeys;
    std::vector<CK_OBJECT_HANDLE> m_hPrivKeys;
    // The type of the public keys the last search chose, when one.
    CK_KEY_TYPE m_ulPubKeyType = CK_UNAVAILABLE_INFORMATION;
    std::atomic<unsigned long> m_ulSessionSerial{0};
};
