#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// UTF-8 is the system code page: byte strings are cut only between characters.
namespace Utf8 {

// The longest prefix of `text` of at most `maxBytes` bytes that does not end
// inside a multi-byte character.
inline std::size_t SafePrefixLength(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text.size();
    std::size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
}

inline std::string SafePrefix(std::string_view text, std::size_t maxBytes)
{
    return std::string(text.substr(0, SafePrefixLength(text, maxBytes)));
}

}  // namespace Utf8
