#pragma once

#include "platform/CBoundedMutex.h"
#include "platform/CLibrary.h"
#include "token/CCertKey.h"
#include "token/CTokenChoice.h"
#include "token/CTokenLog.h"
#include "token/IPresencePort.h"
#include "token/Pkcs11.h"
#include "token/STokenIdentity.h"
#include "token/TokenLimits.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Sessions held at once; only index 0 is used.
constexpr CK_ULONG MAX_SESSIONS = 4;

// The one wrapper around the token's PKCS#11 module. Every call into the
// module goes through here, serialised by one lock, so that the presence
// monitor's thread never meets a module being initialised, finalised or
// unloaded by the window's thread. A call waits for the lock a bounded time.
class CTokenModule : public IPresencePort {
public:
    // Results of this class's own, beside the module's CK_RV values.
    static constexpr CK_RV RV_NO_FUNCTION_LIST = 1;  // no C_GetFunctionList, or no module loaded
    static constexpr CK_RV RV_BUFFER_TOO_SMALL = 2;
    // A key search found several keys that cannot be told apart.
    static constexpr CK_RV RV_KEY_AMBIGUOUS = CKR_VENDOR_DEFINED | 0x4B01;
    // The module reported an attribute length that cannot be true.
    static constexpr CK_RV RV_BAD_LENGTH = CKR_VENDOR_DEFINED | 0x4B02;
    // Another call has held the module longer than kLockTimeout: a module
    // that blocks where it must not fails the call instead of freezing it.
    static constexpr CK_RV RV_MODULE_BUSY = CKR_VENDOR_DEFINED | 0x4B03;
    static constexpr std::chrono::milliseconds kLockTimeout{3000};

    // The longest certificate value or identifier accepted from a module.
    static constexpr CK_ULONG MAX_ATTRIBUTE_LEN = 1 << 20;
    // Room for a key's telling value: a modulus of 16384 bits, say.
    static constexpr CK_ULONG MAX_KEY_VALUE_LEN = 4096;
    // The most slots believed of a module: a larger count is a broken one.
    static constexpr CK_ULONG MAX_SLOTS = 1024;

    CTokenModule();
    // Finalises a module still initialised and unloads it.
    ~CTokenModule() override;
    CTokenModule(const CTokenModule&) = delete;
    CTokenModule& operator=(const CTokenModule&) = delete;

    CK_RV Load(const char* fileName);
    // Where the last failed Load failed: its reason is told by where it came
    // from, not by its value (1 is this class's RV_NO_FUNCTION_LIST and the
    // module's CKR_CANCEL alike).
    enum class ELoadStep { None, Library, EntryPoint, FunctionList, NullFunctionList, Initialize };
    ELoadStep LastLoadStep() const;
    // The log this class, and whoever works through it, writes to; set
    // before any other thread uses the module.
    void SetLog(CTokenLog log) { m_log = std::move(log); }
    const CTokenLog& Log() const override { return m_log; }
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
    static constexpr CK_ULONG MAX_ID_MATCHES = 64;

    // The presence monitor's port, for its thread. Reinitialising leaves
    // the window's slot list alone.
    bool HasFunctionList() const override;
    CK_RV WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID* slot, EOrigin* origin = nullptr) override;
    CK_RV GetSlotInfo(CK_SLOT_ID slotId, CK_SLOT_INFO* info, EOrigin* origin = nullptr) override;
    CK_RV ReinitializeForMonitor(std::vector<CK_SLOT_ID>& present, EOrigin* origin = nullptr) override;

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
    std::unique_lock<CBoundedMutex> Acquire() const;
    bool IsLoaded() const { return m_hModule.IsLoaded() && m_pfnGetFunctionList != nullptr; }
    CK_RV LoadLibrary(const char* fileName);
    CK_RV Reinitialize();
    CK_RV PresentSlots(std::vector<CK_SLOT_ID>& slots);
    std::vector<CK_SLOT_ID> AcceptedSlots(const std::vector<CK_SLOT_ID>& present);
    CK_RV FindKeys(CK_SESSION_HANDLE session, CK_OBJECT_CLASS keyClass, const unsigned char* id, CK_ULONG idLen,
                   const CCertKey& key, CK_KEY_TYPE takeable, std::vector<CK_OBJECT_HANDLE>& target,
                   CK_KEY_TYPE& targetType);
    CK_RV ReadKeyObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CCertKey::SKeyObject& key);
    CK_RV ReadKeyValues(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CCertKey::SKeyObject& key);
    CK_RV FindAll(CK_SESSION_HANDLE session, CK_ATTRIBUTE* tmpl, CK_ULONG count, std::vector<CK_OBJECT_HANDLE>& found);
    CK_RV DestroyKeys(const char* step, const char* what, std::vector<CK_OBJECT_HANDLE>& keys);
    void LogModuleInfo(const char* fileName) const;
    void LogKeySearch(CK_OBJECT_CLASS keyClass, const unsigned char* id, CK_ULONG idLen,
                      const std::vector<CCertKey::EMatch>& matches,
                      const std::optional<std::vector<std::size_t>>& chosen) const;
    // "'label' id 0a1b" of an object, for the log.
    std::string Describe(CK_OBJECT_HANDLE object) const;
    // The slot of session 0, for the log.
    CK_SLOT_ID SessionSlot() const;
    void Finalize();
    void ReleaseSlotList();
    void ForgetSessions();
    void Unload();

    // Calls one function of the module's list; a function the module left
    // out answers CKR_FUNCTION_NOT_SUPPORTED.
    template <typename Fn, typename... Args>
    CK_RV Call(Fn CK_FUNCTION_LIST::*fn, Args... args) const
    {
        if (m_pFunctionList == nullptr)
            return RV_NO_FUNCTION_LIST;
        Fn f = m_pFunctionList->*fn;
        return f != nullptr ? f(args...) : CKR_FUNCTION_NOT_SUPPORTED;
    }

    // A call of the monitor's, with the lock, telling where its answer came from.
    template <typename Fn, typename... Args>
    CK_RV CallForMonitor(EOrigin* origin, Fn CK_FUNCTION_LIST::*fn, Args... args)
    {
        SetOrigin(origin, EOrigin::Wrapper);
        auto lock = Acquire();
        if (!lock)
            return RV_MODULE_BUSY;
        if (m_pFunctionList == nullptr)
            return RV_NO_FUNCTION_LIST;
        SetOrigin(origin, EOrigin::Module);
        return Call(fn, args...);
    }
    static void SetOrigin(EOrigin* origin, EOrigin value)
    {
        if (origin != nullptr)
            *origin = value;
    }

    // A call made for one of this class's steps: a failure is logged with
    // the step, the function and the slot.
    template <typename Fn, typename... Args>
    CK_RV Step(const char* step, const char* function, CK_SLOT_ID slot, Fn CK_FUNCTION_LIST::*fn, Args... args) const
    {
        if (m_pFunctionList == nullptr) {
            m_log.Debug(CTokenLog::ETopic::Token, std::string(step) + ": no module loaded");
            return RV_NO_FUNCTION_LIST;
        }
        CK_RV rv = Call(fn, args...);
        if (rv != CKR_OK)
            m_log.Failed(step, function, slot, rv);
        return rv;
    }

    CK_C_GetFunctionList m_pfnGetFunctionList = nullptr;
    CLibrary m_hModule;
    CK_FUNCTION_LIST_PTR m_pFunctionList = nullptr;
    std::unique_ptr<CK_SLOT_ID[]> m_pSlotList;
    std::vector<CK_SLOT_ID> m_presentSlots;
    CTokenChoice m_tokenChoice;
    // The token of the first slot at the last listing that found one.
    std::optional<STokenIdentity> m_listedToken;

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
    bool m_bInitialized = false;
    ELoadStep m_eLoadStep = ELoadStep::None;
    CTokenLog m_log;
    std::atomic<unsigned long> m_ulSessionSerial{0};
    mutable CBoundedMutex m_mutex;
};
