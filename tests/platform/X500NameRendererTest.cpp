#include "CTestCertificate.h"
#include "platform/CCertificate.h"
#include "platform/CX500NameRenderer.h"
#include "platform/Utf8.h"

#include <gtest/gtest.h>

#include <cstring>

using testsupport::CTestCertificate;

namespace {

std::string RenderSubject(const CTestCertificate& builder)
{
    auto der = builder.Der();
    auto cert = CCertificate::Decode(der.data(), der.size());
    EXPECT_NE(cert, nullptr);
    return cert ? CX500NameRenderer::Render(cert->Subject()) : std::string();
}

bool IsValidUtf8(const std::string& s)
{
    std::size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (n == 0 || i + n > s.size())
            return false;
        for (std::size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += n;
    }
    return true;
}

}  // namespace

TEST(X500NameRenderer, FieldsInEncodedOrderWithCryptoApiKeys)
{
    CTestCertificate c;
    c.Add("C", "CN", CTestCertificate::kPrintable)
        .Add("ST", "Beijing")
        .Add("L", "Haidian")
        .Add("street", "1 Road")
        .Add("O", "Acme")
        .Add("OU", "Unit")
        .Add("title", "Boss")
        .Add("GN", "Given")
        .Add("SN", "Sur")
        .Add("initials", "GS")
        .Add("serialNumber", "42")
        .Add("DC", "example", CTestCertificate::kIa5)
        .Add("emailAddress", "a@b.c", CTestCertificate::kIa5)
        .Add("CN", "Zhang");
    EXPECT_EQ(RenderSubject(c),
              "C=CN, S=Beijing, L=Haidian, STREET=1 Road, O=Acme, OU=Unit, T=Boss, G=Given, SN=Sur, I=GS, "
              "SERIALNUMBER=42, DC=example, E=a@b.c, CN=Zhang");
}

TEST(X500NameRenderer, AttributeWithoutKeyShowsDottedOid)
{
    CTestCertificate c;
    c.Add("1.2.3.4.5", "x").Add("CN", "y");
    EXPECT_EQ(RenderSubject(c), "1.2.3.4.5=x, CN=y");
}

TEST(X500NameRenderer, MultiValuedRdnJoinedWithPlus)
{
    CTestCertificate c;
    c.Add("O", "Acme").Add("CN", "A").AddToLastRdn("SN", "B").Add("C", "CN", CTestCertificate::kPrintable);
    // OpenSSL keeps a SET's members in DER order; both come out in one RDN.
    std::string s = RenderSubject(c);
    EXPECT_TRUE(s == "O=Acme, CN=A + SN=B, C=CN" || s == "O=Acme, SN=B + CN=A, C=CN") << s;
}

TEST(X500NameRenderer, QuotesValuesWithSpecialCharactersOrEdgeBlanks)
{
    EXPECT_EQ(CX500NameRenderer::QuoteValue("plain value"), "plain value");
    EXPECT_EQ(CX500NameRenderer::QuoteValue(""), "");
    EXPECT_EQ(CX500NameRenderer::QuoteValue(" lead"), "\" lead\"");
    EXPECT_EQ(CX500NameRenderer::QuoteValue("trail "), "\"trail \"");
    EXPECT_EQ(CX500NameRenderer::QuoteValue("say \"hi\""), "\"say \"\"hi\"\"\"");
    for (char c : std::string(",+=\"\n<>#;")) {
        std::string value = std::string("a") + c + "b";
        EXPECT_EQ(CX500NameRenderer::QuoteValue(value).front(), '"') << "for " << int(c);
    }
}

TEST(X500NameRenderer, QuotedOrganisationInSubject)
{
    CTestCertificate c;
    c.Add("C", "CN", CTestCertificate::kPrintable).Add("O", "Acme, Inc.").Add("CN", "Li");
    EXPECT_EQ(RenderSubject(c), "C=CN, O=\"Acme, Inc.\", CN=Li");
}

TEST(X500NameRenderer, DecodesEveryStringTypeToUtf8)
{
    using namespace std::string_literals;
    CTestCertificate c;
    c.Add("CN", "张三")                                              // UTF8String
        .Add("OU", "\x00" "C" "\x00" "a" "\x00" "f" "\x00\xE9"s, CTestCertificate::kBmp)  // UCS-2
        .Add("L", "Caf\xE9", CTestCertificate::kT61)                    // Latin-1 bytes
        .Add("O", "Plain", CTestCertificate::kPrintable);
    EXPECT_EQ(RenderSubject(c), "CN=张三, OU=Café, L=Café, O=Plain");
}

TEST(X500NameRenderer, CutsTo254BytesBetweenCharacters)
{
    std::string unit;
    for (int i = 0; i < 20; ++i)
        unit += "张";  // 3 bytes each
    CTestCertificate c;
    for (int i = 0; i < 6; ++i)
        c.Add("OU", unit);  // "OU=" + 60 bytes, six times: well past 254
    auto der = c.Der();
    auto cert = CCertificate::Decode(der.data(), der.size());
    ASSERT_NE(cert, nullptr);

    char buffer[255];
    std::memset(buffer, 'x', sizeof buffer);
    std::size_t written = CX500NameRenderer::CertNameToStr(cert->Subject(), buffer, sizeof buffer);
    std::string out(buffer);
    EXPECT_EQ(written, out.size() + 1);
    EXPECT_LE(out.size(), 254u);
    EXPECT_GE(out.size(), 252u);  // whole 3-byte characters up to the cut
    EXPECT_TRUE(IsValidUtf8(out));
    EXPECT_EQ(out.rfind("OU=", 0), 0u);
}

TEST(X500NameRenderer, AnsiCutCountsEveryChineseCharacterAsTwoBytes)
{
    std::string unit;
    for (int i = 0; i < 20; ++i)
        unit += "张";
    CTestCertificate c;
    for (int i = 0; i < 6; ++i)
        c.Add("OU", unit);  // 43 ANSI bytes a field with its key: 268 in all
    auto der = c.Der();
    auto cert = CCertificate::Decode(der.data(), der.size());
    ASSERT_NE(cert, nullptr);

    std::string out = CX500NameRenderer::CertNameToAnsiStr(cert->Subject(), 255);
    EXPECT_EQ(Utf8::AnsiLength(out), 254u);  // 13 characters of the sixth field fill it
    EXPECT_GT(out.size(), 254u);             // more UTF-8 bytes than the buffer counts
    EXPECT_TRUE(IsValidUtf8(out));
    EXPECT_EQ(CX500NameRenderer::Render(cert->Subject()).rfind(out, 0), 0u);
    EXPECT_EQ(CX500NameRenderer::CertNameToAnsiStr(cert->Subject(), 1), "");
}

TEST(X500NameRenderer, ShortNameIsNotCut)
{
    CTestCertificate c;
    c.Add("CN", "abc");
    auto der = c.Der();
    auto cert = CCertificate::Decode(der.data(), der.size());
    ASSERT_NE(cert, nullptr);
    char buffer[255];
    EXPECT_EQ(CX500NameRenderer::CertNameToStr(cert->Subject(), buffer, sizeof buffer), 7u);
    EXPECT_STREQ(buffer, "CN=abc");
    char tiny[1];
    EXPECT_EQ(CX500NameRenderer::CertNameToStr(cert->Subject(), tiny, sizeof tiny), 1u);
    EXPECT_STREQ(tiny, "");
}

TEST(X500NameRenderer, EmptyNameRendersEmpty)
{
    CTestCertificate c;
    EXPECT_EQ(RenderSubject(c), "");
}
