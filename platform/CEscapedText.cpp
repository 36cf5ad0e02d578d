#include "platform/CEscapedText.h"

#include <string_view>

namespace {

// The length of the well-formed UTF-8 character at `pos`, 0 when the bytes
// there are none (a stray continuation byte, a cut or overlong sequence).
std::size_t WellFormedLength(std::string_view text, std::size_t pos)
{
    auto at = [&](std::size_t i) { return pos + i < text.size() ? static_cast<unsigned char>(text[pos + i]) : 0u; };
    auto tail = [&](std::size_t i) { return (at(i) & 0xC0) == 0x80; };
    const unsigned lead = at(0);
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return tail(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const bool bSecond = lead == 0xE0 ? at(1) >= 0xA0 : lead == 0xED ? at(1) <= 0x9F : true;
        return bSecond && tail(1) && tail(2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const bool bSecond = lead == 0xF0 ? at(1) >= 0x90 : lead == 0xF4 ? at(1) <= 0x8F : true;
        return bSecond && tail(1) && tail(2) && tail(3) ? 4 : 0;
    }
    return 0;
}

// The code point of a well-formed character of 2 or 3 bytes.
char32_t CodePoint(std::string_view text, std::size_t pos, std::size_t len)
{
    auto byte = [&](std::size_t i) { return static_cast<char32_t>(static_cast<unsigned char>(text[pos + i])); };
    if (len == 2)
        return (byte(0) & 0x1F) << 6 | (byte(1) & 0x3F);
    return (byte(0) & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
}

bool IsC1OrBidi(char32_t cp)
{
    return (cp >= 0x80 && cp <= 0x9F) || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

// `prefix`, then `value` in `digits` hex digits.
std::string Escape(const char* prefix, unsigned value, int digits, bool bUpper)
{
    const char* hex = bUpper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string out = prefix;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        out += hex[(value >> shift) & 0xF];
    return out;
}

// Writes the character at `pos` (well-formed, of `len` bytes, not ASCII) to
// `out`, a C1 or bidi control as an escape of four hex digits.
void AppendCharacter(std::string& out, std::string_view text, std::size_t pos, std::size_t len, bool bUpper)
{
    if (len <= 3 && IsC1OrBidi(CodePoint(text, pos, len)))
        out += Escape("\\u", static_cast<unsigned>(CodePoint(text, pos, len)), 4, bUpper);
    else
        out.append(text.substr(pos, len));
}

}  // namespace

std::string CEscapedText::Of(const std::string& text)
{
    std::string out;
    for (std::size_t pos = 0; pos < text.size();) {
        const char c = text[pos];
        const auto byte = static_cast<unsigned char>(c);
        const std::size_t len = WellFormedLength(text, pos);
        if (byte >= 0x80) {
            if (len > 0) {
                AppendCharacter(out, text, pos, len, true);
                pos += len;
                continue;
            }
            // Not UTF-8: on an 8-bit terminal 0x80 to 0x9F are C1 controls.
            out += byte <= 0x9F ? Escape("\\x", byte, 2, true) : std::string(1, c);
            ++pos;
            continue;
        }
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += byte < 0x20 || byte == 0x7F ? Escape("\\x", byte, 2, true) : std::string(1, c);
        }
        ++pos;
    }
    return out;
}

std::string CEscapedText::OfJson(const std::string& json)
{
    std::string out;
    for (std::size_t pos = 0; pos < json.size();) {
        const std::size_t len = WellFormedLength(json, pos);
        if (len < 2) {
            out += json[pos++];
            continue;
        }
        AppendCharacter(out, json, pos, len, false);
        pos += len;
    }
    return out;
}
