#pragma once

#include <cstddef>
#include <string>

// Bytes as hex digits, two a byte, without separators, by OpenSSL.
class CHexText {
public:
    static std::string Upper(const unsigned char* data, std::size_t length);
    static std::string Lower(const unsigned char* data, std::size_t length);
};
