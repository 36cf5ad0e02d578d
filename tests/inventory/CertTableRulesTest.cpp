// The table's order and marks on records made in memory: no token needed.
#include "inventory/CKeyPairRule.h"
#include "inventory/CertTableRules.h"
#include "platform/CFixedClock.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <stdexcept>
#include <vector>
#include <string>

namespace {

// 2030-06-15 12:00:00 UTC
constexpr std::time_t kRulesNow = 1907755200;

using EUse = CCertificate::EUse;

struct SRecord {
    unsigned char id;
    const char* name;
    const char* issued;   // 14 digits
    const char* expires;  // 14 digits
    const char* issuer = "CA1";
    EUse use = EUse::General;
    const char* subject = nullptr;  // the name's, unless another holder's
};

// The records in the order a scan found them.
CertTable TableOf(std::initializer_list<SRecord> records)
{
    CertTable table;
    for (const SRecord& r : records) {
        CertRecord& record = table.records.emplace_back();
        ++table.nCount;
        record.pId = std::make_unique<unsigned char[]>(2);
        record.pId[0] = r.id;
        record.ulIdLen = 1;
        record.strDisplayName = r.name;
        record.strIssueDate = r.issued;
        record.strExpiryDate = r.expires;
        record.strSubjectDer = r.subject != nullptr ? r.subject : r.name;
        record.strIssuerDer = r.issuer;
        record.eUse = r.use;
        record.hCertObject = 100 + r.id;
    }
    return table;
}

// CKA_ID byte to mark, after ordering and marking.
std::map<int, int> Marks(CertTable& table, const CClock& clock)
{
    OrderByIssueDate(table);
    MarkOutOfDate(table, clock);
    std::map<int, int> marks;
    for (CK_ULONG i = 0; i < table.nCount; ++i)
        marks[table.records[i].pId[0]] = table.records[i].nMark;
    return marks;
}

std::string IdsInOrder(const CertTable& table)
{
    std::string ids;
    for (CK_ULONG i = 0; i < table.nCount; ++i)
        ids += std::to_string(table.records[i].pId[0]);
    return ids;
}

class CertTableRulesTest : public ::testing::Test {
protected:
    CFixedClock m_clock{kRulesNow};
};

TEST_F(CertTableRulesTest, OrdersByIssueDateAndMarksTheSuperseded)
{
    CertTable table = TableOf({
        {3, "Y", "20300103000000", "20400101000000"},
        {2, "X", "20300102000000", "20400101000000"},
        {1, "X", "20300101000000", "20400101000000"},
    });
    EXPECT_EQ(Marks(table, m_clock), (std::map<int, int>{{1, 1}, {2, 0}, {3, 0}}));
    EXPECT_EQ(IdsInOrder(table), "123");
}

// One holder's certificates, none expired: only a strictly newer one of the
// same issuer and use renews another.
TEST_F(CertTableRulesTest, SupersededOnlyByARenewalOfTheSameIssuerAndUse)
{
    CertTable table = TableOf({
        {1, "Holder", "20300101000000", "20400101000000", "CA1", EUse::Signing},
        {2, "Holder", "20300101000200", "20400101000000", "CA1", EUse::Encryption},
        {3, "Holder", "20300201000000", "20400101000000", "CA1", EUse::Signing},     // renews 1
        {4, "Holder", "20300201000200", "20400101000000", "CA1", EUse::Encryption},  // renews 2
        {5, "Holder", "20300115000000", "20400101000000", "CA2"},                    // another CA's
        {6, "Holder", "20300301000000", "20400101000000", "CA3"},                    // twins
        {7, "Holder", "20300301000000", "20400101000000", "CA3"},
        {8, "Holder", "20300305000000", "20400101000000", "CA2"},                    // renews 5
    });
    EXPECT_EQ(Marks(table, m_clock),
              (std::map<int, int>{{1, 1}, {2, 1}, {3, 0}, {4, 0}, {5, 1}, {6, 0}, {7, 0}, {8, 0}}));
    // Twins keep the order they were found in.
    EXPECT_EQ(IdsInOrder(table), "12534678");
}

// Display names collide across people: the first field never counts, and
// C, OU and the rest are not in it. Only the subject says whose it is.
TEST_F(CertTableRulesTest, SameDisplayNameOfAnotherSubjectIsNoRenewal)
{
    CertTable table = TableOf({
        {1, "QA Org ID", "20300101000000", "20400101000000", "CA1", EUse::General, "CN=Dave, O=QA Org"},
        {2, "QA Org ID", "20300201000000", "20400101000000", "CA1", EUse::General, "CN=Frank, O=QA Org"},
        {3, "Kim's Acme ID", "20300101000100", "20400101000000", "CA1", EUse::General, "C=US, O=Acme, CN=Kim"},
        {4, "Kim's Acme ID", "20300201000100", "20400101000000", "CA1", EUse::General, "C=CN, O=Acme, CN=Kim"},
        {5, "Kim's Acme ID", "20300301000100", "20400101000000", "CA1", EUse::General, "C=US, O=Acme, CN=Kim"},
    });
    EXPECT_EQ(Marks(table, m_clock), (std::map<int, int>{{1, 0}, {2, 0}, {3, 1}, {4, 0}, {5, 0}}));
}

TEST_F(CertTableRulesTest, EmptyDisplayNamesNeverSupersede)
{
    CertTable table = TableOf({
        {1, "", "20300101000000", "20400101000000"},
        {2, "", "20300102000000", "20400101000000"},
        {3, "Named", "20300103000000", "20400101000000"},
        {4, "", "20300104000000", "20300201000000"},  // expired: red all the same
    });
    EXPECT_EQ(Marks(table, m_clock), (std::map<int, int>{{1, 0}, {2, 0}, {3, 0}, {4, 1}}));
}

TEST_F(CertTableRulesTest, ExpiryIsJudgedByTheUtcClockToTheSecond)
{
    // East of UTC (UTC+8) the local wall clock is already past these expiries.
    m_clock.SetLocalOffset(8 * 3600);
    auto table = [] {
        return TableOf({
            {1, "in two hours", "20300101000000", "20300615140000"},
            {2, "exactly now", "20300102000000", "20300615120000"},
            {3, "a second ago", "20300103000000", "20300615115959"},
        });
    };
    CertTable now = table();
    EXPECT_EQ(Marks(now, m_clock), (std::map<int, int>{{1, 0}, {2, 0}, {3, 1}}));
    m_clock.Set(kRulesNow + 1);
    CertTable later = table();
    EXPECT_EQ(Marks(later, m_clock), (std::map<int, int>{{1, 0}, {2, 1}, {3, 1}}));
}

TEST_F(CertTableRulesTest, ExpiredAndSupersededBothMark)
{
    CertTable table = TableOf({
        {1, "Old", "20200101000000", "20210101000000"},
        {2, "Old", "20200102000000", "20210101000000"},
    });
    EXPECT_EQ(Marks(table, m_clock), (std::map<int, int>{{1, 1}, {2, 1}}));
}

// A red certificate's key pair goes with it unless it names none (no ID)
// or a certificate the run keeps carries its ID, in the table or beyond
// what the scan read.
TEST_F(CertTableRulesTest, KeyPairGoesUnlessAKeptCertificateCarriesTheId)
{
    CertTable table = TableOf({
        {1, "Exp", "20200101000000", "20210101000000"},
        {2, "Dup", "20300101000000", "20400101000000"},
        {3, "Dup", "20300201000000", "20400101000000"},
        {4, "Old", "20200102000000", "20210101000000"},
        {5, "NoId", "20200103000000", "20210101000000"},
        {6, "Ren", "20200104000000", "20210101000000"},
    });
    table.records[4].ulIdLen = 0;
    table.records[5].pId[0] = 3;  // the valid "Dup"'s ID: a renewal that kept its pair
    Marks(table, m_clock);
    // By the handle, 100 + the number of its row above.
    auto record = [&table](unsigned char id) -> const CertRecord& {
        for (CK_ULONG i = 0; i < table.nCount; ++i)
            if (table.records[i].hCertObject == 100u + id)
                return table.records[i];
        throw std::out_of_range("no record");
    };

    using EFate = CKeyPairRule::EFate;
    const CK_OBJECT_HANDLE kUnread = 999;  // a certificate the scan did not read
    struct SRow {
        unsigned char id;
        std::vector<CK_OBJECT_HANDLE> holders;
        EFate eFate;
        int keeper;  // CKA_ID of the record named as keeping the keys, or 0
    };
    const SRow rows[] = {
        {1, {101}, EFate::Goes, 0},
        {1, {}, EFate::Goes, 0},
        {1, {101, 104}, EFate::Goes, 0},  // both go
        {2, {102, 103}, EFate::KeptInUse, 3},
        {1, {101, kUnread}, EFate::KeptInUse, 0},
        {1, {kUnread, 101, 103}, EFate::KeptInUse, 3},
        {5, {105, 103}, EFate::KeptNoId, 0},
        // A module whose search by ID missed the kept "Dup": the table keeps the keys.
        {6, {106}, EFate::KeptInUse, 3},
    };
    for (const SRow& row : rows) {
        SCOPED_TRACE("id " + std::to_string(row.id) + ", " + std::to_string(row.holders.size()) + " holders");
        CKeyPairRule::SVerdict verdict = CKeyPairRule::Judge(table, record(row.id), row.holders);
        EXPECT_EQ(verdict.eFate, row.eFate);
        EXPECT_EQ(verdict.pKeeper != nullptr ? verdict.pKeeper->pId[0] : 0, row.keeper);
    }
}

}  // namespace
