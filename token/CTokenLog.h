#pragma once

#include "token/ITokenLog.h"
#include "token/Pkcs11.h"

#include <memory>
#include <string>

// A log that may be none, as the classes that log hold it; and how they
// write what they log about.
class CTokenLog {
public:
    using ETopic = ITokenLog::ETopic;

    CTokenLog() = default;
    explicit CTokenLog(std::shared_ptr<ITokenLog> pLog) : m_pLog(std::move(pLog)) {}

    // Whether debug lines of the topic are wanted: work done only to log
    // (an extra read of the module) is done only then.
    bool On(ETopic topic) const { return m_pLog && m_pLog->IsDebugEnabled(topic); }
    void Debug(ETopic topic, const std::string& text) const;
    void Warning(ETopic topic, const std::string& text) const;

    // A module call that failed: the step, the call, the slot (unless it
    // is CK_UNAVAILABLE_INFORMATION) and the answer's CKR_ name.
    void Failed(const char* step, const char* function, CK_SLOT_ID slot, CK_RV rv) const;

    // An identifier as lower-case hex; "(none)" when empty.
    static std::string Id(const unsigned char* bytes, CK_ULONG length);

private:
    std::shared_ptr<ITokenLog> m_pLog;
};
