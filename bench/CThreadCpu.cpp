#include "CThreadCpu.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

namespace {

std::string TaskFile(pid_t tid, const char* name)
{
    return "/proc/self/task/" + std::to_string(tid) + "/" + name;
}

}  // namespace

std::set<pid_t> CThreadCpu::Threads()
{
    std::set<pid_t> tids;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        tids.insert(static_cast<pid_t>(std::stol(entry.path().filename().string())));
    return tids;
}

long long CThreadCpu::ThreadNs(pid_t tid)
{
    long long ns = FromSchedstat(tid);
    return ns >= 0 ? ns : FromStat(tid);
}

long long CThreadCpu::FromSchedstat(pid_t tid)
{
    std::ifstream in(TaskFile(tid, "schedstat"));
    long long ns = -1;
    return in >> ns ? ns : -1;
}

long long CThreadCpu::FromStat(pid_t tid)
{
    std::ifstream in(TaskFile(tid, "stat"));
    std::string line;
    if (!std::getline(in, line))
        return -1;
    // The command name may hold spaces; fields are counted after its ')'.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    long long utime = 0;
    long long stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stoll(field);
        else if (i == 15)
            stime = std::stoll(field);
    }
    return (utime + stime) * 1000000000LL / sysconf(_SC_CLK_TCK);
}

long long CThreadCpu::ProcessNs()
{
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    auto ns = [](const timeval& tv) { return tv.tv_sec * 1000000000LL + tv.tv_usec * 1000LL; };
    return ns(usage.ru_utime) + ns(usage.ru_stime);
}
