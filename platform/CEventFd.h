#pragma once

// A counter in the kernel that one thread signals and another waits on with
// its event loop: a wake-up that passes no data and calls nothing in the
// receiving thread's libraries from the sending thread.
class CEventFd {
public:
    CEventFd() = default;
    ~CEventFd();
    CEventFd(const CEventFd&) = delete;
    CEventFd& operator=(const CEventFd&) = delete;

    bool Open();
    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }

    void Signal();
    // Takes every signal given so far.
    void Drain();

private:
    int m_fd = -1;
};
