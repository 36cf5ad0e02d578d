#pragma once

#include "platform/CLibrary.h"
#include "token/Pkcs11.h"

#include <string>
#include <vector>

namespace testsupport {

// The simulator loaded with dlopen, called through its function list the
// way the product calls its token module. Finalised (if still initialised)
// and unloaded with the object.
class CTokenSimModule {
public:
    explicit CTokenSimModule(const char* path);
    ~CTokenSimModule();
    CTokenSimModule(const CTokenSimModule&) = delete;
    CTokenSimModule& operator=(const CTokenSimModule&) = delete;

    CK_FUNCTION_LIST* operator->() const { return m_pList; }

    // Shorthands that fail the current test on an unexpected answer.
    void Initialize();
    std::vector<CK_SLOT_ID> Slots(bool tokenPresent) const;
    CK_SESSION_HANDLE OpenSession(CK_SLOT_ID slot) const;
    CK_RV Login(CK_SESSION_HANDLE session) const;
    // The handles of the objects of this class a session can see.
    std::vector<CK_OBJECT_HANDLE> Find(CK_SESSION_HANDLE session, CK_OBJECT_CLASS cls) const;
    // Every slot event queued now, in order, by non-blocking waits.
    std::vector<CK_SLOT_ID> DrainEvents() const;

private:
    CLibrary m_library;
    CK_FUNCTION_LIST* m_pList = nullptr;
};

}  // namespace testsupport
