#include "CChildProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <stdexcept>
#include <utility>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

long long NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

bool CChildProcess::SResult::Exited0() const
{
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string CChildProcess::SResult::Describe() const
{
    if (WIFEXITED(status))
        return "exit " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

CChildProcess::CChildProcess(std::vector<std::string> argv, EOutput output, bool quiet)
    : m_argv(std::move(argv)), m_output(output), m_bQuiet(quiet)
{
}

CChildProcess::~CChildProcess()
{
    if (m_outFd >= 0)
        close(m_outFd);
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

void CChildProcess::Start()
{
    // Everything the child needs is made before fork: after it, only
    // async-signal-safe calls.
    std::vector<char*> argv;
    for (std::string& arg : m_argv)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    int fds[2] = {-1, -1};
    if (m_output == EOutput::Capture && pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
    m_startNs = NowNs();
    m_pid = fork();
    if (m_pid < 0)
        throw std::runtime_error("fork failed");
    if (m_pid == 0)
        ExecInChild(argv, fds[1]);
    if (fds[1] >= 0)
        close(fds[1]);
    m_outFd = fds[0];
}

void CChildProcess::ExecInChild(const std::vector<char*>& argv, int outFd) const
{
    int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    dup2(outFd >= 0 ? outFd : null, STDOUT_FILENO);
    if (m_bQuiet)
        dup2(null, STDERR_FILENO);
    dup2(null, STDIN_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
}

void CChildProcess::Terminate() const
{
    if (m_pid > 0)
        kill(m_pid, SIGTERM);
}

std::string CChildProcess::ReadOutput()
{
    std::string out;
    if (m_outFd < 0)
        return out;
    char buf[4096];
    for (;;) {
        ssize_t n = read(m_outFd, buf, sizeof buf);
        if (n > 0)
            out.append(buf, static_cast<std::size_t>(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    close(m_outFd);
    m_outFd = -1;
    return out;
}

CChildProcess::SResult CChildProcess::Wait()
{
    SResult result;
    result.out = ReadOutput();
    struct rusage usage {};
    pid_t pid;
    do
        pid = wait4(m_pid, &result.status, 0, &usage);
    while (pid < 0 && errno == EINTR);
    result.wallMs = static_cast<double>(NowNs() - m_startNs) / 1e6;
    result.maxRssKb = usage.ru_maxrss;
    m_pid = -1;
    return result;
}

CChildProcess::SResult CChildProcess::Run(std::vector<std::string> argv, EOutput output, bool quiet)
{
    CChildProcess child(std::move(argv), output, quiet);
    child.Start();
    return child.Wait();
}
