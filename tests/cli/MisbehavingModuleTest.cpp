#include "CListProgramTest.h"
#include "CSimulatedToken.h"

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>

using testsupport::CSimulatedToken;
using testsupport::CTestCertificate;

// certpurge-list over the token simulator, lying in one way per test as
// vendors' modules have been seen to.
class MisbehavingModuleTest : public CListProgramTest {
protected:
    MisbehavingModuleTest()
    {
        m_sim.SoftHsm().ImportCertificate(
            CTestCertificate().Add("C", "CN").Add("CN", "one").NotBefore("20200101000000Z").NotAfter("20990101000000Z").Der(), {1});
        LinkDefault(CSimulatedToken::ModulePath());
    }

    CSimulatedToken m_sim;
    static constexpr const char* kOneLine = "20200101000000\t20990101000000\t0\tone's \n";
};

// A token that comes between the count and the listing of the slots leaves
// the listing no room: the pair is asked again, but not without end.
TEST_F(MisbehavingModuleTest, SlotListThatGrewIsAskedAgain)
{
    m_sim.Control().AddFault("C_GetSlotList:2:lie=grown");
    EXPECT_EQ(Run(), 0) << m_run.Err();
    EXPECT_EQ(m_run.Out(), kOneLine);
    EXPECT_EQ(m_run.Err(), "");
    EXPECT_EQ(m_sim.Trace().Count("C_GetSlotList"), 4u);  // the pair, twice

    m_sim.Control().ClearFaults();
    m_sim.Control().AddFault("C_GetSlotList:*:lie=grown");
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(m_run.Out(), "");
    EXPECT_EQ(m_sim.Trace().Count("C_GetSlotList"), 4u + 2 * 4);  // four pairs, then it gives up
}

// The standard says a module that answers CKR_CRYPTOKI_ALREADY_INITIALIZED
// is ready for use, on the first C_Initialize as on any other.
TEST_F(MisbehavingModuleTest, AlreadyInitialisedIsReadyForUse)
{
    m_sim.Control().AddFault("C_Initialize:*:lie=already-initialized");
    EXPECT_EQ(Run(), 0) << m_run.Err();
    EXPECT_EQ(m_run.Out(), kOneLine);
    EXPECT_EQ(m_run.Err(), "");
}

// A module whose thread runs on after C_Finalize is never unloaded under it.
TEST_F(MisbehavingModuleTest, ModuleThreadOutlivingFinalizeCrashesNothing)
{
    m_sim.Control().AddFault("C_Initialize:1:lie=lingering-thread");
    EXPECT_EQ(Run(), 0) << m_run.Err();
    EXPECT_EQ(m_run.Out(), kOneLine);
    EXPECT_EQ(m_run.Err(), "");
    EXPECT_GE(m_sim.Trace().Count("C_Finalize"), 1u);  // the module was done with
}

// Text fields padded with NULs are padded all the same: no NUL reaches a
// listing, and the URI listed chooses its token.
TEST_F(MisbehavingModuleTest, NulPaddedTokenFieldsAreTrimmed)
{
    m_sim.Control().AddFault("C_GetTokenInfo:*:lie=nul-padded");
    ASSERT_EQ(Run({"--list-tokens"}), 0) << m_run.Err();
    EXPECT_EQ(m_run.Out().find("\\x00"), std::string::npos) << m_run.Out();
    EXPECT_NE(m_run.Out().find(std::string("\t") + testsupport::CSoftHsmToken::kLabel + "\tSoftHSM project\tSoftHSM v2\t"),
              std::string::npos)
        << m_run.Out();

    ASSERT_EQ(Run({"--list-tokens", "--format", "json"}), 0) << m_run.Err();
    const nlohmann::json tokens = nlohmann::json::parse(m_run.Out());
    ASSERT_EQ(tokens.size(), 1u);
    EXPECT_EQ(tokens[0]["label"], testsupport::CSoftHsmToken::kLabel);
    EXPECT_EQ(tokens[0]["model"], "SoftHSM v2");
    EXPECT_EQ(tokens[0]["serial"].get<std::string>().find('\0'), std::string::npos);
    const std::string uri = tokens[0]["uri"];
    EXPECT_EQ(uri.find("%00"), std::string::npos) << uri;

    EXPECT_EQ(Run({"--token", uri}), 0) << m_run.Err();
    EXPECT_EQ(m_run.Out(), kOneLine);
}

namespace {

// How the scan is made to stop at the second of three certificates, and
// the reason certpurge-list gives for it.
struct SCutShort {
    const char* fault;  // null: the second certificate's value does not decode
    const char* reason;
};

// Named by its reason in test listings, not by its bytes (which hold addresses).
void PrintTo(const SCutShort& cut, std::ostream* os)
{
    *os << cut.reason;
}

}  // namespace

class IncompleteListingTest : public MisbehavingModuleTest, public ::testing::WithParamInterface<SCutShort> {};

// A script must be able to tell "no certificate" from "could not read": what
// was read is printed, one line on standard error names the certificate and
// the reason, and the exit status is the incomplete listing's own.
TEST_P(IncompleteListingTest, SaysWhereAndWhyAndExitsWithItsOwnStatus)
{
    const SCutShort& cut = GetParam();
    const testsupport::Bytes second = cut.fault != nullptr ? CTestCertificate().Add("C", "CN").Add("CN", "two").Der()
                                                           : testsupport::Bytes{0x30, 0x03, 0x02, 0x01, 0x00};
    m_sim.SoftHsm().ImportCertificate(second, {2}, "cert2");
    m_sim.SoftHsm().ImportCertificate(CTestCertificate().Add("C", "CN").Add("CN", "three").Der(), {3}, "cert3");
    m_sim.Control().SetFindOrder(ETokenSimFindOrder::Label);  // "cert", "cert2", "cert3"
    if (cut.fault != nullptr)
        m_sim.Control().AddFault(cut.fault);  // the three reads of a certificate: the 4th is the second's first

    EXPECT_EQ(Run(), 4);
    EXPECT_EQ(m_run.Out(), kOneLine);
    EXPECT_EQ(m_run.Err(), std::string("certpurge.list: certificate 2 of 3 not read: ") + cut.reason +
                               "; the listing stops before it\n");

    EXPECT_EQ(Run({"--format", "json"}), 4);
    nlohmann::json list = nlohmann::json::parse(m_run.Out());
    ASSERT_EQ(list.size(), 2u) << m_run.Out();
    EXPECT_EQ(list[0]["name"], "one's ");
    EXPECT_EQ(list[1], nlohmann::json({{"complete", false}, {"certificate", 2}, {"found", 3}, {"reason", cut.reason}}));
}

INSTANTIATE_TEST_SUITE_P(Reasons, IncompleteListingTest,
                         ::testing::Values(SCutShort{"C_GetAttributeValue:4:CKR_DEVICE_REMOVED", "CKR_DEVICE_REMOVED"},
                                           SCutShort{nullptr, "does not decode"},
                                           SCutShort{"C_GetAttributeValue:4:CKR_ATTRIBUTE_TYPE_INVALID",
                                                     "CKR_ATTRIBUTE_TYPE_INVALID"},
                                           SCutShort{"C_GetAttributeValue:4:len=0x80000000",
                                                     "a length that cannot be true"}));
