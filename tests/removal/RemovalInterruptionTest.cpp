#include "CRemovalTest.h"

#include <ostream>
#include <set>
#include <string>
#include <tuple>

namespace {

// The k-th C_DestroyObject of a removal refused, or the token pulled out
// right at it (a crash or a power loss there leaves the same token).
struct SInterruption {
    int nDestroy;
    const char* pszResult;
};

void PrintTo(const SInterruption& interruption, std::ostream* out)
{
    *out << "C_DestroyObject:" << interruption.nDestroy << ":" << interruption.pszResult;
}

// A full removal of the standard token destroys six objects: two records,
// three objects each.
std::vector<SInterruption> EveryInterruption()
{
    std::vector<SInterruption> cases;
    for (int k = 1; k <= 6; ++k) {
        cases.push_back({k, "CKR_ACTION_PROHIBITED"});
        cases.push_back({k, "pull"});
    }
    return cases;
}

using SObjectKey = std::tuple<CK_OBJECT_CLASS, testsupport::Bytes, std::string>;

}  // namespace

class RemovalInterruptionTest : public CRemovalTest, public ::testing::WithParamInterface<SInterruption> {
protected:
    std::set<SObjectKey> ObjectsExcept(const std::set<testsupport::Bytes>& ids)
    {
        std::set<SObjectKey> objects;
        for (const testsupport::CSoftHsmToken::Object& o : Token().Objects()) {
            if (ids.count(o.id) == 0)
                objects.insert({o.cls, o.id, o.label});
        }
        return objects;
    }
};

// Whatever stops a removal, no key is left without the certificate that
// leads a removal to it, and the next removal ends where one uninterrupted
// removal would have.
TEST_P(RemovalInterruptionTest, NextRemovalFinishesTheInterruptedOne)
{
    const SInterruption& c = GetParam();
    AddStandardCerts();
    const std::set<SObjectKey> expected = ObjectsExcept({{1}, {2}});
    Start();
    Sim().AddFault("C_DestroyObject:" + std::to_string(c.nDestroy) + ":" + c.pszResult);
    Click();
    ASSERT_EQ(Trace().Records("C_DestroyObject").size(), static_cast<std::size_t>(c.nDestroy));

    Sim().ClearFaults();
    Sim().Insert(Slot());
    Dlg().RefreshList();
    int left = 0;
    for (unsigned char id : {1, 2}) {
        EXPECT_TRUE(CertThere(id) || (!PubThere(id) && !PrivThere(id))) << "keys of record " << int(id) << " orphaned";
        left += CertThere(id) ? 1 : 0;
    }
    // What is left of the red records is shown red, for the next removal.
    EXPECT_EQ(RedNames().size(), static_cast<std::size_t>(left));

    Click();
    EXPECT_EQ(ObjectsExcept({}), expected);
}

INSTANTIATE_TEST_SUITE_P(EveryDestroy, RemovalInterruptionTest, ::testing::ValuesIn(EveryInterruption()),
                         [](const ::testing::TestParamInfo<SInterruption>& param) {
                             std::string result = param.param.pszResult;
                             return "Destroy" + std::to_string(param.param.nDestroy) +
                                    (result == "pull" ? "Pulled" : "Refused");
                         });
