#pragma once

#include "CBackend.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

// A search sorted by CKA_LABEL bytes, for the find order "label": the
// backend's search is run to its end when the caller starts one, and the
// caller is then handed the sorted objects in chunks. The backend's own
// order is arbitrary; tests need to know which objects come first.
class CSortedSearch {
public:
    // Starts a search on the backend session, takes all it finds and ends
    // it. Only an answer of CKR_OK sets `search`.
    static CK_RV Run(const CBackend& backend, CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR templ, CK_ULONG count,
                     std::optional<CSortedSearch>& search);

    // The same, keeping only the objects `keep` accepts.
    static CK_RV RunMatching(const CBackend& backend, CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR templ,
                             CK_ULONG count, const std::function<bool(CK_OBJECT_HANDLE)>& keep,
                             std::optional<CSortedSearch>& search);

    // Copies up to `max` objects not handed out yet; returns how many.
    CK_ULONG Take(CK_OBJECT_HANDLE_PTR objects, CK_ULONG max);

private:
    using Label = std::vector<CK_BYTE>;

    explicit CSortedSearch(std::vector<CK_OBJECT_HANDLE> objects) : m_objects(std::move(objects)) {}

    static CK_RV Drain(const CBackend& backend, CK_SESSION_HANDLE session, std::vector<CK_OBJECT_HANDLE>& objects);
    static void SortByLabel(const CBackend& backend, CK_SESSION_HANDLE session, std::vector<CK_OBJECT_HANDLE>& objects);

    std::vector<CK_OBJECT_HANDLE> m_objects;
    std::size_t m_next = 0;
};
