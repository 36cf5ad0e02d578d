#include "platform/SystemTimeConv.h"

namespace SystemTimeConv {

SYSTEMTIME FromTm(const std::tm& tm)
{
    SYSTEMTIME st;
    st.wYear = static_cast<WORD>(tm.tm_year + 1900);
    st.wMonth = static_cast<WORD>(tm.tm_mon + 1);
    st.wDayOfWeek = static_cast<WORD>(tm.tm_wday);
    st.wDay = static_cast<WORD>(tm.tm_mday);
    st.wHour = static_cast<WORD>(tm.tm_hour);
    st.wMinute = static_cast<WORD>(tm.tm_min);
    // A leap second reads as the last second of its minute.
    st.wSecond = static_cast<WORD>(tm.tm_sec > 59 ? 59 : tm.tm_sec);
    return st;
}

SYSTEMTIME FromUnixUtc(std::time_t t)
{
    std::tm tm{};
    if (gmtime_r(&t, &tm) == nullptr)
        return SYSTEMTIME{};
    return FromTm(tm);
}

SYSTEMTIME FromUnixLocal(std::time_t t)
{
    std::tm tm{};
    if (localtime_r(&t, &tm) == nullptr)
        return SYSTEMTIME{};
    return FromTm(tm);
}

}  // namespace SystemTimeConv
