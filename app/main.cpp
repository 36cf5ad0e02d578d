#include "app/CCertPurgeApp.h"
#include "res/VersionInfo.h"

#include <QApplication>

// The application object, the one global of the program.
static CCertPurgeApp theApp;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QString::fromUtf8(VersionInfo::kFileVersion));
    QApplication::setDesktopFileName(QStringLiteral("certpurge"));
    theApp.InitInstance();
    return 0;
}
