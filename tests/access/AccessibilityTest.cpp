#include "CDialogTest.h"

#include "removal/CPinDlg.h"
#include "removal/PinDialogTemplate.h"

#include <QAccessible>
#include <QAccessibleInterface>

#include <gmock/gmock.h>

#include <string>
#include <vector>

using testing::ElementsAre;

namespace {

struct SDescribedRow {
    std::string name;
    std::string description;  // the same for each cell of the row
    bool operator==(const SDescribedRow&) const = default;
};

void PrintTo(const SDescribedRow& row, std::ostream* os)
{
    *os << "{" << row.name << ", \"" << row.description << "\"}";
}

std::string Text(QAccessibleInterface* iface, QAccessible::Text t)
{
    return iface != nullptr ? iface->text(t).toStdString() : "<no interface>";
}

class AccessibilityTest : public CDialogTest {
protected:
    // Each row's display name and its cells' description, as a screen
    // reader gets them; a row whose cells disagree shows "<mixed>".
    std::vector<SDescribedRow> DescribedRows()
    {
        // The tree lays its rows out when shown, and only then has them for its accessible table.
        Dlg().show();
        Pump(0);
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(const_cast<CListCtrlCl*>(&Dlg().List()));
        QAccessibleTableInterface* table = list != nullptr ? list->tableInterface() : nullptr;
        EXPECT_NE(table, nullptr);
        std::vector<SDescribedRow> rows;
        for (int row = 0; table != nullptr && row < table->rowCount(); ++row) {
            SDescribedRow described{Text(table->cellAt(row, 2), QAccessible::Name),
                                    Text(table->cellAt(row, 0), QAccessible::Description)};
            for (int col = 1; col < table->columnCount(); ++col) {
                if (Text(table->cellAt(row, col), QAccessible::Description) != described.description)
                    described.description = "<mixed>";
            }
            rows.push_back(described);
        }
        return rows;
    }
};

}  // namespace

// A red row says why it is red, in the window's language; the others say
// nothing of the kind, also after a refresh moves the rows.
TEST_F(AccessibilityTest, RedRowsTellWhyTheyAreRedAndTheListIsNamed)
{
    AddCert("old", "20200101000000Z", "20210101000000Z", {1});   // expired
    AddCert("b", "20250101000000Z", "20400101000000Z", {2});     // superseded by the next
    AddCert("b", "20260101000000Z", "20400101000000Z", {3});
    AddCert("d", "20190101000000Z", "20200101000000Z", {4});     // both
    AddCert("d", "20190601000000Z", "20400101000000Z", {5});
    Start();
    EXPECT_EQ(Text(QAccessible::queryAccessibleInterface(const_cast<CListCtrlCl*>(&Dlg().List())), QAccessible::Name),
              "证书列表");
    EXPECT_THAT(DescribedRows(), ElementsAre(SDescribedRow{"d's Acme ID", "过期，已被更新的证书取代"},
                                             SDescribedRow{"d's Acme ID", ""},
                                             SDescribedRow{"old's Acme ID", "过期"},
                                             SDescribedRow{"b's Acme ID", "已被更新的证书取代"},
                                             SDescribedRow{"b's Acme ID", ""}));
    EXPECT_EQ(RedNames(), (std::vector<std::string>{"d's Acme ID", "old's Acme ID", "b's Acme ID"}));

    // The expired ones gone, the rows that take their places say nothing.
    Token().Destroy(CKO_CERTIFICATE, {1});
    Token().Destroy(CKO_CERTIFICATE, {4});
    Dlg().RefreshList();
    EXPECT_THAT(DescribedRows(), ElementsAre(SDescribedRow{"d's Acme ID", ""},
                                             SDescribedRow{"b's Acme ID", "已被更新的证书取代"},
                                             SDescribedRow{"b's Acme ID", ""}));
}

TEST_F(AccessibilityTest, ThePinFieldIsNamedByItsLabel)
{
    CPinDlg dlg(nullptr, &m_prompts);
    ASSERT_TRUE(dlg.Create());
    QAccessibleInterface* field = QAccessible::queryAccessibleInterface(dlg.GetDlgItem(IDC_PIN));
    EXPECT_EQ(Text(field, QAccessible::Name), "请您输入Ulda的密码：");
    ASSERT_NE(field, nullptr);
    const auto labels = field->relations(QAccessible::Label);
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(Text(labels.front().first, QAccessible::Name), "请您输入Ulda的密码：");
}
