#include "app/CCertPurgeApp.h"
#include "res/VersionInfo.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

// The application object, the one global of the program.
static CCertPurgeApp theApp;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QString::fromUtf8(VersionInfo::kFileVersion));
    QApplication::setDesktopFileName(QStringLiteral("certpurge"));
    theApp.InitInstance();
    if (theApp.ThreadLeftBehind()) {
        // Its module may wait on objects that exit() would tear down under it.
        std::fflush(nullptr);
        std::_Exit(0);
    }
    return 0;
}
