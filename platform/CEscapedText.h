#pragma once

#include <string>

// Text from a token (a subject, a label) made safe to print on a terminal
// as one line: a backslash, tab, newline or carriage return becomes \\, \t,
// \n or \r, any other control byte \xHH. A subject may carry escape
// sequences meant for whoever lists the token.
class CEscapedText {
public:
    static std::string Of(const std::string& text);
};
