#include "CListProgramTest.h"
#include "CSimulatedToken.h"
#include "P11KitProxy.h"
#include "tools/tokensim/control/CTokenSimControl.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <sstream>

using testsupport::CSoftHsmToken;
using testsupport::CTestCertificate;

namespace {

// A line of --list-tokens: URI, label, manufacturer, model, serial, state,
// PIN state, removable|fixed, hardware|software, write-protected|writable.
std::vector<std::vector<std::string>> Fields(const std::string& out)
{
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '\t');)
            fields.push_back(cell);
        lines.push_back(fields);
    }
    return lines;
}

// SoftHSM2 with two tokens, "certpurge-test" and "second-token", each
// holding one certificate named after it, and its spare slot with a token
// not initialised.
class TokenChoiceTest : public CListProgramTest {
protected:
    TokenChoiceTest()
    {
        const CK_SLOT_ID second = m_token.AddToken("second-token");
        AddCert("first");
        m_token.UseToken(second);
        AddCert("second");
    }

    void AddCert(const std::string& cn)
    {
        m_token.ImportCertificate(
            CTestCertificate().Add("C", "CN").Add("CN", cn).NotBefore("20200101000000Z").NotAfter("20990101000000Z").Der(),
            {1});
    }
    static std::string Row(const std::string& cn) { return "20200101000000\t20990101000000\t0\t" + cn + "'s \n"; }

    int Run(std::vector<std::string> args, const std::string& module)
    {
        args.insert(args.begin(), {"--module", module});
        return CListProgramTest::Run(args);
    }
};

}  // namespace

// Straight on SoftHSM2: the first initialised token unless one is chosen,
// each one by label or serial, nothing for a URI that matches none.
TEST_F(TokenChoiceTest, EachTokenIsReachedByItsUri)
{
    const std::string module = m_token.ModulePath();
    ASSERT_EQ(Run({"--list-tokens"}, module), 0) << m_run.Err();
    const auto tokens = Fields(m_run.Out());
    ASSERT_EQ(tokens.size(), 3u) << m_run.Out();
    std::vector<std::string> initialised;
    for (const auto& t : tokens) {
        ASSERT_EQ(t.size(), 10u);
        EXPECT_EQ(t[0].rfind("pkcs11:", 0), 0u) << t[0];
        // The tests' SoftHSM2 says its slots are removable.
        EXPECT_EQ(std::vector<std::string>(t.begin() + 7, t.end()),
                  (std::vector<std::string>{"removable", "software", "writable"}));
        if (t[5] == "initialised")
            initialised.push_back(t[1]);
        else
            EXPECT_EQ(t[5], "uninitialised");
    }
    ASSERT_EQ(initialised.size(), 2u);

    // Without a choice: the first initialised token, named on standard error.
    ASSERT_EQ(Run({}, module), 0) << m_run.Err();
    const auto& first = *std::find_if(tokens.begin(), tokens.end(), [](const auto& t) { return t[5] == "initialised"; });
    EXPECT_EQ(m_run.Out(), Row(first[1] == CSoftHsmToken::kLabel ? "first" : "second"));
    EXPECT_EQ(m_run.Err(), "certpurge-list: 2 tokens present, listing " + first[0] + " (choose one with --token)\n");

    for (const auto& t : tokens) {
        if (t[5] != "initialised")
            continue;
        const std::string row = Row(t[1] == CSoftHsmToken::kLabel ? "first" : "second");
        for (const std::string& uri : {"pkcs11:token=" + t[1], "pkcs11:serial=" + t[4], t[0]}) {
            EXPECT_EQ(Run({"--token", uri}, module), 0) << uri << ": " << m_run.Err();
            EXPECT_EQ(m_run.Out(), row) << uri;
            EXPECT_EQ(m_run.Err(), "") << uri;
        }
    }
    // The spare slot's token is never the one listed, not even by name; a
    // URI that lists nothing is named.
    for (const std::string uri : {"pkcs11:token=", "pkcs11:token=nobody"}) {
        EXPECT_EQ(Run({"--token", uri}, module), 3) << uri;
        EXPECT_EQ(m_run.Out(), "") << uri;
        EXPECT_EQ(m_run.Err(), "certpurge-list: no token to list matches " + uri +
                                   " (--list-tokens lists the tokens present)\n");
    }

    // The variable, and the option over it.
    m_run.Set("CERTPURGE_TOKEN", "pkcs11:token=second-token");
    EXPECT_EQ(Run({}, module), 0);
    EXPECT_EQ(m_run.Out(), Row("second"));
    EXPECT_EQ(Run({"--token=pkcs11:token=certpurge-test"}, module), 0);
    EXPECT_EQ(m_run.Out(), Row("first"));

    // What is no token URI is a usage error, before anything is loaded.
    m_run.Set("CERTPURGE_TOKEN", "");
    for (const char* bad : {"certpurge-test", "pkcs11:object=x", "pkcs11:slot-id=1", "pkcs11:token=%zz"}) {
        EXPECT_EQ(Run({"--token", bad}, "/no/such/module.so"), 2) << bad;
        EXPECT_EQ(m_run.LastErrLine().rfind("usage: certpurge-list", 0), 0u) << m_run.Err();
    }
    m_run.Set("CERTPURGE_TOKEN", "pkcs11:foo=bar");
    EXPECT_EQ(Run({}, module), 2);
    EXPECT_NE(m_run.Err().find("CERTPURGE_TOKEN"), std::string::npos) << m_run.Err();
}

TEST_F(TokenChoiceTest, TokensAsJson)
{
    ASSERT_EQ(Run({"--list-tokens", "--format", "json"}, m_token.ModulePath()), 0) << m_run.Err();
    nlohmann::json tokens = nlohmann::json::parse(m_run.Out());
    ASSERT_EQ(tokens.size(), 3u);
    std::multiset<std::string> labels;
    for (const auto& t : tokens) {
        EXPECT_EQ(t["manufacturer"], "SoftHSM project");
        EXPECT_EQ(t["uri"].get<std::string>().rfind("pkcs11:", 0), 0u);
        EXPECT_EQ(t["removable"], true);
        EXPECT_EQ(t["hardware_slot"], false);
        EXPECT_EQ(t["write_protected"], false);
        labels.insert(t["label"].get<std::string>() + (t["initialised"].get<bool>() ? "" : " (uninitialised)"));
    }
    EXPECT_EQ(labels, (std::multiset<std::string>{" (uninitialised)", "certpurge-test", "second-token"}));
}

// Through p11-kit's proxy, behind the simulator, which lists the slot with
// the uninitialised token first: it is passed over all the same.
TEST_F(TokenChoiceTest, UninitialisedTokenListedFirstIsPassedOver)
{
    if (!testsupport::P11KitProxyReachesSoftHsm())
        GTEST_SKIP() << "p11-kit's proxy or SoftHSM2's registration is missing";
    m_run.Set("TOKENSIM_BACKEND", testsupport::kP11KitProxy).Set("TOKENSIM_ALL_SLOTS", "uninitialised-first");
    const std::string module = testsupport::CSimulatedToken::ModulePath();
    ASSERT_EQ(Run({"--list-tokens"}, module), 0) << m_run.Err();
    const auto tokens = Fields(m_run.Out());
    ASSERT_EQ(tokens.size(), 3u) << m_run.Out();
    ASSERT_EQ(tokens[0][5], "uninitialised");

    ASSERT_EQ(Run({}, module), 0) << m_run.Err();
    EXPECT_EQ(m_run.Out(), Row(tokens[1][1] == CSoftHsmToken::kLabel ? "first" : "second"));
    EXPECT_EQ(Run({"--token", "pkcs11:token=second-token"}, module), 0) << m_run.Err();
    EXPECT_EQ(m_run.Out(), Row("second"));
}

// The simulator's slot listed first made fixed, as a software token's: the
// token of the removable slot after it is the one listed, and the one of
// the fixed slot is still reached by its URI, and taken when no removable
// token is there (a module named, not p11-kit's proxy taken by default).
TEST_F(TokenChoiceTest, ARemovableTokenComesBeforeOneListedFirstInAFixedSlot)
{
    const std::string state = m_token.Folder().File("sim.state");
    CTokenSimControl sim(state);
    sim.SetSlotFlags(CSlotSelector::Index(0), 0);
    m_run.Set("TOKENSIM_STATE", state);
    const std::string module = testsupport::CSimulatedToken::ModulePath();
    ASSERT_EQ(Run({"--list-tokens"}, module), 0) << m_run.Err();
    const auto tokens = Fields(m_run.Out());
    ASSERT_EQ(tokens.size(), 2u) << m_run.Out();
    EXPECT_EQ(tokens[0][7], "fixed");
    EXPECT_EQ(tokens[1][7], "removable");
    auto rowOf = [](const std::vector<std::string>& token) {
        return Row(token[1] == CSoftHsmToken::kLabel ? "first" : "second");
    };

    ASSERT_EQ(Run({"--verbose"}, module), 0) << m_run.Err();
    EXPECT_EQ(m_run.Out(), rowOf(tokens[1]));
    EXPECT_NE(m_run.Err().find(tokens[0][0] + ", not removable: after the removable tokens\n"), std::string::npos)
        << m_run.Err();
    EXPECT_NE(m_run.Err().find("certpurge-list: 2 tokens present, listing " + tokens[1][0]), std::string::npos)
        << m_run.Err();
    ASSERT_EQ(Run({"--token", tokens[0][0]}, module), 0) << m_run.Err();
    EXPECT_EQ(m_run.Out(), rowOf(tokens[0]));

    sim.SetSlotFlags(CSlotSelector::All(), CKF_HW_SLOT);
    ASSERT_EQ(Run({}, module), 0) << m_run.Err();
    EXPECT_EQ(m_run.Out(), rowOf(tokens[0]));
}
