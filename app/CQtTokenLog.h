#pragma once

#include "token/ITokenLog.h"

// The token library's log on Qt's logging categories certpurge.token,
// certpurge.monitor, certpurge.list and certpurge.removal: warnings show by
// default; --verbose, or QT_LOGGING_RULES="certpurge.*=true", shows the rest.
class CQtTokenLog : public ITokenLog {
public:
    bool IsDebugEnabled(ETopic topic) const override;
    void Debug(ETopic topic, const std::string& text) override;
    void Warning(ETopic topic, const std::string& text) override;

    // What --verbose does; QT_LOGGING_RULES still has the last word.
    static void EnableDebug();
};
