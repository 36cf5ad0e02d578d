#pragma once

#include "token/Pkcs11.h"

#include <cstddef>
#include <string>
#include <string_view>

// A fixed-size text field of PKCS#11 (a label, a manufacturer), padded
// with blanks, as a string without the padding. Some modules pad with NULs,
// or blanks and NULs: a trailing run of either is padding.
template <std::size_t N>
std::string PaddedText(const CK_UTF8CHAR (&field)[N])
{
    std::string text(reinterpret_cast<const char*>(field), N);
    text.erase(text.find_last_not_of(std::string_view(" \0", 2)) + 1);
    return text;
}

// The field with its padding all blanks, as the standard pads it.
template <std::size_t N>
void BlankPad(CK_UTF8CHAR (&field)[N])
{
    for (std::size_t i = N; i > 0 && (field[i - 1] == ' ' || field[i - 1] == '\0'); --i)
        field[i - 1] = ' ';
}

// The token's text fields padded with blanks, for what compares them
// as they are (its URI, a choice's match).
inline CK_TOKEN_INFO BlankPadded(CK_TOKEN_INFO info)
{
    BlankPad(info.label);
    BlankPad(info.manufacturerID);
    BlankPad(info.model);
    BlankPad(info.serialNumber);
    return info;
}
