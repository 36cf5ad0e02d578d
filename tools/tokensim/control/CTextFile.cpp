#include "CTextFile.h"

#include "CUniqueFd.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path)
{
    throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

void WriteAll(int fd, const std::string& content, const std::string& path)
{
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            Fail("cannot write", path);
        done += static_cast<size_t>(n);
    }
}

}  // namespace

std::optional<std::string> CTextFile::Read(const std::string& path)
{
    CUniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.IsOpen())
        return std::nullopt;
    std::string content;
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd.Get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            return content;
        content.append(buf, static_cast<size_t>(n));
    }
}

void CTextFile::Replace(const std::string& path, const std::string& content)
{
    std::string temp = path + ".tmp." + std::to_string(getpid());
    {
        CUniqueFd fd(open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!fd.IsOpen())
            Fail("cannot create", temp);
        WriteAll(fd.Get(), content, temp);
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        int saved = errno;
        std::remove(temp.c_str());
        errno = saved;
        Fail("cannot replace", path);
    }
}
