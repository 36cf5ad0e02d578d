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
