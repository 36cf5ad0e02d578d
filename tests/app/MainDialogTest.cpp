#include "CDialogTest.h"

#include "CertPurgeVersion.h"
#include "app/CAboutDlg.h"
#include "platform/CMessageBox.h"
#include "res/AppIcon.h"
#include "res/DialogTemplates.h"
#include "res/resource.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include <gmock/gmock.h>

#include <fstream>
#include <iterator>

namespace {

// Closes every modal window that comes up while `action` runs, noting its title.
std::vector<std::string> ModalsDuring(const std::function<void()>& action)
{
    std::vector<std::string> titles;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            titles.push_back(modal->windowTitle().toStdString());
            modal->close();
        }
    });
    timer.start(20);
    action();
    return titles;
}

QWidget* NextTabStop(QWidget& dlg, QWidget* from)
{
    for (QWidget* w = from->nextInFocusChain(); w != from; w = w->nextInFocusChain()) {
        if (w->parentWidget() == &dlg && w->isVisibleTo(&dlg) && (w->focusPolicy() & Qt::TabFocus))
            return w;
    }
    return nullptr;
}

}  // namespace

using MainDialogTest = CDialogTest;

TEST_F(MainDialogTest, ControlsFollowTheTemplate)
{
    CCertPurgeDlg& dlg = Start();
    EXPECT_EQ(dlg.size(), dlg.MapDialogRect(0, 0, 290, 186).size());
    EXPECT_EQ(dlg.List().geometry(), dlg.MapDialogRect(7, 82, 276, 92));
    EXPECT_EQ(dlg.GetDlgItem(IDC_CERT_LIST), &dlg.List());

    auto* button = qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_DELETE_EXPIRED));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), "删除过期证书");
    EXPECT_EQ(button->geometry(), dlg.MapDialogRect(204, 57, 75, 17));

    // The PIN edit of the main window is never shown.
    auto* pinEdit = qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_PIN_EDIT));
    ASSERT_NE(pinEdit, nullptr);
    EXPECT_TRUE(pinEdit->isHidden());
    EXPECT_EQ(pinEdit->echoMode(), QLineEdit::Password);

    std::vector<std::string> shown;
    for (QLabel* label : dlg.findChildren<QLabel*>())
        if (!label->isHidden())
            shown.push_back(label->text().toStdString());
    EXPECT_THAT(shown, ::testing::UnorderedElementsAre(
                           "注意事项:", "本工具将根据您的系统时间来删除过期的证书，请设置正确的系统时间！"));

    // Tab order: the list, then the button (the hidden edit is skipped).
    dlg.show();
    EXPECT_EQ(NextTabStop(dlg, dlg.GetDlgItem(IDC_CERT_LIST)), button);
    EXPECT_EQ(NextTabStop(dlg, button), dlg.GetDlgItem(IDC_CERT_LIST));
}

TEST_F(MainDialogTest, DialogUnitsFollowTheDialogFont)
{
    CCertPurgeDlg& dlg = Start();
    const CDialogUnits& units = dlg.DialogUnits();
    EXPECT_GT(units.BaseUnitX(), 3);
    EXPECT_GT(units.BaseUnitY(), units.BaseUnitX());
    EXPECT_EQ(dlg.MapDialogRect(4, 8, 4, 8), QRect(units.BaseUnitX(), units.BaseUnitY(), units.BaseUnitX(),
                                                   units.BaseUnitY()));
    EXPECT_EQ(CDialogUnits::MulDiv(7, 6, 4), 11);   // 10.5 rounds up
    EXPECT_EQ(CDialogUnits::MulDiv(-7, 6, 4), -11);
    EXPECT_EQ(CDialogUnits::MulDiv(5, 6, 4), 8);    // 7.5
    EXPECT_EQ(CDialogUnits::MulDiv(1, 1, 0), -1);
}

TEST_F(MainDialogTest, ColumnsAreRecordedLeftAlignedWithTheirWidths)
{
    CCertPurgeDlg& dlg = Start();
    const CHeaderCtrlCl& header = dlg.List().m_ctlHeader;
    EXPECT_EQ(header.m_astrHeadings, (std::vector<std::string>{"证书颁发日期", "证书截止日期", "证书序列号"}));
    EXPECT_EQ(header.m_strAlignCodes, "000");
    EXPECT_EQ(dlg.List().columnWidth(0), 100);
    EXPECT_EQ(dlg.List().columnWidth(1), 100);
    EXPECT_EQ(dlg.List().columnWidth(2), 320);
}

TEST_F(MainDialogTest, AboutBoxFromSystemCommands0x10To0x1FOnly)
{
    CCertPurgeDlg& dlg = Start();
    for (UINT id = 0x10; id <= 0x1F; ++id)
        EXPECT_EQ(ModalsDuring([&] { dlg.OnSysCommand(id, 0); }), std::vector<std::string>{"关于 Tavrenor"}) << id;
    for (UINT id : {0x0FU, 0x20U, 0x110U, 0xF100U})
        EXPECT_TRUE(ModalsDuring([&] { dlg.OnSysCommand(id, 0); }).empty()) << id;
}

TEST_F(MainDialogTest, SystemMenuReachesTheAboutBox)
{
    CCertPurgeDlg& dlg = Start();
    QMenu* menu = dlg.SystemMenu();
    ASSERT_NE(menu, nullptr);
    QList<QAction*> actions = menu->actions();
    ASSERT_GE(actions.size(), 2);
    EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
    QAction* about = actions.back();
    EXPECT_EQ(about->text(), "关于 Tavrenor(&A)...");
    EXPECT_EQ(ModalsDuring([&] { about->trigger(); }), std::vector<std::string>{"关于 Tavrenor"});
}

TEST_F(MainDialogTest, AboutBoxTexts)
{
    CAboutDlg about;
    ASSERT_TRUE(about.Create());
    EXPECT_EQ(about.windowTitle(), "关于 Tavrenor");
    EXPECT_EQ(about.size(), about.MapDialogRect(0, 0, 235, 55).size());
    auto* ok = qobject_cast<QPushButton*>(about.GetDlgItem(IDOK));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "确定");
    EXPECT_TRUE(ok->isDefault());
    bool version = false;
    bool icon = false;
    for (QLabel* label : about.findChildren<QLabel*>()) {
        version = version || label->text() == "Tavrenor " CERTPURGE_VERSION_SHORT " 版";
        icon = icon || !label->pixmap().isNull();
    }
    EXPECT_TRUE(version);
    EXPECT_TRUE(icon);
}

TEST_F(MainDialogTest, EnterEscapeAndCloseEndTheDialog)
{
    for (int key : {Qt::Key_Return, Qt::Key_Escape}) {
        CCertPurgeDlg& dlg = Start();
        dlg.GetDlgItem(IDC_CERT_LIST)->setFocus();
        int result = -1;
        QTimer::singleShot(50, [&] {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QApplication::sendEvent(&dlg, &press);
        });
        result = dlg.exec();
        EXPECT_EQ(result, key == Qt::Key_Return ? IDOK : IDCANCEL);
        Close();
    }
    CCertPurgeDlg& dlg = Start();
    QTimer::singleShot(50, [&] { dlg.OnSysCommand(SC_CLOSE, 0); });
    EXPECT_EQ(dlg.exec(), IDCANCEL);
}

TEST_F(MainDialogTest, IconAtThreeSizesAndCentredWhenMinimised)
{
    CCertPurgeDlg& dlg = Start();
    QList<QSize> sizes = dlg.OnQueryDragIcon().availableSizes();
    for (int s : {16, 32, 48})
        EXPECT_TRUE(sizes.contains(QSize(s, s))) << s;
    EXPECT_EQ(dlg.OnQueryDragIcon().cacheKey(), dlg.windowIcon().cacheKey());
    // One is added to the free width and height before halving.
    EXPECT_EQ(CCertPurgeDlg::IconOrigin(QSize(100, 51), QSize(32, 32)), QPoint(34, 10));
    EXPECT_EQ(CCertPurgeDlg::IconOrigin(QSize(33, 32), QSize(32, 32)), QPoint(1, 0));
}

// Which version it is, version_test checks against the project's; here,
// that the block holds the product's too, and its language.
TEST_F(MainDialogTest, ProgramCarriesItsVersionBlockAndDesktopEntry)
{
    std::ifstream in(CERTPURGE_BINARY, std::ios::binary);
    std::string binary((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string product = std::string("ProductVersion=") + CERTPURGE_VERSION;
    EXPECT_NE(binary.find(std::string(product.c_str(), product.size() + 1)), std::string::npos);
    EXPECT_NE(binary.find("Translation=080404B0"), std::string::npos);

    std::ifstream desktop(CERTPURGE_DESKTOP_FILE);
    std::string entry((std::istreambuf_iterator<char>(desktop)), std::istreambuf_iterator<char>());
    EXPECT_NE(entry.find("Exec=certpurge\n"), std::string::npos);
    EXPECT_NE(entry.find("Icon=certpurge\n"), std::string::npos);
}

TEST_F(MainDialogTest, StartupFillsTheListAndStartsTheMonitor)
{
    m_bMonitor = true;
    AddCert("Valid", "20300101000000Z", "20400101000000Z", {1});
    CCertPurgeDlg& dlg = Start();
    EXPECT_TRUE(m_prompts.Prompts().empty());
    ASSERT_EQ(Rows().size(), 1u);
    EXPECT_TRUE(dlg.Follower().IsRunning());
}
