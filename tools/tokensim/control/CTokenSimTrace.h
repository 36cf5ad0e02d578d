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
    // The calls' lines that parse, in order; notes of calls about to block
    // are left out, so a call that blocked counts once.
    std::vector<CTraceRecord> Records() const;
    std::vector<CTraceRecord> Records(std::string_view function) const;
    // The functions called, in order.
    std::vector<std::string> Calls() const;
    std::size_t Count(std::string_view function) const;
    // The notes of calls to `function` about to block ("... blocking").
    std::vector<CTraceRecord> BlockingNotes(std::string_view function) const;
    std::size_t CountBlocking(std::string_view function) const;
    // Whether these functions were called in this order, other calls between.
    bool InOrder(const std::vector<std::string>& functions) const;
    // Empties the file, so that later queries see later calls only.
    void Truncate() const;

    const std::string& Path() const { return m_strPath; }

private:
    // Every line that parses, notes included.
    std::vector<CTraceRecord> AllRecords() const;

    std::string m_strPath;
};
