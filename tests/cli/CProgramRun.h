#pragma once

#include <string>
#include <utility>
#include <vector>

// One run of a program with arguments and changes to its environment,
// from the root folder, its output and exit status kept.
class CProgramRun {
public:
    // `scratch`: a folder for the captured output.
    explicit CProgramRun(std::string scratch) : m_strScratch(std::move(scratch)) {}

    // Sets a variable for the runs ("" sets it empty); Unset removes it.
    CProgramRun& Set(const std::string& name, const std::string& value);
    CProgramRun& Unset(const std::string& name);

    // The exit status, or -1 when the program did not exit by itself.
    int Run(const std::string& program, const std::vector<std::string>& args = {});

    const std::string& Out() const { return m_strOut; }
    const std::string& Err() const { return m_strErr; }
    // The last line of standard error, without its newline.
    std::string LastErrLine() const;

    static std::string ReadFile(const std::string& path);

private:
    static std::string Quote(const std::string& text);

    std::string m_strScratch;
    std::vector<std::string> m_env;  // arguments for env(1)
    std::string m_strOut;
    std::string m_strErr;
};
