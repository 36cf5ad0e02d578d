#include "platform/CEscapedText.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

// Token text as it may come, and what reaches a terminal, a log or the
// window title, then what reaches JSON.
struct SEscapeCase {
    const char* what;
    std::string text;
    std::string escaped;
    std::string json;
};

void PrintTo(const SEscapeCase& c, std::ostream* os)
{
    *os << c.what;
}

class EscapedTextTest : public ::testing::TestWithParam<SEscapeCase> {};

}  // namespace

TEST_P(EscapedTextTest, NoControlReachesTheTerminal)
{
    const SEscapeCase& c = GetParam();
    EXPECT_EQ(CEscapedText::Of(c.text), c.escaped) << c.what;
    EXPECT_EQ(CEscapedText::OfJson(c.text), c.json) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Controls, EscapedTextTest,
    ::testing::Values(
        SEscapeCase{"C0 and ESC", "a\x1b[2J\tb\\", "a\\x1B[2J\\tb\\\\", "a\x1b[2J\tb\\"},
        SEscapeCase{"C1 as UTF-8: CSI, NEL", "a\xC2\x9B" "2J\xC2\x85z", "a\\u009B2J\\u0085z", "a\\u009b2J\\u0085z"},
        SEscapeCase{"C1 raw, outside UTF-8", "a\x9B" "2J\x80z", "a\\x9B2J\\x80z", "a\x9B" "2J\x80z"},
        SEscapeCase{"a cut sequence", "a\xE2\x80", "a\xE2\\x80", "a\xE2\x80"},
        SEscapeCase{"bidi: RLO, PDF, LRI, PDI", "\xE2\x80\xAEtxt.exe\xE2\x80\xAC\xE2\x81\xA6x\xE2\x81\xA9",
                    "\\u202Etxt.exe\\u202C\\u2066x\\u2069", "\\u202etxt.exe\\u202c\\u2066x\\u2069"},
        SEscapeCase{"neighbours stay", "\xC2\xA0\xE2\x80\xA9\xE2\x81\xAA\xE5\xBC\xA0\xF0\x9F\x98\x80\xC3\xA9",
                    "\xC2\xA0\xE2\x80\xA9\xE2\x81\xAA\xE5\xBC\xA0\xF0\x9F\x98\x80\xC3\xA9",
                    "\xC2\xA0\xE2\x80\xA9\xE2\x81\xAA\xE5\xBC\xA0\xF0\x9F\x98\x80\xC3\xA9"}));
