#pragma once

#include "CTraceRecord.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Reads the simulator's trace file (TOKENSIM_TRACE), for tests. Every query
// reads the file afresh; a missing file is an empty trace.
class CTokenSimTrace {
public:
    explicit CTokenSimTrace(std::string path);

    std::vector<std::string> Lines() const;
    // The lines that parse, in order.
    std::vector<CTraceRecord> Records() const;
    std::vector<CTraceRecord> Records(std::string_view function) const;
    // The functions called, in order.
    std::vector<std::string> Calls() const;
    std::size_t Count(std::string_view function) const;
    // Whether these functions were called in this order, other calls between.
    bool InOrder(const std::vector<std::string>& functions) const;
    // Empties the file, so that later queries see later calls only.
    void Truncate() const;

    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
};
