// The window tests' main: one QApplication for the whole run, named like
// the program so that boxes without a caption show "certpurge".
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Headless unless told otherwise, also when ctest only lists the tests.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("certpurge"));
    return RUN_ALL_TESTS();
}
