#include "CPublicKeyDer.h"
#include "CSoftHsmToken.h"
#include "inventory/BuildCertTable.h"
#include "inventory/ScanToken.h"
#include "platform/CFixedClock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

using testsupport::Bytes;
using testsupport::CPublicKeyDer;
using testsupport::CSoftHsmToken;
using testsupport::CTestCertificate;

namespace {

// 2030-06-15 12:00:00 UTC
constexpr std::time_t kNow = 1907755200;

class BuildCertTableTest : public ::testing::Test {
protected:
    BuildCertTableTest() : m_clock(kNow) {}

    void AddCert(const std::string& cn, const std::string& notBefore, const std::string& notAfter, Bytes id)
    {
        m_token.ImportCertificate(
            CTestCertificate().Add("C", "CN").Add("O", "Acme").Add("CN", cn).NotBefore(notBefore).NotAfter(notAfter).Der(),
            id);
    }

    ScanResult Scan() { return ScanToken(m_module, m_token.ModulePath().c_str(), m_table, m_clock); }

    // The position in the found order of the record with this CKA_ID's first byte.
    CK_ULONG FoundIndexOf(const CertRecord& r)
    {
        for (CK_ULONG i = 0; i < m_module.CertCount(); ++i) {
            if (m_module.CertObject(i) == r.hCertObject)
                return i;
        }
        ADD_FAILURE() << "record not among the found handles";
        return m_module.CertCount();
    }

    CSoftHsmToken m_token;
    CTokenModule m_module;
    CertTable m_table;
    CFixedClock m_clock;
};

}  // namespace

// What the order and the marks go by is read from each certificate (its
// name, dates, issuer and use), then ordered and marked.
TEST_F(BuildCertTableTest, RecordsHoldWhatTheirCertificatesSay)
{
    std::map<int, Bytes> ders;
    auto add = [&](unsigned char id, const std::string& issued, const std::string& expires, const std::string& ca,
                   const std::string& usage) {
        CTestCertificate cert;
        cert.Add("C", "CN").Add("O", "Acme").Add("CN", "Holder").IssuedBy(ca).NotBefore(issued).NotAfter(expires);
        if (!usage.empty())
            cert.KeyUsage(usage);
        ders[id] = cert.Der();
        // Some tokens store a value padded after the certificate.
        Bytes value = ders[id];
        value.insert(value.end(), id, 0);
        m_token.ImportCertificate(value, {id});
    };
    add(3, "20300103000000Z", "20400101000000Z", "CA2", "digitalSignature,keyEncipherment");
    add(1, "20300101000000Z", "20400101000000Z", "CA1", "critical,digitalSignature,nonRepudiation");
    add(2, "20300102000000Z", "20300601000000Z", "CA1", "keyEncipherment");  // expired
    ASSERT_EQ(Scan(), ScanResult::Scanned);
    ASSERT_EQ(m_table.nCount, 3u);
    const CertRecord* r = m_table.records.data();
    EXPECT_EQ(r[0].strDisplayName, "Holder's Acme ID");
    EXPECT_EQ(r[0].strIssueDate, "20300101000000");
    EXPECT_EQ(r[0].strExpiryDate, "20400101000000");
    EXPECT_EQ(r[0].strIssuer, "C=CN, O=CA1, CN=CA1");
    EXPECT_EQ(r[0].strIssuerDer, r[1].strIssuerDer);
    EXPECT_NE(r[0].strIssuerDer, r[2].strIssuerDer);
    EXPECT_EQ(r[0].eUse, CCertificate::EUse::Signing);
    EXPECT_EQ(r[1].eUse, CCertificate::EUse::Encryption);
    EXPECT_EQ(r[2].eUse, CCertificate::EUse::General);
    EXPECT_EQ((std::vector<int>{r[0].pId[0], r[1].pId[0], r[2].pId[0]}), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ((std::vector<int>{r[0].nMark, r[1].nMark, r[2].nMark}), (std::vector<int>{0, 1, 0}));
    // Whether deleting the private key loses what was encrypted to it.
    EXPECT_EQ((std::vector<bool>{r[0].bCanDecrypt, r[1].bCanDecrypt, r[2].bCanDecrypt}),
              (std::vector<bool>{false, true, true}));
    // What a removal keeps a copy of: the certificate, without the padding.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Bytes(r[i].strCertDer.begin(), r[i].strCertDer.end()), ders[r[i].pId[0]]);
}

TEST_F(BuildCertTableTest, KeepsTheIdWithATerminatingZero)
{
    AddCert("id", "20300101000000Z", "20400101000000Z", {0xDE, 0xAD, 0xBE, 0xEF});
    ASSERT_EQ(Scan(), ScanResult::Scanned);
    ASSERT_EQ(m_table.nCount, 1u);
    const CertRecord& r = m_table.records[0];
    EXPECT_EQ(r.ulIdLen, 4u);
    EXPECT_EQ(Bytes(r.pId.get(), r.pId.get() + 5), (Bytes{0xDE, 0xAD, 0xBE, 0xEF, 0x00}));
    EXPECT_EQ(r.hCertObject, m_module.CertObject(0));
}

TEST_F(BuildCertTableTest, KeyTypeFollowsTheCertificatesOwnKey)
{
    const std::vector<std::pair<Bytes, CK_KEY_TYPE>> keys = {
        {CPublicKeyDer::Fresh("RSA"), CKK_RSA},
        {CPublicKeyDer::Fresh("RSA-PSS"), CKK_RSA},
        {CPublicKeyDer::Fresh("EC", "P-256"), CKK_EC},
        {CPublicKeyDer::Fresh("EC", "P-384"), CKK_EC},
        {CPublicKeyDer::Fresh("ED25519"), CKK_EC_EDWARDS},
        {CPublicKeyDer::Fresh("ED448"), CKK_EC_EDWARDS},
        {CPublicKeyDer::Fresh("SM2"), CK_UNAVAILABLE_INFORMATION},  // often a type of the token maker's
        {CPublicKeyDer::Fresh("X25519"), CK_UNAVAILABLE_INFORMATION},  // no type the key searches know
    };
    // Issued in the reverse order of their import: the key type must go
    // with its record when the table is ordered.
    for (std::size_t i = 0; i < keys.size(); ++i) {
        std::string issued = "2030010" + std::to_string(9 - i) + "000000Z";
        m_token.ImportCertificate(CTestCertificate().Add("C", "CN").Add("CN", "k" + std::to_string(i))
                                      .NotBefore(issued).NotAfter("20400101000000Z").PublicKey(keys[i].first).Der(),
                                  {static_cast<unsigned char>(i)});
    }
    ASSERT_EQ(Scan(), ScanResult::Scanned);
    ASSERT_EQ(m_table.nCount, keys.size());
    for (CK_ULONG i = 0; i < m_table.nCount; ++i) {
        const CertRecord& r = m_table.records[i];
        ASSERT_LT(r.pId[0], keys.size());
        EXPECT_EQ(r.pId[0], keys.size() - 1 - i);
        EXPECT_EQ(r.key.SearchType(), keys[r.pId[0]].second) << "key " << int(r.pId[0]);
    }
}

// Every certificate is a record, past any one batch of the search: a
// renewal found last marks the certificate it renews, found first.
TEST_F(BuildCertTableTest, EveryCertificateFoundIsARecord)
{
    AddCert("Renewed", "20300101000000Z", "20400101000000Z", {1});
    for (int i = 0; i < 2 * static_cast<int>(MAX_CERTS); ++i)
        AddCert("n" + std::to_string(i), "20300102000000Z", "20400101000000Z", {Bytes::value_type(i + 2)});
    AddCert("Renewed", "20300103000000Z", "20400101000000Z", {0x40});
    ASSERT_EQ(Scan(), ScanResult::Scanned);
    ASSERT_EQ(m_table.nCount, 2 * MAX_CERTS + 2);
    EXPECT_EQ(m_table.nFound, m_table.nCount);
    EXPECT_TRUE(m_table.IsComplete());
    EXPECT_EQ(m_table.records.front().pId[0], 1);
    EXPECT_EQ(m_table.records.front().nMark, 1);
    EXPECT_EQ(m_table.records.back().pId[0], 0x40);
    EXPECT_EQ(std::count_if(m_table.records.begin(), m_table.records.end(), [](const CertRecord& r) { return r.nMark == 1; }),
              1);
}

TEST_F(BuildCertTableTest, ScanStopsAtTheFirstUndecodableCertificate)
{
    AddCert("a", "20300101000000Z", "20400101000000Z", {1});
    m_token.ImportCertificate(Bytes(200, 0x5A), {2});
    AddCert("b", "20300102000000Z", "20400101000000Z", {3});
    ASSERT_EQ(Scan(), ScanResult::Scanned);
    ASSERT_EQ(m_module.CertCount(), 3u);

    // The table holds exactly the certificates found before the bad one.
    CK_ULONG bad = 3;
    for (CK_ULONG i = 0; i < 3; ++i) {
        CK_ULONG vl = 0, il = 0;
        ASSERT_EQ(m_module.ReadCertificate(i, nullptr, &vl, nullptr, &il), CKR_OK);
        if (vl == 200)
            bad = i;
    }
    ASSERT_LT(bad, 3u);
    EXPECT_EQ(m_table.nCount, bad);
    for (CK_ULONG i = 0; i < m_table.nCount; ++i)
        EXPECT_NE(m_table.records[i].pId[0], 2);
}

TEST_F(BuildCertTableTest, OnlyCertificateUndecodableGivesAnEmptyTable)
{
    m_token.ImportCertificate(Bytes{0x30, 0x03, 0x02, 0x01, 0x01}, {9});
    ASSERT_EQ(Scan(), ScanResult::Scanned);
    EXPECT_EQ(m_table.nCount, 0u);
}

TEST_F(BuildCertTableTest, UnreadableValidityTimeIsTreatedAsUndecodable)
{
    // A month 13 that the decoder lets through but no calendar has.
    Bytes der = CTestCertificate().Add("C", "CN").Add("CN", "bad").NotBefore("20200101000000Z").NotAfter("20301201000000Z").Der();
    const std::string good = "301201000000Z";
    auto at = std::search(der.begin(), der.end(), good.begin(), good.end());
    ASSERT_NE(at, der.end());
    at[2] = '3';
    m_token.ImportCertificate(der, {1});
    ASSERT_EQ(Scan(), ScanResult::Scanned);
    EXPECT_EQ(m_table.nCount, 0u);
}

TEST_F(BuildCertTableTest, LongChineseSubjectsKeepTheirCommonName)
{
    // About 190 bytes in the Chinese ANSI code page, 270 in UTF-8: the CN
    // fits the 254-byte subject buffer only when it is measured in ANSI bytes.
    std::string org;
    for (int i = 0; i < 56; ++i)
        org += "京";
    std::string unit;
    for (int i = 0; i < 18; ++i)
        unit += "部";
    auto subject = [&](const std::string& cn, const std::string& notBefore) {
        return CTestCertificate().Add("C", "CN").Add("ST", "北京市").Add("L", "海淀区").Add("O", org).Add("OU", unit)
            .Add("CN", cn).NotBefore(notBefore).NotAfter("20400101000000Z").Der();
    };
    m_token.ImportCertificate(subject("李四", "20300101000000Z"), {1});
    m_token.ImportCertificate(subject("张三", "20300102000000Z"), {2});
    ASSERT_EQ(Scan(), ScanResult::Scanned);
    ASSERT_EQ(m_table.nCount, 2u);
    EXPECT_EQ(m_table.records[0].strDisplayName, "李四's " + org + " ID");
    EXPECT_EQ(m_table.records[1].strDisplayName, "张三's " + org + " ID");
    EXPECT_EQ(m_table.records[0].nMark, 0);
    EXPECT_EQ(m_table.records[1].nMark, 0);
}

TEST_F(BuildCertTableTest, ChineseSubject)
{
    m_token.ImportCertificate(
        CTestCertificate().Add("C", "CN").Add("O", "某公司").Add("CN", "张三").NotBefore("20300101000000Z").NotAfter("20400101000000Z").Der(), {1});
    ASSERT_EQ(Scan(), ScanResult::Scanned);
    ASSERT_EQ(m_table.nCount, 1u);
    EXPECT_EQ(m_table.records[0].strDisplayName, "张三's 某公司 ID");
}

TEST_F(BuildCertTableTest, TokenWithoutCertificates)
{
    EXPECT_EQ(Scan(), ScanResult::NoCertificates);
    EXPECT_EQ(m_table.nCount, 0u);
}

// A table built before (by an earlier refresh, say) keeps none of its marks:
// a record marked then is read anew and judged anew.
TEST_F(BuildCertTableTest, ATableUsedTwiceKeepsNoMarkOfItsFirstUse)
{
    AddCert("valid", "20300101000000Z", "20400101000000Z", {1});
    ASSERT_EQ(Scan(), ScanResult::Scanned);
    ASSERT_EQ(m_table.nCount, 1u);
    m_table.records[0].nMark = 1;
    BuildCertTable(m_module, m_table, m_clock);
    ASSERT_EQ(m_table.nCount, 1u);
    EXPECT_EQ(m_table.records[0].nMark, 0);
}
