#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

#include "token/CTokenChoice.h"

#include <optional>
#include <string>

// The window's options: --help, --version, --module PATH, --token URI. Parsed before
// the QApplication exists, so that --help and --version need no display;
// anything unknown is a usage error (exit status 2), not Qt's exit 1.
class CAppCommandLine {
public:
    enum class EAction { Run, Help, Version, Usage };
    static constexpr int kUsageStatus = 2;
    static constexpr const char* kUsage = "usage: certpurge [--module PATH] [--token URI] [--verbose]";

    CAppCommandLine();

    EAction Parse(const QStringList& arguments);
    // The module the window loads: the option, the variable or the default.
    std::string ModuleFile() const;
    // The token the window shows: the option's, the variable's, or any.
    const CTokenChoice& TokenChoice() const { return m_tokenChoice; }
    // Diagnostics on standard error.
    bool Verbose() const { return m_parser.isSet(m_verbose); }
    // What was wrong with the arguments, after EAction::Usage.
    QString Problem() const { return m_strProblem; }
    // Needs a QCoreApplication for the program's name.
    QString HelpText() const { return m_parser.helpText(); }

private:
    bool ResolveToken();

    QCommandLineParser m_parser;
    QCommandLineOption m_help;
    QCommandLineOption m_version;
    QCommandLineOption m_module;
    QCommandLineOption m_token;
    QCommandLineOption m_verbose;
    CTokenChoice m_tokenChoice;
    QString m_strProblem;
};
