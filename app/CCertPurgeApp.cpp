#include "app/CCertPurgeApp.h"

#include "app/CAppCommandLine.h"
#include "app/CCertPurgeDlg.h"
#include "app/CQtTokenLog.h"
#include "res/VersionInfo.h"

#include <QApplication>

#include <chrono>
#include <cstdio>

namespace {

// How long SIGTERM waits for the monitor's thread, well within the watch's
// grace: a thread held in the module is left to the process's end.
constexpr std::chrono::milliseconds kSignalStopTimeout{100};

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
    // Before Qt or the module start a thread, so that none of them takes it.
    m_termWatch.Open();
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
    RunModal(dlg);
    m_bThreadLeftBehind = !dlg.Follower().Stop();
    return false;
}

void CCertPurgeApp::RunModal(CCertPurgeDlg& dlg)
{
    m_termWatch.Start([this, &dlg] { EndOnSignal(dlg); });
    dlg.DoModal();
    // Closing waits for the monitor a while: SIGTERM does not wait with it.
    if (m_termWatch.Stop())
        EndOnSignal(dlg);
}

// SIGTERM ends the run where it stands, between two events of whichever
// loop runs: a removal waiting for the user goes no further, and one that
// is deleting, which runs no events, is ended by the watch's grace; either
// way a certificate goes after its keys, so the next run finishes what is
// left. The module is let go as closing
// lets it go, unless a thread is inside it (a monitor left behind, a
// keypad login), which the process's end stops.
void CCertPurgeApp::EndOnSignal(CCertPurgeDlg& dlg)
{
    if (dlg.Follower().Stop(kSignalStopTimeout) && !dlg.Follower().Held())
        dlg.Token().Close();
    std::fflush(nullptr);
    m_termWatch.Die();
}
