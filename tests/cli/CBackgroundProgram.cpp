#include "CBackgroundProgram.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

CBackgroundProgram::CBackgroundProgram(const std::string& program, const std::vector<std::string>& args,
                                       const Environment& env, const std::string& outputFile,
                                       const std::string& errorFile)
{
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    m_pid = fork();
    if (m_pid != 0) {
        m_bEnded = m_pid < 0;
        return;
    }
    for (const auto& [name, value] : env) {
        if (value.empty())
            unsetenv(name.c_str());
        else
            setenv(name.c_str(), value.c_str(), 1);
    }
    const int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = errorFile.empty() ? out : open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int in = open("/dev/null", O_RDONLY);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    dup2(in, STDIN_FILENO);
    execv(program.c_str(), argv.data());
    _exit(127);
}

CBackgroundProgram::~CBackgroundProgram()
{
    if (m_bEnded)
        return;
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
}

bool CBackgroundProgram::Running()
{
    if (!m_bEnded && waitpid(m_pid, &m_nStatus, WNOHANG) == m_pid)
        m_bEnded = true;
    return !m_bEnded;
}
