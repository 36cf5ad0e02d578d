#include "platform/Utf8.h"

#include <gtest/gtest.h>

TEST(Utf8, PrefixNeverEndsInsideACharacter)
{
    const std::string text = "ab张三";  // 2 + 3 + 3 bytes
    EXPECT_EQ(Utf8::SafePrefix(text, 8), text);
    EXPECT_EQ(Utf8::SafePrefix(text, 7), "ab张");
    EXPECT_EQ(Utf8::SafePrefix(text, 5), "ab张");
    EXPECT_EQ(Utf8::SafePrefix(text, 4), "ab");
    EXPECT_EQ(Utf8::SafePrefix(text, 2), "ab");
    EXPECT_EQ(Utf8::SafePrefix(text, 0), "");
    EXPECT_EQ(Utf8::SafePrefix("\xF0\x9F\x98\x80x", 3), "");  // a 4-byte character
}

TEST(Utf8, AnsiLengthCountsAsciiOnceAndEveryOtherCharacterTwice)
{
    EXPECT_EQ(Utf8::AnsiLength(""), 0u);
    EXPECT_EQ(Utf8::AnsiLength("ab张三"), 6u);
    EXPECT_EQ(Utf8::AnsiLength("\xC3\xA9\xF0\x9F\x98\x80"), 4u);  // é and a 4-byte character
    // A stray continuation byte or a cut-off sequence still costs, and still ends.
    EXPECT_EQ(Utf8::AnsiLength("\x80x"), 3u);
    EXPECT_EQ(Utf8::AnsiLength("\xE5\xBC"), 2u);
}

TEST(Utf8, AnsiPrefixFitsTheBudgetBetweenCharacters)
{
    const std::string text = "ab张三c";  // ANSI 2 + 2 + 2 + 1
    EXPECT_EQ(Utf8::AnsiPrefixLength(text, 7), text.size());
    EXPECT_EQ(Utf8::AnsiPrefixLength(text, 6), 8u);  // "ab张三"
    EXPECT_EQ(Utf8::AnsiPrefixLength(text, 5), 5u);  // "ab张": half of 三 does not fit
    EXPECT_EQ(Utf8::AnsiPrefixLength(text, 1), 1u);
    EXPECT_EQ(Utf8::AnsiPrefixLength(text, 0), 0u);
    EXPECT_EQ(Utf8::AnsiPrefixLength("\xF0\x9F\x98\x80x", 1), 0u);
}

TEST(Utf8, PrefixLengthBacksOffToTheLastWholeCharacter)
{
    EXPECT_EQ(Utf8::SafePrefixLength("a中b", 4), 4U);
    EXPECT_EQ(Utf8::SafePrefixLength("aé", 2), 1U);
    EXPECT_EQ(Utf8::SafePrefixLength("😀x", 3), 0U);
}
