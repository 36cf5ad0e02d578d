#include "CTraceWriter.h"

#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace {

const char* TracePath()
{
    const char* path = std::getenv("TOKENSIM_TRACE");
    return path != nullptr && *path != '\0' ? path : nullptr;
}

}  // namespace

bool CTraceWriter::Enabled() const
{
    return TracePath() != nullptr;
}

void CTraceWriter::Write(std::string line)
{
    const char* path = TracePath();
    if (path == nullptr)
        return;
    line += '\n';
    std::lock_guard lock(m_mutex);
    if (m_strPath != path) {
        m_fd.Reset(open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
        m_strPath = path;
    }
    if (m_fd.IsOpen() && write(m_fd.Get(), line.data(), line.size()) < 0) {
        // A trace that cannot be written must not change what the call answers.
    }
}
