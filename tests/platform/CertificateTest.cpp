#include "CTestCertificate.h"
#include "platform/CCertificate.h"

#include <gtest/gtest.h>

using testsupport::CTestCertificate;

namespace {

void ExpectFields(const SYSTEMTIME& t, int y, int mo, int d, int h, int mi, int s)
{
    EXPECT_EQ(t.wYear, y);
    EXPECT_EQ(t.wMonth, mo);
    EXPECT_EQ(t.wDay, d);
    EXPECT_EQ(t.wHour, h);
    EXPECT_EQ(t.wMinute, mi);
    EXPECT_EQ(t.wSecond, s);
}

}  // namespace

TEST(Certificate, ValidityAsUtcCalendarFields)
{
    CTestCertificate c;
    c.Add("CN", "x").NotBefore("20191231235959Z").NotAfter("20510102030405Z");  // UTCTime, GeneralizedTime
    auto der = c.Der();
    auto cert = CCertificate::Decode(der.data(), der.size());
    ASSERT_NE(cert, nullptr);
    ExpectFields(cert->NotBefore(), 2019, 12, 31, 23, 59, 59);
    ExpectFields(cert->NotAfter(), 2051, 1, 2, 3, 4, 5);
}

TEST(Certificate, UndecodableValuesAreReportedNotCrashed)
{
    CTestCertificate c;
    c.Add("CN", "x");
    auto der = c.Der();

    EXPECT_EQ(CCertificate::Decode(nullptr, 0), nullptr);
    EXPECT_EQ(CCertificate::Decode(der.data(), 0), nullptr);
    EXPECT_EQ(CCertificate::Decode(der.data(), der.size() - 1), nullptr);
    EXPECT_EQ(CCertificate::Decode(der.data(), der.size() / 2), nullptr);

    std::vector<unsigned char> garbage(300, 0xA5);
    EXPECT_EQ(CCertificate::Decode(garbage.data(), garbage.size()), nullptr);

    // Padding after a whole certificate is not its business.
    auto padded = der;
    padded.insert(padded.end(), 16, 0);
    EXPECT_NE(CCertificate::Decode(padded.data(), padded.size()), nullptr);

    auto flipped = der;
    flipped[0] = 0x31;  // not a SEQUENCE
    EXPECT_EQ(CCertificate::Decode(flipped.data(), flipped.size()), nullptr);
}
