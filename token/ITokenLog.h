#pragma once

#include <string>

// Where the token library, and the subsystems above it, say what they do,
// for whoever finds out why something failed: the window passes it to Qt's
// logging categories, certpurge-list to standard error under --verbose.
// Called from any thread. Nothing said carries the PIN, nor more of a
// certificate than its subject, dates and ID.
class ITokenLog {
public:
    enum class ETopic { Token, Monitor, List, Removal };

    virtual ~ITokenLog() = default;
    virtual bool IsDebugEnabled(ETopic topic) const = 0;
    virtual void Debug(ETopic topic, const std::string& text) = 0;
    virtual void Warning(ETopic topic, const std::string& text) = 0;

    // "certpurge.token", "certpurge.monitor", "certpurge.list", "certpurge.removal".
    static const char* CategoryName(ETopic topic)
    {
        switch (topic) {
        case ETopic::Token: return "certpurge.token";
        case ETopic::Monitor: return "certpurge.monitor";
        case ETopic::List: return "certpurge.list";
        case ETopic::Removal: return "certpurge.removal";
        }
        return "certpurge";
    }
};
