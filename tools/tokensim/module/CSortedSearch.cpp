#include "CSortedSearch.h"

#include <algorithm>
#include <utility>

namespace {

constexpr CK_ULONG kChunk = 64;

}  // namespace

CK_RV CSortedSearch::Run(const CBackend& backend, CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR templ, CK_ULONG count,
                         std::optional<CSortedSearch>& search)
{
    CK_RV rv = backend.Call(&CK_FUNCTION_LIST::C_FindObjectsInit, session, templ, count);
    if (rv != CKR_OK)
        return rv;
    std::vector<CK_OBJECT_HANDLE> objects;
    rv = Drain(backend, session, objects);
    CK_RV ended = backend.Call(&CK_FUNCTION_LIST::C_FindObjectsFinal, session);
    if (rv == CKR_OK)
        rv = ended;
    if (rv != CKR_OK)
        return rv;
    SortByLabel(backend, session, objects);
    search = CSortedSearch(std::move(objects));
    return CKR_OK;
}

CK_RV CSortedSearch::RunMatching(const CBackend& backend, CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR templ,
                                 CK_ULONG count, const std::function<bool(CK_OBJECT_HANDLE)>& keep,
                                 std::optional<CSortedSearch>& search)
{
    CK_RV rv = Run(backend, session, templ, count, search);
    if (rv == CKR_OK)
        std::erase_if(search->m_objects, [&keep](CK_OBJECT_HANDLE object) { return !keep(object); });
    return rv;
}

CK_ULONG CSortedSearch::Take(CK_OBJECT_HANDLE_PTR objects, CK_ULONG max)
{
    CK_ULONG n = static_cast<CK_ULONG>(std::min<std::size_t>(max, m_objects.size() - m_next));
    std::copy_n(m_objects.begin() + static_cast<std::ptrdiff_t>(m_next), n, objects);
    m_next += n;
    return n;
}

CK_RV CSortedSearch::Drain(const CBackend& backend, CK_SESSION_HANDLE session, std::vector<CK_OBJECT_HANDLE>& objects)
{
    CK_OBJECT_HANDLE chunk[kChunk];
    for (;;) {
        CK_ULONG found = 0;
        CK_RV rv = backend.Call(&CK_FUNCTION_LIST::C_FindObjects, session, chunk, kChunk, &found);
        if (rv != CKR_OK || found == 0)
            return rv;
        // A backend claiming more than it had room for is not believed.
        objects.insert(objects.end(), chunk, chunk + std::min(found, kChunk));
    }
}

void CSortedSearch::SortByLabel(const CBackend& backend, CK_SESSION_HANDLE session,
                                std::vector<CK_OBJECT_HANDLE>& objects)
{
    std::vector<std::pair<std::optional<Label>, CK_OBJECT_HANDLE>> labelled;
    for (CK_OBJECT_HANDLE object : objects)
        labelled.emplace_back(backend.ReadBytes(session, object, CKA_LABEL), object);
    // Stable, so equal labels keep the backend's order; no label sorts first.
    std::stable_sort(labelled.begin(), labelled.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::transform(labelled.begin(), labelled.end(), objects.begin(), [](const auto& l) { return l.second; });
}

