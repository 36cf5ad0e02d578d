#include "platform/CHexText.h"

#include <gtest/gtest.h>

TEST(HexText, TwoDigitsAByteWithoutSeparators)
{
    const unsigned char bytes[] = {0x00, 0xAB, 0x0F, 0x10};
    EXPECT_EQ(CHexText::Upper(bytes, sizeof bytes), "00AB0F10");
    EXPECT_EQ(CHexText::Lower(bytes, sizeof bytes), "00ab0f10");
    EXPECT_EQ(CHexText::Upper(bytes, 1), "00");
    EXPECT_EQ(CHexText::Upper(bytes, 0), "");
    EXPECT_EQ(CHexText::Lower(nullptr, 0), "");
}
