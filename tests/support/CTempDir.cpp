#include "CTempDir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace testsupport {

CTempDir::CTempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/certpurge-test-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        throw std::runtime_error("mkdtemp failed for " + templ);
    m_strPath = buf.data();
}

CTempDir::CTempDir(const std::string& keptFolder) : m_strPath(keptFolder), m_bKeep(true)
{
    std::filesystem::create_directories(m_strPath);
}

CTempDir::~CTempDir()
{
    if (m_bKeep)
        return;
    std::error_code ec;
    std::filesystem::remove_all(m_strPath, ec);
}

}  // namespace testsupport
