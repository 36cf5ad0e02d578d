#pragma once

#include <string>

// Text from a token (a subject, a label) made safe to print on a terminal
// as one line: a backslash, tab, newline or carriage return becomes \\, \t,
// \n or \r, any other C0 control or DEL \xHH; a C1 control (U+0080 to
// U+009F) or a bidirectional control (U+202A to U+202E, U+2066 to U+2069)
// becomes \uHHHH, and a byte 0x80 to 0x9F outside well-formed UTF-8 \xHH.
// A subject may carry escape sequences meant for whoever lists the token;
// U+009B is a CSI on many terminals, and bidi controls reorder what is shown.
class CEscapedText {
public:
    static std::string Of(const std::string& text);

    // JSON text (UTF-8, whose strings already escape C0 controls) with its
    // C1 and bidi controls written as \u escapes: "\u009b". The JSON means
    // the same.
    static std::string OfJson(const std::string& json);
};
