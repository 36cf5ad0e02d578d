#pragma once

#include "CUniqueFd.h"

#include <string>

// An exclusive flock(2) on a file, held for the object's lifetime. Writers
// of the state file take it on a side file, so that the file they replace
// by rename(2) is never the one locked.
class CFileLock {
public:
    // Throws std::runtime_error when the lock file cannot be opened or locked.
    explicit CFileLock(const std::string& path);
    ~CFileLock();
    CFileLock(const CFileLock&) = delete;
    CFileLock& operator=(const CFileLock&) = delete;

private:
    CUniqueFd m_fd;
};
