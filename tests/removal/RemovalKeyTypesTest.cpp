#include "CRemovalTest.h"

#include <string>
#include <vector>

using RemovalKeyTypesTest = CRemovalTest;

namespace {

using Calls = std::vector<std::string>;

// A trace line without the handles, which differ from run to run: the
// function, its other fields and its answer.
std::string WithoutHandles(const CTraceRecord& record)
{
    std::string line = record.Function();
    for (const auto& [key, value] : record.Fields()) {
        if (key != "session" && key != "object" && key != "slot")
            line += " " + key + "=" + value;
    }
    return line + " rv=" + record.Rv();
}

void Append(Calls& calls, const Calls& more)
{
    calls.insert(calls.end(), more.begin(), more.end());
}

// Session 0 opened anew and the certificates read: three reads each.
Calls ScanCalls(int certificates)
{
    Calls calls = {
        "C_CloseSession rv=CKR_OK",
        "C_OpenSession flags=0x6 rv=CKR_OK",
        "C_FindObjectsInit attrs=CKA_CLASS,CKA_CERTIFICATE_TYPE rv=CKR_OK",
        "C_FindObjects max=10 found=" + std::to_string(certificates) + " rv=CKR_OK",
        "C_FindObjectsFinal rv=CKR_OK",
    };
    for (int i = 0; i < 3 * certificates; ++i)
        calls.push_back("C_GetAttributeValue attrs=CKA_VALUE,CKA_ID rv=CKR_OK");
    return calls;
}

// One red certificate whose key pair no other certificate carries: the
// certificate, the search for other holders of its ID, then each key
// found by class, key type and ID and destroyed.
Calls RemoveRecordCalls()
{
    Calls calls = {
        "C_DestroyObject rv=CKR_OK",
        "C_FindObjectsInit attrs=CKA_CLASS,CKA_ID rv=CKR_OK",
        "C_FindObjects max=16 found=0 rv=CKR_OK",
        "C_FindObjectsFinal rv=CKR_OK",
    };
    for (int key = 0; key < 2; ++key) {
        calls.insert(calls.end(), {"C_FindObjectsInit attrs=CKA_CLASS,CKA_KEY_TYPE,CKA_ID rv=CKR_OK",
                                   "C_FindObjects max=1 found=1 rv=CKR_OK", "C_FindObjectsFinal rv=CKR_OK",
                                   "C_DestroyObject rv=CKR_OK"});
    }
    return calls;
}

}  // namespace

// The calls a removal made on an all-RSA token before key searches followed
// the certificate's key type; such a token must see no change.
TEST_F(RemovalKeyTypesTest, RsaOnlyTokenMakesTheSameModuleCalls)
{
    AddStandardCerts();
    Start();
    Dlg().StopMonitor();  // its polling would interleave with the removal's calls
    Click();
    ASSERT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));

    Calls expected = ScanCalls(4);
    expected.push_back("C_Login user=CKU_USER pinlen=6 rv=CKR_OK");
    Append(expected, RemoveRecordCalls());  // "Exp", expired
    Append(expected, RemoveRecordCalls());  // the first "Dup", superseded
    // The list is refreshed from the token.
    expected.insert(expected.end(), {"C_Initialize rv=CKR_CRYPTOKI_ALREADY_INITIALIZED",
                                     "C_GetSlotList present=0 count=1 rv=CKR_OK",
                                     "C_GetSlotList present=1 count=1 rv=CKR_OK"});
    Append(expected, ScanCalls(2));

    Calls calls;
    for (const CTraceRecord& record : Trace().Records())
        calls.push_back(WithoutHandles(record));
    EXPECT_EQ(calls, expected);
    EXPECT_TRUE(NoneThere(1));
    EXPECT_TRUE(NoneThere(2));
    EXPECT_TRUE(AllThere(3));
    EXPECT_TRUE(AllThere(4));
}
