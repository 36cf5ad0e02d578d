#pragma once

#include <string>

namespace testsupport {

// A fresh folder under $TMPDIR, removed with everything in it on destruction;
// or a given folder, created when missing and kept.
class CTempDir {
public:
    CTempDir();
    explicit CTempDir(const std::string& keptFolder);
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::string& Path() const { return m_strPath; }
    std::string File(const std::string& name) const { return m_strPath + "/" + name; }

private:
    std::string m_strPath;
    bool m_bKeep = false;
};

}  // namespace testsupport
