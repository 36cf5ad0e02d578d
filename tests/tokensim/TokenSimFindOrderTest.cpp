#include "CSimulatorTest.h"

#include <algorithm>

using testsupport::Bytes;

namespace {

class TokenSimFindOrder : public CSimulatorTest {
protected:
    // Certificates with these labels, created in this order; CKA_ID counts from 1.
    void Certificates(const std::vector<std::string>& labels)
    {
        unsigned char id = 0;
        for (const std::string& label : labels) {
            ++id;
            token.SoftHsm().ImportCertificate(Bytes{0x30, 0x01, id}, Bytes{id}, label);
        }
        session = module.OpenSession(token.Slot());
    }

    CK_RV Init() const
    {
        CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
        CK_ATTRIBUTE templ = {CKA_CLASS, &cls, sizeof cls};
        return module->C_FindObjectsInit(session, &templ, 1);
    }

    // One C_FindObjects with room for `max`; empty unless it answers CKR_OK.
    std::vector<CK_OBJECT_HANDLE> Next(CK_ULONG max) const
    {
        std::vector<CK_OBJECT_HANDLE> objects(max + 1, CK_INVALID_HANDLE);
        CK_ULONG found = 0;
        CK_RV rv = module->C_FindObjects(session, objects.data(), max, &found);
        EXPECT_EQ(rv, CKR_OK);
        EXPECT_LE(found, max);
        objects.resize(rv == CKR_OK ? std::min(found, max) : 0);
        return objects;
    }

    std::vector<std::string> Labels(const std::vector<CK_OBJECT_HANDLE>& objects) const
    {
        std::vector<std::string> labels;
        for (CK_OBJECT_HANDLE object : objects) {
            char text[64] = {};
            CK_ATTRIBUTE attr = {CKA_LABEL, text, sizeof text};
            CK_RV rv = module->C_GetAttributeValue(session, object, &attr, 1);
            EXPECT_EQ(rv, CKR_OK);
            labels.emplace_back(text, rv == CKR_OK ? attr.ulValueLen : 0);
        }
        return labels;
    }

    // The certificates as a whole search finds them, under the given order.
    std::vector<CK_OBJECT_HANDLE> FindIn(ETokenSimFindOrder order)
    {
        token.Control().SetFindOrder(order);
        return module.Find(session, CKO_CERTIFICATE);
    }

    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
};

const std::vector<std::string> kShuffled = {"cert-07", "cert-02", "cert-11", "cert-05", "cert-01", "cert-09",
                                            "cert-12", "cert-04", "cert-10", "cert-03", "cert-08", "cert-06"};

std::vector<std::string> Sorted(std::vector<std::string> labels)
{
    std::sort(labels.begin(), labels.end());
    return labels;
}

}  // namespace

TEST_F(TokenSimFindOrder, LabelOrderSortsWhatTheModuleFinds)
{
    Certificates(kShuffled);
    std::vector<std::string> asFound = Labels(FindIn(ETokenSimFindOrder::Module));
    ASSERT_EQ(Sorted(asFound), Sorted(kShuffled));

    EXPECT_EQ(Labels(FindIn(ETokenSimFindOrder::Label)), Sorted(kShuffled));
}

TEST_F(TokenSimFindOrder, HandsOutChunksOfTheRoomGivenAndTracesWhatTheCallerGot)
{
    std::vector<std::string> labels;
    for (int i = 11; i >= 1; --i)
        labels.push_back(i < 10 ? "cert-0" + std::to_string(i) : "cert-" + std::to_string(i));
    Certificates(labels);
    token.Control().SetFindOrder(ETokenSimFindOrder::Label);
    token.Trace().Truncate();

    ASSERT_EQ(Init(), CKR_OK);
    std::vector<CK_OBJECT_HANDLE> first = Next(10);
    std::vector<CK_OBJECT_HANDLE> second = Next(10);
    EXPECT_TRUE(Next(10).empty());
    EXPECT_TRUE(Next(10).empty());
    ASSERT_EQ(module->C_FindObjectsFinal(session), CKR_OK);

    // Only the caller's calls: the backend's search and label reads are not traced.
    const std::string s = "session=" + std::to_string(session);
    EXPECT_EQ(token.Trace().Lines(),
              (std::vector<std::string>{"C_FindObjectsInit " + s + " attrs=CKA_CLASS rv=CKR_OK",
                                        "C_FindObjects " + s + " max=10 found=10 rv=CKR_OK",
                                        "C_FindObjects " + s + " max=10 found=1 rv=CKR_OK",
                                        "C_FindObjects " + s + " max=10 found=0 rv=CKR_OK",
                                        "C_FindObjects " + s + " max=10 found=0 rv=CKR_OK",
                                        "C_FindObjectsFinal " + s + " rv=CKR_OK"}));
    std::vector<std::string> firstLabels = Labels(first);
    EXPECT_EQ(std::count(firstLabels.begin(), firstLabels.end(), "cert-11"), 0);
    EXPECT_EQ(firstLabels.front(), "cert-01");
    EXPECT_EQ(Labels(second), std::vector<std::string>{"cert-11"});
}

TEST_F(TokenSimFindOrder, ComparesBytesPutsEmptyLabelsFirstAndKeepsEqualLabelsInTheModulesOrder)
{
    // "\xc3\xa9" (é) sorts after ASCII only when bytes compare unsigned.
    Certificates({"same", "b", "\xc3\xa9", "same", "", "B", "same"});
    std::vector<CK_OBJECT_HANDLE> asFound = FindIn(ETokenSimFindOrder::Module);
    std::vector<CK_OBJECT_HANDLE> sameAsFound;
    std::copy_if(asFound.begin(), asFound.end(), std::back_inserter(sameAsFound),
                 [this](CK_OBJECT_HANDLE h) { return Labels({h}).front() == "same"; });
    ASSERT_EQ(sameAsFound.size(), 3u);

    std::vector<CK_OBJECT_HANDLE> sorted = FindIn(ETokenSimFindOrder::Label);
    EXPECT_EQ(Labels(sorted), (std::vector<std::string>{"", "B", "b", "same", "same", "same", "\xc3\xa9"}));
    ASSERT_EQ(sorted.size(), 7u);
    EXPECT_EQ(std::vector<CK_OBJECT_HANDLE>(sorted.begin() + 3, sorted.begin() + 6), sameAsFound);
}

TEST_F(TokenSimFindOrder, ModuleOrderGivesTheModulesOrderAgain)
{
    Certificates(kShuffled);
    std::vector<CK_OBJECT_HANDLE> asFound = FindIn(ETokenSimFindOrder::Module);
    std::vector<CK_OBJECT_HANDLE> sorted = FindIn(ETokenSimFindOrder::Label);
    ASSERT_NE(sorted, asFound);
    EXPECT_EQ(FindIn(ETokenSimFindOrder::Module), asFound);
    token.Control().SetFindOrder(ETokenSimFindOrder::Label);
    token.Control().Clear();
    EXPECT_EQ(module.Find(session, CKO_CERTIFICATE), asFound);
}

TEST_F(TokenSimFindOrder, TheOrderInForceAtInitDecidesTheWholeSearch)
{
    Certificates(kShuffled);
    std::vector<CK_OBJECT_HANDLE> asFound = FindIn(ETokenSimFindOrder::Module);
    std::vector<CK_OBJECT_HANDLE> sorted = FindIn(ETokenSimFindOrder::Label);
    ASSERT_NE(sorted, asFound);

    ASSERT_EQ(Init(), CKR_OK);
    token.Control().SetFindOrder(ETokenSimFindOrder::Module);
    EXPECT_EQ(Next(20), sorted);
    ASSERT_EQ(module->C_FindObjectsFinal(session), CKR_OK);

    ASSERT_EQ(Init(), CKR_OK);
    token.Control().SetFindOrder(ETokenSimFindOrder::Label);
    EXPECT_EQ(Next(20), asFound);
    ASSERT_EQ(module->C_FindObjectsFinal(session), CKR_OK);
}

TEST_F(TokenSimFindOrder, ASecondInitIsRefusedInEitherOrderAndTheFirstSearchRunsOn)
{
    Certificates({"b", "a"});
    for (ETokenSimFindOrder order : {ETokenSimFindOrder::Module, ETokenSimFindOrder::Label}) {
        token.Control().SetFindOrder(order);
        ASSERT_EQ(Init(), CKR_OK);
        EXPECT_EQ(Init(), CKR_OPERATION_ACTIVE);
        EXPECT_EQ(Sorted(Labels(Next(2))), (std::vector<std::string>{"a", "b"}));
        ASSERT_EQ(module->C_FindObjectsFinal(session), CKR_OK);
        EXPECT_EQ(Init(), CKR_OK);
        ASSERT_EQ(module->C_FindObjectsFinal(session), CKR_OK);
    }
}

TEST_F(TokenSimFindOrder, SearchCallsWithoutASearchOrWithoutRoomAnswerAsTheModuleDoes)
{
    Certificates({"b", "a"});
    for (ETokenSimFindOrder order : {ETokenSimFindOrder::Module, ETokenSimFindOrder::Label}) {
        token.Control().SetFindOrder(order);
        CK_OBJECT_HANDLE objects[2];
        CK_ULONG found = 0;
        EXPECT_EQ(module->C_FindObjects(session, objects, 2, &found), CKR_OPERATION_NOT_INITIALIZED);
        EXPECT_EQ(module->C_FindObjectsFinal(session), CKR_OPERATION_NOT_INITIALIZED);
        ASSERT_EQ(Init(), CKR_OK);
        EXPECT_EQ(module->C_FindObjects(session, nullptr, 2, &found), CKR_ARGUMENTS_BAD);
        EXPECT_EQ(module->C_FindObjects(session, objects, 2, nullptr), CKR_ARGUMENTS_BAD);
        // No room takes nothing.
        EXPECT_TRUE(Next(0).empty());
        EXPECT_EQ(Next(2).size(), 2u);
        ASSERT_EQ(module->C_FindObjectsFinal(session), CKR_OK);
    }
}

TEST_F(TokenSimFindOrder, AFaultedInitStartsNoSearch)
{
    Certificates({"b", "a"});
    token.Control().SetFindOrder(ETokenSimFindOrder::Label);
    token.Control().AddFault("C_FindObjectsInit:1:CKR_DEVICE_ERROR");
    EXPECT_EQ(Init(), CKR_DEVICE_ERROR);
    CK_OBJECT_HANDLE objects[2];
    CK_ULONG found = 0;
    EXPECT_EQ(module->C_FindObjects(session, objects, 2, &found), CKR_OPERATION_NOT_INITIALIZED);
    ASSERT_EQ(Init(), CKR_OK);
    EXPECT_EQ(Labels(Next(2)), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(Answers("C_FindObjectsInit"), (std::vector<std::string>{"CKR_DEVICE_ERROR fault", "CKR_OK"}));
}

TEST_F(TokenSimFindOrder, AFaultedFindObjectsHandsOutNothing)
{
    Certificates({"c", "b", "a"});
    token.Control().SetFindOrder(ETokenSimFindOrder::Label);
    token.Control().AddFault("C_FindObjects:1:CKR_DEVICE_ERROR");
    ASSERT_EQ(Init(), CKR_OK);
    CK_OBJECT_HANDLE objects[2];
    CK_ULONG found = 0;
    EXPECT_EQ(module->C_FindObjects(session, objects, 2, &found), CKR_DEVICE_ERROR);
    EXPECT_EQ(Labels(Next(2)), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(Labels(Next(2)), std::vector<std::string>{"c"});
}

TEST_F(TokenSimFindOrder, ACountFaultHandsOutTheNextChunkAndOverstatesIt)
{
    Certificates({"d", "c", "b", "a"});
    token.Control().SetFindOrder(ETokenSimFindOrder::Label);
    token.Control().AddFault("C_FindObjects:2:count=50");
    ASSERT_EQ(Init(), CKR_OK);
    EXPECT_EQ(Labels(Next(1)), std::vector<std::string>{"a"});

    CK_OBJECT_HANDLE objects[2] = {CK_INVALID_HANDLE, CK_INVALID_HANDLE};
    CK_ULONG found = 0;
    ASSERT_EQ(module->C_FindObjects(session, objects, 2, &found), CKR_OK);
    EXPECT_EQ(found, 50u);
    EXPECT_EQ(Labels({objects[0], objects[1]}), (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(Labels(Next(2)), std::vector<std::string>{"d"});

    std::vector<CTraceRecord> finds = token.Trace().Records("C_FindObjects");
    ASSERT_EQ(finds.size(), 3u);
    EXPECT_EQ(finds[1].Field("found"), "50");
    EXPECT_TRUE(finds[1].Faulted());
}

TEST_F(TokenSimFindOrder, AFaultedFinalLeavesTheSearchRunning)
{
    Certificates({"b", "a"});
    token.Control().SetFindOrder(ETokenSimFindOrder::Label);
    token.Control().AddFault("C_FindObjectsFinal:1:CKR_DEVICE_ERROR");
    ASSERT_EQ(Init(), CKR_OK);
    EXPECT_EQ(Labels(Next(1)), std::vector<std::string>{"a"});
    EXPECT_EQ(module->C_FindObjectsFinal(session), CKR_DEVICE_ERROR);
    EXPECT_EQ(Labels(Next(1)), std::vector<std::string>{"b"});
    EXPECT_EQ(module->C_FindObjectsFinal(session), CKR_OK);
    EXPECT_EQ(Answers("C_FindObjectsFinal"), (std::vector<std::string>{"CKR_DEVICE_ERROR fault", "CKR_OK"}));
    CK_OBJECT_HANDLE object = CK_INVALID_HANDLE;
    CK_ULONG found = 0;
    EXPECT_EQ(module->C_FindObjects(session, &object, 1, &found), CKR_OPERATION_NOT_INITIALIZED);
}

TEST_F(TokenSimFindOrder, ASortedSearchGoesWithItsToken)
{
    Certificates({"b", "a"});
    token.Control().SetFindOrder(ETokenSimFindOrder::Label);
    ASSERT_EQ(Init(), CKR_OK);
    token.Control().Remove(token.Slot());
    CK_OBJECT_HANDLE object = CK_INVALID_HANDLE;
    CK_ULONG found = 0;
    EXPECT_EQ(module->C_FindObjects(session, &object, 1, &found), CKR_DEVICE_REMOVED);
    EXPECT_EQ(module->C_FindObjectsFinal(session), CKR_DEVICE_REMOVED);
    token.Control().Insert(token.Slot());
    EXPECT_EQ(module->C_FindObjects(session, &object, 1, &found), CKR_SESSION_HANDLE_INVALID);

    session = module.OpenSession(token.Slot());
    EXPECT_EQ(Labels(module.Find(session, CKO_CERTIFICATE)), (std::vector<std::string>{"a", "b"}));
}
