#include "CPublicKeyDer.h"
#include "CRemovalTest.h"

#include <map>
#include <string>
#include <vector>

using testsupport::CPublicKeyDer;
using RemovalKeyTypesTest = CRemovalTest;

namespace {

using Calls = std::vector<std::string>;

// Trace lines without the handles, which differ from run to run: the
// function, its other fields and its answer. A destroy names instead what
// it destroys: the object read as a certificate, or the key told by its
// modulus after the public (odd) or the private (even) key search.
class CTraceLines {
public:
    std::string Line(const CTraceRecord& record)
    {
        const std::string attrs = record.Field("attrs").value_or("");
        const std::string object = record.Field("object").value_or("");
        if (record.Function() == "C_FindObjectsInit" && attrs == "CKA_CLASS,CKA_KEY_TYPE,CKA_ID")
            ++m_nKeySearches;
        if (record.Function() == "C_GetAttributeValue" && attrs == "CKA_VALUE,CKA_ID")
            m_roles[object] = "certificate";
        if (record.Function() == "C_GetAttributeValue" && attrs.starts_with("CKA_MODULUS"))
            m_roles[object] = m_nKeySearches % 2 == 1 ? "public-key" : "private-key";
        std::string line = record.Function();
        for (const auto& [key, value] : record.Fields()) {
            if (key == "object" && record.Function() == "C_DestroyObject")
                line += " of=" + m_roles[value];
            else if (key != "session" && key != "object" && key != "slot")
                line += " " + key + "=" + value;
        }
        return line + " rv=" + record.Rv();
    }

private:
    std::map<std::string, std::string> m_roles;
    int m_nKeySearches = 0;
};

void Append(Calls& calls, const Calls& more)
{
    calls.insert(calls.end(), more.begin(), more.end());
}

// Session 0 opened anew (for the removal, one that writes, with the token
// it belongs to; for the list, one that reads) and the certificates read:
// three reads each.
Calls ScanCalls(int certificates, bool bRemoval)
{
    Calls calls = {"C_CloseSession rv=CKR_OK", bRemoval ? "C_OpenSession flags=0x6 rv=CKR_OK"
                                                        : "C_OpenSession flags=0x4 rv=CKR_OK"};
    if (bRemoval)
        calls.push_back("C_GetTokenInfo rv=CKR_OK");
    calls.insert(calls.end(), {
        "C_FindObjectsInit attrs=CKA_CLASS,CKA_CERTIFICATE_TYPE rv=CKR_OK",
        "C_FindObjects max=10 found=" + std::to_string(certificates) + " rv=CKR_OK",
        "C_FindObjectsFinal rv=CKR_OK",
    });
    for (int i = 0; i < 3 * certificates; ++i)
        calls.push_back("C_GetAttributeValue attrs=CKA_VALUE,CKA_ID rv=CKR_OK");
    return calls;
}

// A search run to its end: objects found in one batch, then none.
Calls SearchCalls(const std::string& attrs, int found)
{
    return {"C_FindObjectsInit attrs=" + attrs + " rv=CKR_OK",
            "C_FindObjects max=16 found=" + std::to_string(found) + " rv=CKR_OK",
            "C_FindObjects max=16 found=0 rv=CKR_OK", "C_FindObjectsFinal rv=CKR_OK"};
}

// What the plan asks before the confirmation of one red certificate: who
// carries its ID (itself), and whether its public key is there.
Calls PlanRecordCalls()
{
    Calls calls = SearchCalls("CKA_CLASS,CKA_ID", 1);
    calls.push_back("C_GetAttributeValue attrs=CKA_CLASS,CKA_ID rv=CKR_OK");
    Append(calls, SearchCalls("CKA_CLASS,CKA_KEY_TYPE,CKA_ID", 1));
    calls.push_back("C_GetAttributeValue attrs=CKA_CLASS,CKA_ID,CKA_KEY_TYPE rv=CKR_OK");
    calls.push_back("C_GetAttributeValue attrs=CKA_MODULUS,CKA_PUBLIC_EXPONENT rv=CKR_OK");
    return calls;
}

// One red certificate whose key pair no other certificate carries: first
// the search for holders of its ID (itself), then each key found by class,
// key type and ID; each object found is read back, each key told by its
// modulus; then the two keys are destroyed, and the certificate last.
Calls RemoveRecordCalls()
{
    Calls calls = SearchCalls("CKA_CLASS,CKA_ID", 1);
    calls.push_back("C_GetAttributeValue attrs=CKA_CLASS,CKA_ID rv=CKR_OK");  // read back
    for (int key = 0; key < 2; ++key) {
        Append(calls, SearchCalls("CKA_CLASS,CKA_KEY_TYPE,CKA_ID", 1));
        calls.push_back("C_GetAttributeValue attrs=CKA_CLASS,CKA_ID,CKA_KEY_TYPE rv=CKR_OK");  // read back
        calls.push_back("C_GetAttributeValue attrs=CKA_MODULUS,CKA_PUBLIC_EXPONENT rv=CKR_OK");
    }
    calls.insert(calls.end(), {"C_DestroyObject of=public-key rv=CKR_OK", "C_DestroyObject of=private-key rv=CKR_OK",
                               "C_DestroyObject of=certificate rv=CKR_OK"});
    return calls;
}

}  // namespace

// The calls a removal makes on an all-RSA token, in order.
TEST_F(RemovalKeyTypesTest, RsaOnlyTokenModuleCalls)
{
    AddStandardCerts();
    Start();
    Dlg().Follower().Stop();  // its polling would interleave with the removal's calls
    Click();
    ASSERT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));

    Calls expected = ScanCalls(4, true);
    Append(expected, PlanRecordCalls());  // "Exp"
    Append(expected, PlanRecordCalls());  // the first "Dup"
    // The PIN goes only to the token that was scanned.
    expected.push_back("C_GetTokenInfo rv=CKR_OK");
    expected.push_back("C_Login user=CKU_USER pinlen=6 rv=CKR_OK");
    Append(expected, RemoveRecordCalls());  // "Exp", expired
    Append(expected, RemoveRecordCalls());  // the first "Dup", superseded
    expected.push_back("C_Logout rv=CKR_OK");
    // The list is refreshed from the token.
    expected.insert(expected.end(), {"C_Initialize rv=CKR_CRYPTOKI_ALREADY_INITIALIZED",
                                     "C_GetSlotList present=0 count=1 rv=CKR_OK",
                                     "C_GetSlotList present=1 count=1 rv=CKR_OK",
                                     "C_GetTokenInfo rv=CKR_OK"});
    Append(expected, ScanCalls(2, false));

    Calls calls;
    CTraceLines lines;
    for (const CTraceRecord& record : Trace().Records())
        calls.push_back(lines.Line(record));
    EXPECT_EQ(calls, expected);
    EXPECT_TRUE(NoneThere(1));
    EXPECT_TRUE(NoneThere(2));
    EXPECT_TRUE(AllThere(3));
    EXPECT_TRUE(AllThere(4));
}

// Expired RSA and P-256 certificates and a superseded P-384 one, each with
// the key pair made on the token that it certifies, and the valid P-256
// certificate that supersedes the P-384 one.
TEST_F(RemovalKeyTypesTest, EveryRedCertificateGoesWithAKeyPairOfItsOwnType)
{
    AddCert("Rsa", "20200101000000Z", "20210101000000Z", {1});
    AddCertCarrying("P256", "20200201000000Z", "20210101000000Z", {2}, Token().GenerateEcKeyPair({2}));
    AddCertCarrying("Ecc", "20300101000000Z", "20400101000000Z", {3}, Token().GenerateEcKeyPair({3}, "secp384r1"));
    AddCertCarrying("Ecc", "20300201000000Z", "20400101000000Z", {4}, Token().GenerateEcKeyPair({4}));
    Start();
    ASSERT_EQ(RedNames(), (std::vector<std::string>{"Rsa's Acme ID", "P256's Acme ID", "Ecc's Acme ID"}));
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    for (unsigned char id : {1, 2, 3})
        EXPECT_TRUE(NoneThere(id)) << int(id);
    EXPECT_TRUE(CertThere(4));
    EXPECT_TRUE(PairThere(4, CKK_EC));
    EXPECT_EQ(Trace().Count("C_DestroyObject"), 9u);  // three certificates, three pairs
    EXPECT_EQ(Rows(), (std::vector<SRow>{{"20300201", "20400101", "Ecc's Acme ID", false}}));
}

TEST_F(RemovalKeyTypesTest, Ed25519CertificateGoesWithItsKeyPair)
{
    AddCertCarrying("Ed", "20200101000000Z", "20210101000000Z", {6}, Token().GenerateEdKeyPair({6}));
    AddCert("Val", "20300301000000Z", "20400101000000Z", {4});
    Start();
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    EXPECT_TRUE(NoneThere(6));
    EXPECT_TRUE(AllThere(4));
}

// A pair of another type under the certificate's ID is not the pair the
// certificate certifies.
TEST_F(RemovalKeyTypesTest, PairOfAnotherTypeUnderTheSameIdStays)
{
    AddCertCarrying("Ec", "20200101000000Z", "20210101000000Z", {5}, Token().GenerateEcKeyPair({5}));
    Token().GenerateKeyPair({5});
    AddCert("Val", "20300301000000Z", "20400101000000Z", {4});
    Start();
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    EXPECT_FALSE(CertThere(5));
    EXPECT_EQ(Token().Count(CKO_PUBLIC_KEY, {5}, CKK_EC), 0u);
    EXPECT_EQ(Token().Count(CKO_PRIVATE_KEY, {5}, CKK_EC), 0u);
    EXPECT_TRUE(PairThere(5, CKK_RSA));
    EXPECT_TRUE(AllThere(4));
}

// Red certificates of two key types under one ID: each takes its own pair.
TEST_F(RemovalKeyTypesTest, RedCertificatesOfTwoTypesSharingAnIdTakeBothPairs)
{
    AddCert("OldRsa", "20200101000000Z", "20210101000000Z", {8});
    AddCertCarrying("OldEc", "20200201000000Z", "20210101000000Z", {8}, Token().GenerateEcKeyPair({8}));
    AddCert("Val", "20300301000000Z", "20400101000000Z", {4});
    Start();
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    EXPECT_TRUE(NoneThere(8));
    EXPECT_TRUE(AllThere(4));
}

TEST_F(RemovalKeyTypesTest, EcRenewalKeepingItsKeyPairKeepsTheKeys)
{
    // The superseded certificate and its successor carry one P-384 key under CKA_ID 7.
    AddCertCarrying("Ren", "20300101000000Z", "20400101000000Z", {7}, Token().GenerateEcKeyPair({7}, "secp384r1"));
    AddCert("Ren", "20300201000000Z", "20400101000000Z", {7}, false);
    AddCertCarrying("Exp", "20200101000000Z", "20210101000000Z", {1}, Token().GenerateEdKeyPair({1}));
    Start();
    ASSERT_EQ(RedNames(), (std::vector<std::string>{"Exp's Acme ID", "Ren's Acme ID"}));
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    EXPECT_EQ(Token().Count(CKO_CERTIFICATE, {7}), 1u);  // the successor stays
    EXPECT_TRUE(PairThere(7, CKK_EC));
    EXPECT_TRUE(NoneThere(1));
}

// Keys of no type the searches know (X25519), and SM2 keys (often of a type
// of the token maker's) are searched for without a type and told by their
// value: the SM2 pair goes with its certificate, the RSA and EC pairs under
// the X25519 certificates' IDs are not theirs and stay.
TEST_F(RemovalKeyTypesTest, KeysOfUnknownTypesAreToldByTheirValue)
{
    AddCertCarrying("X1", "20200101000000Z", "20210101000000Z", {1}, CPublicKeyDer::Fresh("X25519"));
    Token().GenerateKeyPair({1});
    AddCertCarrying("X2", "20200201000000Z", "20210101000000Z", {2}, CPublicKeyDer::Fresh("X25519"));
    Token().GenerateEcKeyPair({2});
    AddCertCarrying("Sm2", "20200301000000Z", "20210101000000Z", {3}, Token().GenerateEcKeyPair({3}, "SM2"));
    AddCert("Val", "20300301000000Z", "20400101000000Z", {4});
    Start();
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    EXPECT_FALSE(CertThere(1));
    EXPECT_TRUE(PairThere(1, CKK_RSA));
    EXPECT_FALSE(CertThere(2));
    EXPECT_TRUE(PairThere(2, CKK_EC));
    EXPECT_TRUE(NoneThere(3));
    EXPECT_TRUE(AllThere(4));
    for (const CTraceRecord& search : Trace().Records("C_FindObjectsInit"))
        EXPECT_EQ(search.Field("attrs")->find("CKA_KEY_TYPE"), std::string::npos) << *search.Field("attrs");
}
