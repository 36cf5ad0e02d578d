#pragma once

#include "CBackend.h"
#include "CSortedSearch.h"

#include <optional>
#include <string>

// The searches of a module that misreads CKA_ID in a search template: it
// leaves it out, or compares it as a C string (up to its first zero byte,
// so that 11 00 22 matches 11); for every search, or for key searches only.
class CIdLie {
public:
    // A lie of a C_FindObjectsInit rule: "id-ignored", "key-id-cstring"...
    explicit CIdLie(const std::string& lie);

    // Starts the search on the backend session as the lying module does:
    // `search` set when the objects are handed out from it, else the
    // backend's search runs. Null when the lie does not touch this search.
    std::optional<CK_RV> Start(const CBackend& backend, CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR templ,
                               CK_ULONG count, bool bSorted, std::optional<CSortedSearch>& search) const;

private:
    using Bytes = std::vector<CK_BYTE>;

    static bool IsKeySearch(const std::vector<CK_ATTRIBUTE>& templ);
    // The identifier up to its first zero byte.
    static Bytes CString(const CK_BYTE* bytes, CK_ULONG length);

    bool m_bKeysOnly = false;
    bool m_bCString = false;
};
