#include "CSessionTable.h"

CK_SESSION_HANDLE CSessionTable::Add(CK_SESSION_HANDLE backend, CK_SLOT_ID slot)
{
    CK_SESSION_HANDLE handle = m_next++;
    m_entries[handle] = SEntry{backend, slot, true, std::nullopt};
    return handle;
}

const CSessionTable::SEntry* CSessionTable::Find(CK_SESSION_HANDLE handle) const
{
    auto it = m_entries.find(handle);
    return it == m_entries.end() ? nullptr : &it->second;
}

CSessionTable::SEntry* CSessionTable::Find(CK_SESSION_HANDLE handle)
{
    auto it = m_entries.find(handle);
    return it == m_entries.end() ? nullptr : &it->second;
}

void CSessionTable::Erase(CK_SESSION_HANDLE handle)
{
    m_entries.erase(handle);
}

void CSessionTable::KillSlot(CK_SLOT_ID slot)
{
    for (auto& [handle, entry] : m_entries) {
        if (entry.slot == slot)
            entry.alive = false;
    }
}

void CSessionTable::EraseSlot(CK_SLOT_ID slot)
{
    std::erase_if(m_entries, [slot](const auto& item) { return item.second.slot == slot; });
}
