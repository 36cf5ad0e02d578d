#pragma once

#include "platform/WinTypes.h"

#include <ctime>

// Calendar fields from the C library's time representations.
namespace SystemTimeConv {

SYSTEMTIME FromTm(const std::tm& tm);
SYSTEMTIME FromUnixUtc(std::time_t t);
SYSTEMTIME FromUnixLocal(std::time_t t);

}  // namespace SystemTimeConv
