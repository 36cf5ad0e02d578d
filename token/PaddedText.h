#pragma once

#include "token/Pkcs11.h"

#include <cstddef>
#include <string>

// A fixed-size text field of PKCS#11 (a label, a manufacturer), padded
// with blanks, as a string without the padding.
template <std::size_t N>
std::string PaddedText(const CK_UTF8CHAR (&field)[N])
{
    std::string text(reinterpret_cast<const char*>(field), N);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}
