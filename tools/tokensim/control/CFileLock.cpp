#include "CFileLock.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <sys/file.h>

CFileLock::CFileLock(const std::string& path) : m_fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644))
{
    if (!m_fd.IsOpen())
        throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    int rc = 0;
    do {
        rc = flock(m_fd.Get(), LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0)
        throw std::runtime_error("cannot lock " + path + ": " + std::strerror(errno));
}

CFileLock::~CFileLock()
{
    flock(m_fd.Get(), LOCK_UN);
}
