#pragma once

#include "tools/tokensim/control/CUniqueFd.h"

#include <mutex>
#include <string>

// Appends lines to the file named by TOKENSIM_TRACE, each with one write(2)
// on an O_APPEND descriptor, so lines from threads and processes never mix.
class CTraceWriter {
public:
    // Whether TOKENSIM_TRACE names a file now.
    bool Enabled() const;
    void Write(std::string line);

private:
    std::mutex m_mutex;
    CUniqueFd m_fd;
    std::string m_strPath;
};
