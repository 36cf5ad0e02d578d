// The real boxes the removal asks through, shown headless and read back.
#include "platform/CMessageBox.h"
#include "removal/CUserPrompts.h"
#include "platform/StandardIds.h"

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

// The confirmation's box: its message, the line under it and the details,
// each where it belongs.
TEST(UserPromptsTest, BoxShowsItsInformativeTextAndDetails)
{
    CUserPrompts prompts;
    std::vector<std::string> shown;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !shown.empty())
            return;
        shown = {box->windowTitle().toStdString(), box->text().toStdString(), box->informativeText().toStdString(),
                 box->detailedText().toStdString()};
        QTest::keyClick(box, Qt::Key_Escape);
    });
    poll.start(20);
    EXPECT_EQ(prompts.MessageBoxWithInformation(nullptr, "确认？", "删除证书", MB_OKCANCEL, "其中有可用于解密的证书。",
                                                "1. a\n"),
              IDCANCEL);
    EXPECT_EQ(shown, (std::vector<std::string>{"删除证书", "确认？", "其中有可用于解密的证书。", "1. a\n"}));
}
