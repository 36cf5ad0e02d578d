#include "app/CCertPurgeApp.h"

#include "app/CAppCommandLine.h"
#include "app/CCertPurgeDlg.h"
#include "app/CQtTokenLog.h"
#include "res/VersionInfo.h"

#include <QApplication>

#include <cstdio>

namespace {

QStringList Arguments(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

// --help and --version: a core application names the program, no display needed.
int PrintAndExit(int argc, char** argv, const CAppCommandLine& commandLine, CAppCommandLine::EAction action)
{
    QCoreApplication core(argc, argv);
    QString text = action == CAppCommandLine::EAction::Help
                       ? commandLine.HelpText()
                       : QStringLiteral("certpurge %1\n").arg(QString::fromUtf8(VersionInfo::kFileVersion));
    std::fputs(text.toLocal8Bit().constData(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int CCertPurgeApp::Run(int argc, char** argv)
{
    CAppCommandLine commandLine;
    CAppCommandLine::EAction action = commandLine.Parse(Arguments(argc, argv));
    if (action == CAppCommandLine::EAction::Usage) {
        std::fprintf(stderr, "certpurge: %s\n%s\n", commandLine.Problem().toLocal8Bit().constData(),
                     CAppCommandLine::kUsage);
        return CAppCommandLine::kUsageStatus;
    }
    if (action != CAppCommandLine::EAction::Run)
        return PrintAndExit(argc, argv, commandLine, action);

    m_strModuleFile = commandLine.ModuleFile();
    m_tokenChoice = commandLine.TokenChoice();
    QApplication app(argc, argv);
    if (commandLine.Verbose())
        CQtTokenLog::EnableDebug();
    QApplication::setApplicationVersion(QString::fromUtf8(VersionInfo::kFileVersion));
    QApplication::setDesktopFileName(QStringLiteral("certpurge"));
    InitInstance();
    return 0;
}

bool CCertPurgeApp::InitInstance()
{
    CCertPurgeDlg dlg;
    if (!m_strModuleFile.empty())
        dlg.SetModuleFile(m_strModuleFile);
    dlg.SetTokenChoice(m_tokenChoice);
    dlg.DoModal();
    m_bThreadLeftBehind = !dlg.Follower().Stop();
    return false;
}
