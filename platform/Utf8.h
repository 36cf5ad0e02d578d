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

// Bytes of the character starting at `pos`: its lead byte's length, cut
// short where the continuation bytes end; a stray byte stands alone.
inline std::size_t CharLength(std::string_view text, std::size_t pos)
{
    auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t want = lead >= 0xF0 && lead <= 0xF7 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    std::size_t len = 1;
    while (len < want && pos + len < text.size() && (static_cast<unsigned char>(text[pos + len]) & 0xC0) == 0x80)
        ++len;
    return len;
}

// Lengths counted in the Simplified Chinese ANSI code page (GBK), which
// fixed-size text buffers are measured in: ASCII takes 1 byte, any other
// character 2.
inline std::size_t AnsiLength(std::string_view text)
{
    std::size_t ansi = 0;
    for (std::size_t pos = 0; pos < text.size(); pos += CharLength(text, pos))
        ansi += static_cast<unsigned char>(text[pos]) < 0x80 ? 1 : 2;
    return ansi;
}

// The longest prefix of `text`, in UTF-8 bytes, whose ANSI length is at
// most `maxAnsiBytes`, never ending inside a character.
inline std::size_t AnsiPrefixLength(std::string_view text, std::size_t maxAnsiBytes)
{
    std::size_t ansi = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t cost = static_cast<unsigned char>(text[pos]) < 0x80 ? 1 : 2;
        if (ansi + cost > maxAnsiBytes)
            break;
        ansi += cost;
        pos += CharLength(text, pos);
    }
    return pos;
}

}  // namespace Utf8
