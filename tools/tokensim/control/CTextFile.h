#pragma once

#include <optional>
#include <string>

// Whole-file reads and replacing writes for the small files of the simulator.
class CTextFile {
public:
    // The file's content, or null when it cannot be read (missing, say).
    // Never blocks on other processes: no locks are taken.
    static std::optional<std::string> Read(const std::string& path);
    // Writes a temporary file beside `path` and renames it over, so readers
    // see the old content or the new, never a part. Throws std::runtime_error.
    static void Replace(const std::string& path, const std::string& content);
};
