#include "platform/CLibrary.h"

#include <cerrno>
#include <cstring>

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

CLibrary::~CLibrary()
{
    Free();
}

std::string CLibrary::ExecutableFolder()
{
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return ".";
    std::string path(buf, static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

std::string CLibrary::ResolvePath(const char* fileName)
{
    // A name with a folder part is taken as it is; a bare name prefers the
    // copy beside the executable, else dlopen's own search applies.
    if (std::strchr(fileName, '/') != nullptr)
        return fileName;
    std::string local = ExecutableFolder() + "/" + fileName;
    if (access(local.c_str(), F_OK) == 0)
        return local;
    return fileName;
}

int CLibrary::Load(const char* fileName, ELifetime lifetime)
{
    Free();
    m_strLastError.clear();
    if (fileName == nullptr || *fileName == '\0') {
        m_strLastError = "empty library name";
        return ENOENT;
    }
    std::string path = ResolvePath(fileName);
    errno = 0;
    const int flags = RTLD_NOW | RTLD_LOCAL | (lifetime == ELifetime::Process ? RTLD_NODELETE : 0);
    m_hHandle = dlopen(path.c_str(), flags);
    if (m_hHandle != nullptr)
        return 0;
    int code = errno != 0 ? errno : ELIBBAD;
    const char* message = dlerror();
    m_strLastError = message != nullptr ? message : "cannot load " + path;
    return code;
}

void CLibrary::Free()
{
    if (m_hHandle != nullptr) {
        dlclose(m_hHandle);
        m_hHandle = nullptr;
    }
}

void* CLibrary::Symbol(const char* name) const
{
    if (m_hHandle == nullptr)
        return nullptr;
    return dlsym(m_hHandle, name);
}
