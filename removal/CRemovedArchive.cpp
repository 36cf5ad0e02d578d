#include "removal/CRemovedArchive.h"

#include "platform/CEscapedText.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/pem.h>

namespace {

using ETopic = CTokenLog::ETopic;

std::string ErrnoText(int error)
{
    return std::error_code(error, std::generic_category()).message();
}

// A file descriptor, closed once.
class CFd {
public:
    explicit CFd(int fd) : m_fd(fd) {}
    ~CFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;

    void Reset(int fd)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    int Get() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }
    // errno of a failed close, or 0: a close may be the first to tell of a
    // failed write.
    int Close()
    {
        int rv = ::close(m_fd);
        m_fd = -1;
        return rv == 0 ? 0 : errno;
    }

private:
    int m_fd;
};

struct BioFree {
    void operator()(BIO* p) const { BIO_free(p); }
};

std::string Parent(const std::string& path)
{
    std::size_t slash = path.find_last_of('/');
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// errno of a failed fsync of the folder, or 0. A file system that cannot
// sync folders at all (EINVAL) writes their entries with the file.
int SyncFolder(const std::string& folder)
{
    CFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.IsOpen())
        return errno;
    if (::fsync(fd.Get()) != 0 && errno != EINVAL)
        return errno;
    return fd.Close();
}

// Makes `folder` and whatever of its path is missing (mode 0700), syncing
// the parent of each one made; errno of the step that failed, or 0.
int MakeFolders(const std::string& folder)
{
    for (std::size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
        const std::string path = folder.substr(0, end);
        if (::mkdir(path.c_str(), 0700) == 0) {
            if (int error = SyncFolder(Parent(path)))
                return error;
        } else if (errno != EEXIST) {
            return errno;
        }
        if (end == std::string::npos)
            return 0;
    }
}

// Writes all of `text`, or returns the errno that stopped it.
int WriteAll(int fd, const std::string& text)
{
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return 0;
}

std::string UtcText(const SYSTEMTIME& t)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
    return buf;
}

std::string Pem(const std::string& der)
{
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio(bio.get(), PEM_STRING_X509, "", reinterpret_cast<const unsigned char*>(der.data()),
                              static_cast<long>(der.size())) <= 0)
        return {};
    char* data = nullptr;
    long len = BIO_get_mem_data(bio.get(), &data);
    return len > 0 ? std::string(data, static_cast<std::size_t>(len)) : std::string();
}

}  // namespace

CRemovedArchive::CRemovedArchive(const std::string& dataHome, const STokenIdentity& token, CTokenLog log)
    : m_strTokenUri(token.strUri), m_log(std::move(log))
{
    const std::string folder = (dataHome.empty() ? std::string("~/.local/share") : dataHome) + "/certpurge/removed";
    if (!dataHome.empty())
        m_strFolder = folder;
    m_strFile = folder + "/" + FileName(token);
}

std::string CRemovedArchive::DataHome()
{
    // A relative path in the variable is to be ignored, as the XDG base
    // directory rules say.
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    std::string homeFolder = home != nullptr ? home : "";
    if (homeFolder.empty()) {
        std::vector<char> buf(16384);
        passwd pw{};
        passwd* found = nullptr;
        if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
            found->pw_dir != nullptr)
            homeFolder = found->pw_dir;
    }
    if (homeFolder.empty() || homeFolder[0] != '/')
        return {};
    return (homeFolder == "/" ? std::string() : homeFolder) + "/.local/share";
}

std::string CRemovedArchive::FileName(const STokenIdentity& token)
{
    std::string name = !token.strSerial.empty() ? token.strSerial : token.strLabel;
    if (name.empty())
        name = "token";
    for (char& c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || byte < 0x20 || byte == 0x7F)
            c = '_';
    }
    return name + ".pem";
}

CRemovedArchive::SKept CRemovedArchive::Keep(const std::string& der, const std::string& displayName,
                                             const SYSTEMTIME& removedUtc)
{
    if (m_strFolder.empty())
        return Failed("no home folder is known");
    const std::string block = Block(der, displayName, removedUtc);
    if (block.empty())
        return Failed("the certificate could not be written as PEM");
    if (int error = MakeFolders(m_strFolder))
        return Failed(ErrnoText(error));

    bool bCreated = true;
    CFd fd(::open(m_strFile.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd.IsOpen() && errno == EEXIST) {
        bCreated = false;
        fd.Reset(::open(m_strFile.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    }
    if (!fd.IsOpen())
        return Failed(ErrnoText(errno));
    struct stat before {};
    if (::fstat(fd.Get(), &before) != 0)
        return Failed(ErrnoText(errno));
    int error = WriteAll(fd.Get(), block);
    if (error == 0 && ::fsync(fd.Get()) != 0)
        error = errno;
    if (error != 0) {
        // A part of a block would read as a damaged certificate.
        if (S_ISREG(before.st_mode) && ::ftruncate(fd.Get(), before.st_size) == 0)
            ::fsync(fd.Get());
        return Failed(ErrnoText(error));
    }
    if ((error = fd.Close()) != 0 || (bCreated && (error = SyncFolder(m_strFolder)) != 0))
        return Failed(ErrnoText(error));
    ++m_nKept;
    m_log.Debug(ETopic::Removal, "certificate '" + displayName + "' kept in " + m_strFile);
    return SKept{true, m_strFile, {}};
}

CRemovedArchive::SKept CRemovedArchive::Failed(const std::string& reason) const
{
    m_log.Warning(ETopic::Removal, "a certificate to delete could not be kept in " + m_strFile + ": " + reason);
    return SKept{false, m_strFile, reason};
}

std::string CRemovedArchive::Block(const std::string& der, const std::string& displayName,
                                   const SYSTEMTIME& removedUtc) const
{
    std::string pem = Pem(der);
    if (pem.empty())
        return {};
    // One line whatever the name and URI hold; PEM readers pass it over.
    return "# removed " + UtcText(removedUtc) + " from " + CEscapedText::Of(m_strTokenUri) + ": " +
           CEscapedText::Of(displayName) + "\n" + pem;
}

std::string CRemovedArchive::Details() const
{
    if (m_nKept == 0)
        return {};
    return "Each certificate deleted was kept first, as PEM after a line with the time (UTC), the token and "
           "its name, in:\n" +
           m_strFile + "\n(" + std::to_string(m_nKept) + (m_nKept == 1 ? " certificate" : " certificates") +
           " this time; their keys are not kept.)";
}
