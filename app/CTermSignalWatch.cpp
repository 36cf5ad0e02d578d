#include "app/CTermSignalWatch.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <utility>

#include <poll.h>

namespace {

// Until one of the descriptors is readable, or `timeout` (-1: none) is over.
int PollIn(pollfd* fds, nfds_t count, int timeout)
{
    int n = 0;
    while ((n = poll(fds, count, timeout)) < 0 && errno == EINTR) {
    }
    return n;
}

}  // namespace

CTermSignalWatch::CTermSignalWatch() = default;

CTermSignalWatch::~CTermSignalWatch()
{
    Stop();
}

bool CTermSignalWatch::Start(std::function<void()> onSignal)
{
    if (m_signal.Fd() < 0)
        return false;
    // A watch that cannot run leaves the signal its default action.
    if (!m_wake.Open() || !m_stop.Open()) {
        m_signal.Release();
        return false;
    }
    m_pNotifier = std::make_unique<QSocketNotifier>(m_wake.Fd(), QSocketNotifier::Read);
    QObject::connect(m_pNotifier.get(), &QSocketNotifier::activated, m_pNotifier.get(),
                     [this, onSignal = std::move(onSignal)] {
                         m_wake.Drain();
                         onSignal();
                     });
    if (m_thread.Start([this] { Watch(); }))
        return true;
    m_pNotifier.reset();
    m_signal.Release();
    return false;
}

bool CTermSignalWatch::Stop()
{
    m_stop.Signal();
    m_thread.Join();
    m_pNotifier.reset();
    m_signal.Release();
    return m_bReceived;
}

void CTermSignalWatch::Watch()
{
    pollfd fds[2] = {{m_signal.Fd(), POLLIN, 0}, {m_stop.Fd(), POLLIN, 0}};
    if (PollIn(fds, 2, -1) < 1 || (fds[0].revents & POLLIN) == 0)
        return;
    m_signal.Drain();
    m_bReceived = true;
    m_wake.Signal();
    // The window's thread ends the process, unless a module call holds it.
    pollfd stop = {m_stop.Fd(), POLLIN, 0};
    if (PollIn(&stop, 1, static_cast<int>(kGrace.count())) == 0)
        m_signal.Die();
}
