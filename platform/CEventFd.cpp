#include "platform/CEventFd.h"

#include <cstdint>

#include <sys/eventfd.h>
#include <unistd.h>

CEventFd::~CEventFd()
{
    if (m_fd >= 0)
        close(m_fd);
}

bool CEventFd::Open()
{
    if (m_fd < 0)
        m_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return m_fd >= 0;
}

void CEventFd::Signal()
{
    std::uint64_t one = 1;
    // Only an overflowing counter refuses, and one pending signal is enough.
    [[maybe_unused]] ssize_t n = write(m_fd, &one, sizeof one);
}

void CEventFd::Drain()
{
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t n = read(m_fd, &count, sizeof count);
}
