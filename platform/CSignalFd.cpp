#include "platform/CSignalFd.h"

#include <csignal>
#include <cstdlib>

#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

sigset_t Only(int nSignal)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, nSignal);
    return set;
}

}  // namespace

CSignalFd::~CSignalFd()
{
    if (m_fd >= 0)
        close(m_fd);
}

bool CSignalFd::Open()
{
    if (m_fd >= 0)
        return true;
    struct sigaction current = {};
    if (sigaction(m_nSignal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
        return false;
    sigset_t set = Only(m_nSignal);
    sigset_t before;
    if (pthread_sigmask(SIG_BLOCK, &set, &before) != 0 || sigismember(&before, m_nSignal) == 1)
        return false;
    m_bBlocked = true;
    m_fd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (m_fd < 0)
        Release();
    return m_fd >= 0;
}

void CSignalFd::Drain()
{
    signalfd_siginfo info = {};
    while (read(m_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    }
}

void CSignalFd::Release()
{
    if (!m_bBlocked)
        return;
    sigset_t set = Only(m_nSignal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    m_bBlocked = false;
}

void CSignalFd::Die()
{
    std::signal(m_nSignal, SIG_DFL);
    sigset_t set = Only(m_nSignal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(m_nSignal);
    std::_Exit(128 + m_nSignal);  // a signal whose default action is not to end
}
