#include "CSimulatorTest.h"

#include <algorithm>

using testsupport::Bytes;

namespace {

class TokenSimFaults : public CSimulatorTest {
protected:
    // Three certificates, and a logged-in session that sees them.
    std::vector<CK_OBJECT_HANDLE> ThreeCertificates()
    {
        for (unsigned char id = 1; id <= 3; ++id)
            token.SoftHsm().ImportCertificate(Bytes{0x30, 0x01, id}, Bytes{id});
        session = module.OpenSession(token.Slot());
        return module.Find(session, CKO_CERTIFICATE);
    }

    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
};

using TokenSimTrace = TokenSimFaults;

}  // namespace

TEST_F(TokenSimFaults, FailsTheSecondCallOnlyAndDoesNothingElse)
{
    std::vector<CK_OBJECT_HANDLE> certs = ThreeCertificates();
    ASSERT_EQ(certs.size(), 3u);
    token.Control().AddFault("C_DestroyObject:2:CKR_ACTION_PROHIBITED");

    EXPECT_EQ(module->C_DestroyObject(session, certs[0]), CKR_OK);
    EXPECT_EQ(module->C_DestroyObject(session, certs[1]), CKR_ACTION_PROHIBITED);
    EXPECT_EQ(token.SoftHsm().Count(CKO_CERTIFICATE), 2u);
    EXPECT_EQ(module->C_DestroyObject(session, certs[2]), CKR_OK);
    EXPECT_EQ(module->C_DestroyObject(session, certs[1]), CKR_OK);
    EXPECT_EQ(token.SoftHsm().Count(CKO_CERTIFICATE), 0u);

    EXPECT_EQ(Answers("C_DestroyObject"),
              (std::vector<std::string>{"CKR_OK", "CKR_ACTION_PROHIBITED fault", "CKR_OK", "CKR_OK"}));
}

TEST_F(TokenSimFaults, CountsCallsFromWhenTheRuleIsFirstSeen)
{
    std::vector<CK_OBJECT_HANDLE> certs = ThreeCertificates();
    ASSERT_EQ(module->C_DestroyObject(session, certs[0]), CKR_OK);
    token.Control().AddFault("C_DestroyObject:1:CKR_DEVICE_ERROR");
    EXPECT_EQ(module->C_DestroyObject(session, certs[1]), CKR_DEVICE_ERROR);
    EXPECT_EQ(module->C_DestroyObject(session, certs[1]), CKR_OK);
}

TEST_F(TokenSimFaults, FailsEveryCallUntilCleared)
{
    token.SoftHsm().GenerateKeyPair(Bytes{0x07});
    session = module.OpenSession(token.Slot());
    token.Control().AddFault("C_Login:*:CKR_PIN_LOCKED");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(module.Login(session), CKR_PIN_LOCKED);
    // A faulted login logged nobody in.
    EXPECT_TRUE(module.Find(session, CKO_PRIVATE_KEY).empty());

    token.Control().ClearFaults();
    EXPECT_EQ(module.Login(session), CKR_OK);
    EXPECT_EQ(module.Find(session, CKO_PRIVATE_KEY).size(), 1u);
}

// The try that locks the PIN, answered as a wrong PIN: from then on the
// token says its PIN is locked and refuses the right one, until cleared.
TEST_F(TokenSimFaults, TheLockingTryLocksThePinUntilCleared)
{
    session = module.OpenSession(token.Slot());
    auto flags = [&] {
        CK_TOKEN_INFO info{};
        EXPECT_EQ(module->C_GetTokenInfo(token.Slot(), &info), CKR_OK);
        return info.flags & CKF_USER_PIN_LOCKED;
    };
    token.Control().AddFault("C_Login:1:lie=incorrect-then-locked");
    EXPECT_EQ(flags(), 0u);
    EXPECT_EQ(module.Login(session), CKR_PIN_INCORRECT);
    EXPECT_EQ(flags(), CKF_USER_PIN_LOCKED);
    EXPECT_EQ(module.Login(session), CKR_PIN_LOCKED);
    EXPECT_EQ(Answers("C_Login"), (std::vector<std::string>{"CKR_PIN_INCORRECT fault", "CKR_PIN_LOCKED"}));

    token.Control().ClearFaults();
    EXPECT_EQ(flags(), 0u);
    EXPECT_EQ(module.Login(session), CKR_OK);
}

TEST_F(TokenSimFaults, ReportsFaultyLengthsWithOkAndWritesNoValue)
{
    std::vector<CK_OBJECT_HANDLE> certs = ThreeCertificates();
    token.Control().AddFault("C_GetAttributeValue:1:len=unavailable");
    token.Control().AddFault("C_GetAttributeValue:2:len=0x80000000");

    CK_ATTRIBUTE sizes[] = {{CKA_VALUE, nullptr, 0}, {CKA_ID, nullptr, 0}};
    ASSERT_EQ(module->C_GetAttributeValue(session, certs[0], sizes, 2), CKR_OK);
    EXPECT_EQ(sizes[0].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(sizes[1].ulValueLen, CK_UNAVAILABLE_INFORMATION);

    Bytes buffer(8, 0xAB);
    CK_ATTRIBUTE value = {CKA_VALUE, buffer.data(), buffer.size()};
    ASSERT_EQ(module->C_GetAttributeValue(session, certs[0], &value, 1), CKR_OK);
    EXPECT_EQ(value.ulValueLen, 0x80000000UL);
    EXPECT_EQ(buffer, Bytes(8, 0xAB));

    value.ulValueLen = buffer.size();
    ASSERT_EQ(module->C_GetAttributeValue(session, certs[0], &value, 1), CKR_OK);
    EXPECT_EQ(value.ulValueLen, 3u);
    EXPECT_EQ(buffer[0], 0x30);
}

TEST_F(TokenSimFaults, FaultsTheFirstMatchingRuleWhenSeveralFire)
{
    session = module.OpenSession(token.Slot());
    token.Control().AddFault("C_Logout:*:CKR_DEVICE_ERROR");
    token.Control().AddFault("C_Logout:*:CKR_GENERAL_ERROR");
    EXPECT_EQ(module->C_Logout(session), CKR_DEVICE_ERROR);
}

TEST_F(TokenSimTrace, RecordsCallsInOrderWithTheirArguments)
{
    token.SoftHsm().ImportCertificate(Bytes{0x30, 0x00}, Bytes{0x01});
    token.Trace().Truncate();

    session = module.OpenSession(token.Slot());
    ASSERT_EQ(module.Login(session), CKR_OK);
    CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE type = CKC_X_509;
    CK_ATTRIBUTE templ[] = {{CKA_CLASS, &cls, sizeof cls}, {CKA_CERTIFICATE_TYPE, &type, sizeof type}};
    ASSERT_EQ(module->C_FindObjectsInit(session, templ, 2), CKR_OK);
    CK_OBJECT_HANDLE found[4];
    CK_ULONG count = 0;
    ASSERT_EQ(module->C_FindObjects(session, found, 4, &count), CKR_OK);
    ASSERT_EQ(module->C_FindObjectsFinal(session), CKR_OK);
    ASSERT_EQ(module->C_CloseSession(session), CKR_OK);

    const CTokenSimTrace& trace = token.Trace();
    EXPECT_EQ(trace.Calls(), (std::vector<std::string>{"C_OpenSession", "C_Login", "C_FindObjectsInit",
                                                        "C_FindObjects", "C_FindObjectsFinal", "C_CloseSession"}));
    std::vector<CTraceRecord> records = trace.Records();
    const std::string handle = std::to_string(session);
    EXPECT_EQ(records[0].Field("slot"), std::to_string(token.Slot()));
    EXPECT_EQ(records[0].Field("flags"), "0x6");
    EXPECT_EQ(records[0].Field("session"), handle);
    EXPECT_EQ(records[1].Field("user"), "CKU_USER");
    EXPECT_EQ(records[1].Field("pinlen"), "6");
    EXPECT_EQ(records[2].Field("attrs"), "CKA_CLASS,CKA_CERTIFICATE_TYPE");
    EXPECT_EQ(records[3].Field("found"), "1");
    for (const CTraceRecord& r : records) {
        EXPECT_EQ(r.Field("session"), handle) << r.Function();
        EXPECT_EQ(r.Rv(), "CKR_OK") << r.Function();
    }
    for (const std::string& line : trace.Lines())
        EXPECT_EQ(line.find(testsupport::CSoftHsmToken::kUserPin), std::string::npos) << line;
}

TEST_F(TokenSimTrace, RecordsFaultsAndFailuresByName)
{
    std::vector<CK_OBJECT_HANDLE> certs = ThreeCertificates();
    token.Control().AddFault("C_DestroyObject:*:CKR_ACTION_PROHIBITED");
    token.Trace().Truncate();
    module->C_DestroyObject(session, certs[0]);
    module->C_DestroyObject(session + 100, certs[0]);

    const std::string object = " object=" + std::to_string(certs[0]);
    std::vector<std::string> lines = token.Trace().Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "C_DestroyObject session=" + std::to_string(session) + object +
                            " rv=CKR_ACTION_PROHIBITED fault");
    // The rule fires before the session is looked at.
    EXPECT_EQ(lines[1], "C_DestroyObject session=" + std::to_string(session + 100) + object +
                            " rv=CKR_ACTION_PROHIBITED fault");

    token.Control().ClearFaults();
    module->C_DestroyObject(session + 100, certs[0]);
    EXPECT_EQ(token.Trace().Lines().back(),
              "C_DestroyObject session=" + std::to_string(session + 100) + object + " rv=CKR_SESSION_HANDLE_INVALID");
}
