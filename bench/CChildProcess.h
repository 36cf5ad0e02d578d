#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// A program run in a child process (fork and exec, the environment
// inherited), reaped with wait4 for its wall time and peak memory.
class CChildProcess {
public:
    enum class EOutput { Capture, Discard };

    struct SResult {
        int status = -1;  // as wait4 gives it
        std::string out;  // standard output, when captured
        double wallMs = 0;
        long maxRssKb = 0;

        bool Exited0() const;
        std::string Describe() const;
    };

    // argv[0] is the program's path. Standard error passes through unless
    // `quiet`.
    explicit CChildProcess(std::vector<std::string> argv, EOutput output = EOutput::Capture, bool quiet = false);
    // Kills and reaps a child still running.
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    void Start();
    void Terminate() const;
    // Reads the output to its end, then reaps the child.
    SResult Wait();

    // Start, then Wait.
    static SResult Run(std::vector<std::string> argv, EOutput output = EOutput::Capture, bool quiet = false);

private:
    [[noreturn]] void ExecInChild(const std::vector<char*>& argv, int outFd) const;
    std::string ReadOutput();

    std::vector<std::string> m_argv;
    EOutput m_output;
    bool m_bQuiet;
    pid_t m_pid = -1;
    int m_outFd = -1;
    long long m_startNs = 0;
};
