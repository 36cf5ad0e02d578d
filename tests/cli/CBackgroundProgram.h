#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

// A program run in the background for one test, with changes to its
// environment and its output in a file, standard error in the same one
// unless given its own; killed, if still running, when the object goes.
class CBackgroundProgram {
public:
    using Environment = std::vector<std::pair<std::string, std::string>>;  // "" value: unset

    CBackgroundProgram(const std::string& program, const std::vector<std::string>& args, const Environment& env,
                       const std::string& outputFile, const std::string& errorFile = {});
    ~CBackgroundProgram();
    CBackgroundProgram(const CBackgroundProgram&) = delete;
    CBackgroundProgram& operator=(const CBackgroundProgram&) = delete;

    pid_t Pid() const { return m_pid; }
    // False once it has ended, by itself or not.
    bool Running();
    // How it ended, as waitpid tells it, once Running() has said it did.
    int Status() const { return m_nStatus; }

private:
    pid_t m_pid = -1;
    bool m_bEnded = false;
    int m_nStatus = 0;
};
