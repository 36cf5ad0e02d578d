#pragma once
// The few Windows value types the system's data is written in, with the
// same widths and layouts, so that colours and calendar fields keep their
// meaning on this platform.

#include <cstdint>

using COLORREF = std::uint32_t;  // 0x00BBGGRR
using WORD = std::uint16_t;

constexpr COLORREF RGB(int red, int green, int blue)
{
    return static_cast<COLORREF>((red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16));
}
constexpr int GetRValue(COLORREF cr) { return static_cast<int>(cr & 0xFF); }
constexpr int GetGValue(COLORREF cr) { return static_cast<int>((cr >> 8) & 0xFF); }
constexpr int GetBValue(COLORREF cr) { return static_cast<int>((cr >> 16) & 0xFF); }

// Calendar fields of one instant; day of week and milliseconds are carried
// but never used.
struct SYSTEMTIME {
    WORD wYear = 0;
    WORD wMonth = 0;
    WORD wDayOfWeek = 0;
    WORD wDay = 0;
    WORD wHour = 0;
    WORD wMinute = 0;
    WORD wSecond = 0;
    WORD wMilliseconds = 0;
};

using UINT = unsigned int;
using BOOL = int;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
