#pragma once

#include "platform/WinTypes.h"
#include "token/CTokenLog.h"
#include "token/STokenIdentity.h"

#include <cstddef>
#include <string>

// Where a removal keeps every certificate before it destroys it, so one it
// should not have deleted can be put back: appended as PEM, after a comment
// line, to certpurge/removed/<token serial, or label>.pem under the user's
// data folder, and on the disk before the destroy. Certificates are public:
// nothing else is ever written here, no key and no PIN.
class CRemovedArchive {
public:
    // What became of one certificate.
    struct SKept {
        bool bKept = false;
        std::string strFile;    // the file it went to, or would have
        std::string strReason;  // why not, as the system says it
    };

    // The archive of `token`'s certificates under `dataHome`; an empty one
    // keeps nothing (DataHome() found none).
    CRemovedArchive(const std::string& dataHome, const STokenIdentity& token, CTokenLog log = CTokenLog());

    // $XDG_DATA_HOME when it is an absolute path, else ~/.local/share;
    // empty when no home folder is known.
    static std::string DataHome();
    // The token's serial, else its label, else "token", with '/' and control
    // bytes as '_', and ".pem".
    static std::string FileName(const STokenIdentity& token);

    // Appends the certificate `der` after a comment line of the time
    // `removedUtc`, the token's URI and `displayName`, and flushes file and
    // folder to the disk. Nothing is left of a block not wholly written.
    SKept Keep(const std::string& der, const std::string& displayName, const SYSTEMTIME& removedUtc);

    const std::string& File() const { return m_strFile; }
    // How many certificates this archive kept.
    std::size_t KeptCount() const { return m_nKept; }
    // Where the certificates kept are, for the box that ends the removal;
    // empty when none was kept.
    std::string Details() const;

private:
    SKept Failed(const std::string& reason) const;
    std::string Block(const std::string& der, const std::string& displayName, const SYSTEMTIME& removedUtc) const;

    std::string m_strFolder;  // empty when no data folder is known
    std::string m_strFile;
    std::string m_strTokenUri;
    CTokenLog m_log;
    std::size_t m_nKept = 0;
};
