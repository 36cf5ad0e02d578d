#pragma once

#include "tools/tokensim/control/CTokenSimState.h"

#include <optional>
#include <string>

// Follows the state file for the module. It only ever reads the file whole,
// without locks (writers replace it atomically), so no call waits on a
// writer; a file that does not parse leaves the last good state in force.
class CStateReader {
public:
    // An empty path: no file, the default state for good.
    void Open(std::string path);
    // The state when the file changed since the last read (the default one
    // when it is missing); null when unchanged or unreadable.
    std::optional<CTokenSimState> ReadIfChanged();

private:
    std::string m_strPath;
    std::optional<std::string> m_lastText;
    bool m_bRead = false;
};
