#pragma once

#include "token/ITokenLog.h"

// certpurge-list's log: warnings always, the rest under --verbose, on
// standard error as the window's Qt categories write them.
class CStderrLog : public ITokenLog {
public:
    explicit CStderrLog(bool bVerbose) : m_bVerbose(bVerbose) {}

    bool IsDebugEnabled(ETopic) const override { return m_bVerbose; }
    void Debug(ETopic topic, const std::string& text) override;
    void Warning(ETopic topic, const std::string& text) override;

private:
    bool m_bVerbose;
};
