#pragma once

// A signal read from a file descriptor rather than handled wherever it
// lands: blocked in the thread that opens it and in every thread started
// after, it stays pending until an event loop reads it. Open it before any
// other thread starts, or one that does not block it may take it.
class CSignalFd {
public:
    explicit CSignalFd(int nSignal) : m_nSignal(nSignal) {}
    ~CSignalFd();
    CSignalFd(const CSignalFd&) = delete;
    CSignalFd& operator=(const CSignalFd&) = delete;

    // False, and the signal left as it was, when it cannot be read so, or
    // when whoever started the program chose to ignore or block it.
    bool Open();
    int Fd() const { return m_fd; }
    // Takes the signals that came.
    void Drain();
    // Unblocks the signal in this thread: one pending, or any later, takes
    // its default action again.
    void Release();
    // Ends the process as the signal's default action does, so the parent
    // sees the signal in the exit status. From any thread.
    [[noreturn]] void Die();

private:
    int m_nSignal;
    int m_fd = -1;
    bool m_bBlocked = false;  // by Open, in this thread
};
