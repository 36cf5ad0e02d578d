#include "token/CTokenLog.h"

#include "platform/CEscapedText.h"
#include "platform/CHexText.h"
#include "token/CCkrNames.h"

// Labels and subjects come from the token: nothing in them reaches a
// terminal as a control byte.
void CTokenLog::Debug(ETopic topic, const std::string& text) const
{
    if (On(topic))
        m_pLog->Debug(topic, CEscapedText::Of(text));
}

void CTokenLog::Warning(ETopic topic, const std::string& text) const
{
    if (m_pLog)
        m_pLog->Warning(topic, CEscapedText::Of(text));
}

void CTokenLog::Failed(const char* step, const char* function, CK_SLOT_ID slot, CK_RV rv) const
{
    if (!On(ETopic::Token))
        return;
    std::string text = std::string(step) + ": " + function;
    if (slot != CK_UNAVAILABLE_INFORMATION)
        text += " on slot " + std::to_string(slot);
    Debug(ETopic::Token, text + " failed: " + CCkrNames::Of(rv));
}

std::string CTokenLog::Id(const unsigned char* bytes, CK_ULONG length)
{
    return length == 0 ? std::string("(none)") : CHexText::Lower(bytes, length);
}
