#include "CScriptedPrompts.h"
#include "removal/CPinDlg.h"
#include "inventory/InventoryMessages.h"
#include "removal/RemovalMessages.h"
#include "removal/PinDialogTemplate.h"
#include "res/resource.h"
#include "platform/CGdiFont.h"
#include "platform/CMessageBox.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

class PinDlgTest : public ::testing::Test {
protected:
    QLineEdit* Edit() { return static_cast<QLineEdit*>(m_dlg.GetDlgItem(IDC_PIN)); }
    QPushButton* Ok() { return static_cast<QPushButton*>(m_dlg.GetDlgItem(IDOK)); }

    // Runs the dialog modally; `script` acts once it is up.
    int Run(std::function<void()> script)
    {
        QTimer::singleShot(0, [&] {
            EXPECT_TRUE(QTest::qWaitForWindowExposed(&m_dlg));
            script();
        });
        return m_dlg.DoModal();
    }

    void Key(QWidget* target, Qt::Key key) { QTest::keyClick(target, key); }

    CScriptedPrompts m_prompts;
    CPinDlg m_dlg{nullptr, &m_prompts};
};

}  // namespace

TEST_F(PinDlgTest, TemplateAndMaskedEdit)
{
    ASSERT_TRUE(m_dlg.Create());
    EXPECT_EQ(m_dlg.windowTitle(), "验证Ulda密码");
    EXPECT_EQ(m_dlg.size(), m_dlg.MapDialogRect(0, 0, 177, 58).size());
    EXPECT_EQ(m_dlg.font().pixelSize(), -CGdiFont::HeightFromPoints(10, CGdiFont::ScreenLogicalDpi()));
    EXPECT_EQ(Ok()->text(), "确定");
    EXPECT_EQ(static_cast<QPushButton*>(m_dlg.GetDlgItem(IDCANCEL))->text(), "取消");
    EXPECT_EQ(Edit()->geometry(), m_dlg.MapDialogRect(91, 11, 67, 12));
    QTest::keyClicks(Edit(), "secret");
    EXPECT_EQ(Edit()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Edit()->text(), "secret");
    EXPECT_NE(Edit()->displayText(), "secret");
}

TEST_F(PinDlgTest, AtMostTwentyBytes)
{
    ASSERT_TRUE(m_dlg.Create());
    QTest::keyClicks(Edit(), "123456789012345678901");
    EXPECT_EQ(Edit()->text(), "12345678901234567890");

    // Three bytes a character: six of them and two letters fill it.
    // Chinese arrives from the input method, a character at a time.
    Edit()->clear();
    for (QChar c : QString::fromUtf8("密码密码密码ab密c")) {
        QInputMethodEvent commit;
        commit.setCommitString(QString(c));
        QApplication::sendEvent(Edit(), &commit);
    }
    EXPECT_EQ(Edit()->text().toUtf8(), QByteArray("密码密码密码ab"));
}

TEST_F(PinDlgTest, OkWithAnEmptyFieldAsksAndStaysOpen)
{
    std::string pinAfter = "unset";
    bool stillOpen = false;
    bool okHadFocus = false;
    int result = Run([&] {
        okHadFocus = QApplication::focusWidget() == Ok();
        Key(QApplication::focusWidget(), Qt::Key_Return);  // Enter straight away
        stillOpen = m_dlg.isVisible();
        Key(&m_dlg, Qt::Key_Escape);
    });
    EXPECT_TRUE(okHadFocus);
    EXPECT_TRUE(stillOpen);
    ASSERT_EQ(m_prompts.Prompts().size(), 1u);
    EXPECT_EQ(m_prompts.Prompts()[0].text, "请输入USBKey密码!");
    EXPECT_EQ(m_prompts.Prompts()[0].caption, "提示...");
    EXPECT_EQ(m_prompts.Prompts()[0].type, MB_ICONINFORMATION);
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(m_dlg.m_strPin, "");
}

TEST_F(PinDlgTest, SingleBlankIsAPin)
{
    int result = Run([&] {
        QTest::keyClicks(Edit(), " ");
        QTest::mouseClick(Ok(), Qt::LeftButton);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(m_dlg.m_strPin, " ");
    EXPECT_TRUE(m_prompts.Prompts().empty());
}

TEST_F(PinDlgTest, EnterInTheEditActsAsOk)
{
    int result = Run([&] {
        QTest::keyClicks(Edit(), "123456");
        Key(Edit(), Qt::Key_Return);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(m_dlg.m_strPin, "123456");
}

TEST_F(PinDlgTest, EscapeCancelAndCloseGiveCancelAndNoPin)
{
    for (int way = 0; way < 3; ++way) {
        CPinDlg dlg(nullptr, &m_prompts);
        QTimer::singleShot(0, [&] {
            auto* edit = static_cast<QLineEdit*>(dlg.GetDlgItem(IDC_PIN));
            QTest::keyClicks(edit, "123456");
            if (way == 0)
                QTest::keyClick(&dlg, Qt::Key_Escape);
            else if (way == 1)
                QTest::mouseClick(static_cast<QPushButton*>(dlg.GetDlgItem(IDCANCEL)), Qt::LeftButton);
            else
                dlg.close();
        });
        EXPECT_EQ(dlg.DoModal(), IDCANCEL) << way;
        EXPECT_EQ(dlg.m_strPin, "") << way;
        EXPECT_EQ(static_cast<QLineEdit*>(dlg.GetDlgItem(IDC_PIN))->text(), "") << way;
    }
}

TEST_F(PinDlgTest, WipeClearsTheMemberAndTheEdit)
{
    ASSERT_TRUE(m_dlg.Create());
    QTest::keyClicks(Edit(), "123456");
    m_dlg.m_strPin = "123456";
    m_dlg.WipePin();
    EXPECT_EQ(m_dlg.m_strPin, "");
    EXPECT_EQ(Edit()->text(), "");
    EXPECT_FALSE(Edit()->isUndoAvailable());
}

TEST_F(PinDlgTest, RealMessageBoxWithAnEmptyField)
{
    CPinDlg dlg;  // no prompts given: the real Qt box
    std::string boxText;
    std::string boxTitle;
    QTimer::singleShot(0, [&] {
        QTest::keyClick(dlg.GetDlgItem(IDOK), Qt::Key_Return);
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr && modal != &dlg) {
            if (auto* label = modal->findChild<QLabel*>("qt_msgbox_label"))
                boxText = label->text().toStdString();
            boxTitle = modal->windowTitle().toStdString();
            QTest::keyClick(modal, Qt::Key_Escape);
            QTimer::singleShot(0, [&] { dlg.close(); });
        }
    });
    poll.start(20);
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(boxText, "请输入USBKey密码!");
    EXPECT_EQ(boxTitle, "提示...");
}
