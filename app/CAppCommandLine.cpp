#include "app/CAppCommandLine.h"

#include "token/CModuleChoice.h"

#include <optional>

CAppCommandLine::CAppCommandLine()
    : m_help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this text.")),
      m_version(QStringLiteral("version"), QStringLiteral("Shows the program's version.")),
      m_module(QStringLiteral("module"),
               QStringLiteral("The token's PKCS#11 module (default: $%1, else %2).")
                   .arg(QString::fromUtf8(CModuleChoice::kVariable), QString::fromUtf8(CModuleChoice::kDefaultFileName)),
               QStringLiteral("PATH"))
{
    m_parser.setApplicationDescription(
        QStringLiteral("Lists the certificates on the token and deletes the out-of-date ones."));
    m_parser.addOptions({m_help, m_version, m_module});
}

CAppCommandLine::EAction CAppCommandLine::Parse(const QStringList& arguments)
{
    if (!m_parser.parse(arguments)) {
        m_strProblem = m_parser.errorText();
        return EAction::Usage;
    }
    if (!m_parser.positionalArguments().isEmpty()) {
        m_strProblem = QStringLiteral("Unexpected argument '%1'.").arg(m_parser.positionalArguments().constFirst());
        return EAction::Usage;
    }
    if (m_parser.isSet(m_module) && m_parser.value(m_module).isEmpty()) {
        m_strProblem = QStringLiteral("Option 'module' needs a file name.");
        return EAction::Usage;
    }
    if (m_parser.isSet(m_help))
        return EAction::Help;
    return m_parser.isSet(m_version) ? EAction::Version : EAction::Run;
}

std::string CAppCommandLine::ModuleFile() const
{
    std::optional<std::string> option;
    if (m_parser.isSet(m_module))
        option = m_parser.value(m_module).toLocal8Bit().toStdString();
    return CModuleChoice::Resolve(option);
}
