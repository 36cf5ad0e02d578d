#pragma once

#include "platform/CBoundedMutex.h"
#include "platform/CLibrary.h"
#include "token/CTokenLog.h"
#include "token/Pkcs11.h"
#include "token/SLoadResult.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <string>

// The token's PKCS#11 module as a library: loaded, initialised, finalised,
// unloaded, and held by one caller at a time. Nothing calls the module or
// changes its state but through a CGuard, as only p11-kit's _inlock
// functions touch its modules: so the presence monitor's thread never meets
// a module being initialised, finalised or unloaded by the window's thread.
// A caller waits for the module a bounded time, and not at all while its
// holder waits for a person.
class CModuleLibrary {
public:
    // No module loaded.
    static constexpr CK_RV RV_NO_FUNCTION_LIST = CKR_VENDOR_DEFINED | 0x4B04;
    // Another call has held the module longer than the lock timeout, or
    // holds it while the user types a PIN on the token's keypad: a module
    // that blocks where it must not fails the call instead of freezing it.
    static constexpr CK_RV RV_MODULE_BUSY = CKR_VENDOR_DEFINED | 0x4B03;
    static constexpr std::chrono::milliseconds kLockTimeout{3000};

    // The module held by one caller for as long as the guard lives; no
    // guard exists that does not hold it.
    class CGuard {
    public:
        CGuard(CGuard&&) = default;
        CGuard& operator=(CGuard&&) = default;

        bool HasFunctionList() const { return m_pLibrary->m_pFunctionList != nullptr; }
        bool IsLoaded() const { return m_pLibrary->IsLoaded(); }
        const CTokenLog& Log() const { return m_pLibrary->m_log; }

        // Calls one function of the module's list; a function the module
        // left out answers CKR_FUNCTION_NOT_SUPPORTED.
        template <typename Fn, typename... Args>
        CK_RV Call(Fn CK_FUNCTION_LIST::*fn, Args... args) const
        {
            return m_pLibrary->Call(fn, args...);
        }

        // A call made for a step of the token layer: a failure is logged
        // with the step, the function and the slot.
        template <typename Fn, typename... Args>
        CK_RV Step(const char* step, const char* function, CK_SLOT_ID slot, Fn CK_FUNCTION_LIST::*fn,
                   Args... args) const
        {
            return m_pLibrary->Step(step, function, slot, fn, args...);
        }

        // For a call that waits on the user (a PIN typed on the token's
        // keypad): every other caller is refused at once, with the busy
        // answer, until this guard lets the module go.
        void RefuseOthers() { m_pLibrary->m_mutex.RefuseWaiters(); }

        // Loads and initialises the module; a module loaded already is
        // initialised again and the file name ignored. A failure unloads it.
        SLoadResult Load(const char* fileName) { return m_pLibrary->Load(fileName); }
        // C_Initialize on a module loaded, whether or not it was finalised:
        // 0 also when it was initialised. Leaves it loaded whatever it answers.
        CK_RV Reinitialize() { return m_pLibrary->Reinitialize(); }
        void Finalize() { m_pLibrary->Finalize(); }

    private:
        friend class CModuleLibrary;
        CGuard(CModuleLibrary& library, std::unique_lock<CBoundedMutex> lock)
            : m_pLibrary(&library), m_lock(std::move(lock))
        {
        }

        CModuleLibrary* m_pLibrary;
        std::unique_lock<CBoundedMutex> m_lock;
    };

    explicit CModuleLibrary(std::chrono::milliseconds lockTimeout = kLockTimeout);
    // Finalises a module still initialised and unloads it.
    ~CModuleLibrary();
    CModuleLibrary(const CModuleLibrary&) = delete;
    CModuleLibrary& operator=(const CModuleLibrary&) = delete;

    // The module to this caller alone, once another lets it go; none when
    // that one held it longer than the lock timeout.
    std::optional<CGuard> Lock();

    // `body(CGuard&)` with the module held, returning its CK_RV; the one
    // place a call finds the module busy.
    template <typename Body>
    CK_RV Run(Body&& body)
    {
        std::optional<CGuard> module = Lock();
        if (!module)
            return RV_MODULE_BUSY;
        return body(*module);
    }

    // Set before any other thread uses the module.
    void SetLog(CTokenLog log) { m_log = std::move(log); }
    const CTokenLog& Log() const { return m_log; }

private:
    // What the guard does for its holder; nothing else reaches these.
    template <typename Fn, typename... Args>
    CK_RV Call(Fn CK_FUNCTION_LIST::*fn, Args... args) const
    {
        if (m_pFunctionList == nullptr)
            return RV_NO_FUNCTION_LIST;
        Fn f = m_pFunctionList->*fn;
        return f != nullptr ? f(args...) : CKR_FUNCTION_NOT_SUPPORTED;
    }
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
    bool IsLoaded() const { return m_hModule.IsLoaded() && m_pfnGetFunctionList != nullptr; }
    SLoadResult Load(const char* fileName);
    SLoadResult LoadLibrary(const char* fileName);
    CK_RV Reinitialize();
    CK_RV GiveBackInitialization();
    void LogModuleInfo(const char* fileName) const;
    void Finalize();
    void Unload();

    CK_C_GetFunctionList m_pfnGetFunctionList = nullptr;
    CLibrary m_hModule;
    CK_FUNCTION_LIST_PTR m_pFunctionList = nullptr;
    bool m_bInitialized = false;
    CTokenLog m_log;
    const std::chrono::milliseconds m_lockTimeout;
    CBoundedMutex m_mutex;
};
