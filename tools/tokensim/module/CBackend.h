#pragma once

#include "platform/CLibrary.h"
#include "token/Pkcs11.h"

#include <optional>
#include <string>
#include <vector>

// The real module the simulator forwards to. Once loaded it stays loaded
// until the simulator is unloaded, as some modules do not survive being
// unloaded and loaded again in one process.
class CBackend {
public:
    CBackend() = default;
    ~CBackend();
    CBackend(const CBackend&) = delete;
    CBackend& operator=(const CBackend&) = delete;

    // Loads the module at `path` (again only when the path changed) and
    // initialises it with OS locking.
    CK_RV Initialize(const std::string& path);
    void Finalize();

    // The slots to expose: those with an initialised token; all of them in
    // the module's order; or all, those whose token is not initialised first.
    enum class ESlots { Initialised, All, UninitialisedFirst };
    std::vector<CK_SLOT_ID> Slots(ESlots which) const;

    // Calls one function of the module; one it left out answers
    // CKR_FUNCTION_NOT_SUPPORTED.
    template <typename Fn, typename... Args>
    CK_RV Call(Fn CK_FUNCTION_LIST::*fn, Args... args) const
    {
        if (m_pList == nullptr)
            return CKR_CRYPTOKI_NOT_INITIALIZED;
        Fn f = m_pList->*fn;
        return f != nullptr ? f(args...) : CKR_FUNCTION_NOT_SUPPORTED;
    }

    // One attribute of an object, as bytes; none when it cannot be read.
    std::optional<std::vector<CK_BYTE>> ReadBytes(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                                                  CK_ATTRIBUTE_TYPE type) const;

private:
    CK_RV Load(const std::string& path);
    bool HasInitialisedToken(CK_SLOT_ID slot) const;

    CLibrary m_library;
    std::string m_strPath;
    CK_FUNCTION_LIST_PTR m_pList = nullptr;
    // Whether our C_Initialize started it (another user may have done so).
    bool m_bOwnsInit = false;
};
