#include "CProgramRun.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

std::string CProgramRun::ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

CProgramRun& CProgramRun::Set(const std::string& name, const std::string& value)
{
    m_env.push_back(name + "=" + value);
    return *this;
}

CProgramRun& CProgramRun::Unset(const std::string& name)
{
    m_env.push_back("-u");
    m_env.push_back(name);
    return *this;
}

std::string CProgramRun::Quote(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

int CProgramRun::Run(const std::string& program, const std::vector<std::string>& args)
{
    std::string cmd = "cd / && env";
    for (const std::string& e : m_env)
        cmd += " " + Quote(e);
    cmd += " " + Quote(program);
    for (const std::string& a : args)
        cmd += " " + Quote(a);
    const std::string out = m_strScratch + "/run.out";
    const std::string err = m_strScratch + "/run.err";
    cmd += " >" + Quote(out) + " 2>" + Quote(err) + " </dev/null";
    int status = std::system(cmd.c_str());
    m_strOut = ReadFile(out);
    m_strErr = ReadFile(err);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string CProgramRun::LastErrLine() const
{
    std::string text = m_strErr;
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text.substr(text.rfind('\n') + 1);
}
