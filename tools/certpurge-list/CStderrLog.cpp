#include "CStderrLog.h"

#include <cstdio>

void CStderrLog::Debug(ETopic topic, const std::string& text)
{
    if (m_bVerbose)
        std::fprintf(stderr, "%s: %s\n", CategoryName(topic), text.c_str());
}

void CStderrLog::Warning(ETopic topic, const std::string& text)
{
    std::fprintf(stderr, "%s: %s\n", CategoryName(topic), text.c_str());
}
