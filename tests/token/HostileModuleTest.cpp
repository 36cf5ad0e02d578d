#include "CSimulatedToken.h"
#include "inventory/ScanToken.h"
#include "platform/CFixedClock.h"

#include <gtest/gtest.h>

using testsupport::Bytes;
using testsupport::CSimulatedToken;
using testsupport::CTestCertificate;

namespace {

// A module that hands over lengths, counts and values it should not: the
// scan stops where it must, and never reads or allocates past what it holds.
class HostileModuleTest : public ::testing::Test {
protected:
    static constexpr std::time_t kNow = 1907755200;  // 2030-06-15 12:00:00 UTC

    void AddCert(const std::string& cn, const Bytes& id, const std::string& notBefore = "20300101000000Z")
    {
        m_sim.SoftHsm().ImportCertificate(
            CTestCertificate().Add("C", "CN").Add("CN", cn).NotBefore(notBefore).NotAfter("20400101000000Z").Der(), id);
    }

    ScanResult Scan() { return ScanToken(m_module, CSimulatedToken::ModulePath(), m_table, m_clock); }

    CSimulatedToken m_sim;
    CTokenModule m_module;
    CertTable m_table;
    CFixedClock m_clock{kNow};
};

}  // namespace

TEST_F(HostileModuleTest, ImpossibleLengthsStopTheScan)
{
    AddCert("a", {1});
    AddCert("b", {2});
    for (const char* length : {"len=unavailable", "len=0x80000000", "len=0xFFFFFFFFFFFFFFF0"}) {
        m_sim.Control().ClearFaults();
        m_sim.Control().AddFault(std::string("C_GetAttributeValue:*:") + length);
        ASSERT_EQ(Scan(), ScanResult::Scanned) << length;
        EXPECT_EQ(m_table.nCount, 0u) << length;
    }
}

TEST_F(HostileModuleTest, ZeroLengthValueIsUndecodable)
{
    AddCert("a", {1});
    m_sim.Control().AddFault("C_GetAttributeValue:*:len=0");
    ASSERT_EQ(Scan(), ScanResult::Scanned);
    EXPECT_EQ(m_table.nCount, 0u);
}

TEST_F(HostileModuleTest, BadLengthForALaterCertificateKeepsTheEarlierOnes)
{
    AddCert("a", {1});
    AddCert("b", {2});
    AddCert("c", {3});
    // Three calls a certificate: the fourth is the second one's size query.
    m_sim.Control().AddFault("C_GetAttributeValue:4:len=unavailable");
    ASSERT_EQ(Scan(), ScanResult::Scanned);
    EXPECT_EQ(m_table.nCount, 1u);
}

TEST_F(HostileModuleTest, SearchClaimingMoreThanItWasAskedFor)
{
    AddCert("a", {1}, "20300101000000Z");
    AddCert("b", {2}, "20300102000000Z");
    AddCert("c", {3}, "20300103000000Z");
    m_sim.Control().AddFault("C_FindObjects:1:count=50");
    ASSERT_EQ(Scan(), ScanResult::Scanned);
    // The three real handles are read; a handle the module never wrote is
    // never used.
    EXPECT_EQ(m_module.CertCount(), 3u);
    EXPECT_EQ(m_table.nCount, 3u);
    EXPECT_EQ(m_sim.Trace().Count("C_GetAttributeValue"), 3u * 3);
}

TEST_F(HostileModuleTest, StaleHandlesOfAnEarlierSearchAreNeverReused)
{
    for (unsigned char i = 1; i <= 5; ++i)
        AddCert("n" + std::to_string(i), {i});
    ASSERT_EQ(Scan(), ScanResult::Scanned);
    ASSERT_EQ(m_table.nCount, 5u);
    m_sim.SoftHsm().Destroy(CKO_CERTIFICATE, {5});
    m_sim.SoftHsm().Destroy(CKO_CERTIFICATE, {4});
    m_sim.Control().AddFault("C_FindObjects:1:count=5");
    ASSERT_EQ(Scan(), ScanResult::Scanned);
    EXPECT_EQ(m_table.nCount, 3u);
}

TEST_F(HostileModuleTest, EmptyIdentifier)
{
    AddCert("a", {});
    ASSERT_EQ(Scan(), ScanResult::Scanned);
    ASSERT_EQ(m_table.nCount, 1u);
    EXPECT_EQ(m_table.records[0].ulIdLen, 0u);
    EXPECT_EQ(m_table.records[0].pId[0], 0);
}

TEST_F(HostileModuleTest, SubjectLongerThanTheBufferIsCut)
{
    CTestCertificate cert;
    cert.Add("C", "CN");
    for (int i = 0; i < 6; ++i)
        cert.Add("OU", std::string(60, 'x'));
    cert.Add("O", "Beyond").Add("CN", "Beyond").NotBefore("20300101000000Z").NotAfter("20400101000000Z");
    m_sim.SoftHsm().ImportCertificate(cert.Der(), {1});
    ASSERT_EQ(Scan(), ScanResult::Scanned);
    ASSERT_EQ(m_table.nCount, 1u);
    EXPECT_EQ(m_table.records[0].strDisplayName, "");  // the CN and O lie past the cut
}

TEST_F(HostileModuleTest, TenIdenticalCertificates)
{
    Bytes der =
        CTestCertificate().Add("C", "CN").Add("CN", "Same").NotBefore("20300101000000Z").NotAfter("20400101000000Z").Der();
    for (unsigned char i = 1; i <= 10; ++i)
        m_sim.SoftHsm().ImportCertificate(der, {i});
    ASSERT_EQ(Scan(), ScanResult::Scanned);
    ASSERT_EQ(m_table.nCount, 10u);
    for (CK_ULONG i = 0; i < 10; ++i) {
        EXPECT_EQ(m_table.records[i].hCertObject, m_module.CertObject(i));  // equal dates keep the found order
        EXPECT_EQ(m_table.records[i].nMark, 0);  // issued in one second: none renews another
    }
}

TEST_F(HostileModuleTest, GarbageValuesAmongGoodOnes)
{
    m_sim.SoftHsm().ImportCertificate(Bytes(3000, 0x30), {1});
    ASSERT_EQ(Scan(), ScanResult::Scanned);
    EXPECT_EQ(m_table.nCount, 0u);
}

// Searches that hand out objects without end, more than were written: no
// handle the module did not give is used, and no key is taken.
TEST_F(HostileModuleTest, SearchesThatNeverEndTakeNothing)
{
    Bytes spki = m_sim.SoftHsm().GenerateKeyPair({7});
    m_sim.SoftHsm().ImportCertificate(CTestCertificate().Add("CN", "a").PublicKey(spki).Der(), {7});
    ASSERT_EQ(Scan(), ScanResult::Scanned);
    ASSERT_EQ(m_table.nCount, 1u);
    m_sim.Control().AddFault("C_FindObjects:*:count=16");
    const CK_SESSION_HANDLE session = m_module.Session(0);
    const unsigned char id[] = {7};
    std::vector<CK_OBJECT_HANDLE> holders;
    EXPECT_NE(m_module.FindCertificatesWithId(session, id, 1, holders), CKR_OK);
    CTokenModule::SFoundKeys found;
    EXPECT_NE(m_module.FindPubKey(session, id, 1, m_table.records[0].key, found), CKR_OK);
    EXPECT_TRUE(found.keys.empty());
    EXPECT_EQ(m_module.DestroyPubKey(found), CKR_OK);
    EXPECT_EQ(m_sim.SoftHsm().Count(CKO_PUBLIC_KEY, {7}), 1u);
    // Nor does a certificate search that hands out full batches without end
    // list anything: it fails, as the window and certpurge-list say.
    EXPECT_EQ(Scan(), ScanResult::FindFailed);
    EXPECT_EQ(m_table.nCount, 0u);
}

// The lengths a fetch answers are the caller's, within the room it gave: a
// module whose sizes shrink after the size query leaves no zero bytes
// padding the ID, and one whose sizes grow reads nothing past the buffers.
TEST_F(HostileModuleTest, ReadCertificateGivesTheLengthsFetched)
{
    AddCert("a", {1, 2, 3});
    ASSERT_EQ(Scan(), ScanResult::Scanned);
    ASSERT_EQ(m_module.CertCount(), 1u);
    CK_ULONG derLen = 0;
    CK_ULONG idLen = 0;
    ASSERT_EQ(m_module.ReadCertificate(0, nullptr, &derLen, nullptr, &idLen), CKR_OK);
    ASSERT_EQ(idLen, 3u);
    const struct {
        const char* length;
        CK_ULONG valueLen;
        CK_ULONG idLen;
    } kFetches[] = {
        {"len=1", 1, 1},
        {"len=0x100000", derLen, 3},
    };
    for (const auto& fetch : kFetches) {
        m_sim.Control().ClearFaults();
        // The size queries pass (the caller's, and the fetch's own); the
        // fetch answers the length.
        m_sim.Control().AddFault(std::string("C_GetAttributeValue:3:") + fetch.length);
        CK_ULONG valueLen = 0;
        idLen = 0;
        ASSERT_EQ(m_module.ReadCertificate(0, nullptr, &valueLen, nullptr, &idLen), CKR_OK);
        Bytes value(valueLen + 1, 0);
        Bytes id(idLen + 1, 0);
        ASSERT_EQ(m_module.ReadCertificate(0, value.data(), &valueLen, id.data(), &idLen), CKR_OK) << fetch.length;
        EXPECT_EQ(valueLen, fetch.valueLen) << fetch.length;
        EXPECT_EQ(idLen, fetch.idLen) << fetch.length;
    }
}
