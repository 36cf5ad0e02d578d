#pragma once

#include "CSortedSearch.h"
#include "token/Pkcs11.h"

#include <map>
#include <optional>

// The simulator's session handles, the backend sessions behind them and
// the search each one runs in the simulator, if any.
// Handles are the simulator's own and never reused in a process, so a
// session lost with its token can never be mistaken for a newer one.
class CSessionTable {
public:
    struct SEntry {
        CK_SESSION_HANDLE backend;
        CK_SLOT_ID slot;
        // False once its token was removed.
        bool alive;
        // Set from C_FindObjectsInit to C_FindObjectsFinal under the find order "label".
        std::optional<CSortedSearch> sorted;
    };

    CK_SESSION_HANDLE Add(CK_SESSION_HANDLE backend, CK_SLOT_ID slot);
    // Null for a handle never given out or closed.
    const SEntry* Find(CK_SESSION_HANDLE handle) const;
    SEntry* Find(CK_SESSION_HANDLE handle);
    void Erase(CK_SESSION_HANDLE handle);
    // The slot's token went away: its sessions stay known, but dead.
    void KillSlot(CK_SLOT_ID slot);
    void EraseSlot(CK_SLOT_ID slot);
    void Clear() { m_entries.clear(); }

private:
    std::map<CK_SESSION_HANDLE, SEntry> m_entries;
    CK_SESSION_HANDLE m_next = 1;
};
