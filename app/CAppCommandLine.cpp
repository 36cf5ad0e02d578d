#include "app/CAppCommandLine.h"

#include "token/CModuleChoice.h"

#include <optional>

CAppCommandLine::CAppCommandLine()
    : m_help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this text.")),
      m_version(QStringLiteral("version"), QStringLiteral("Shows the program's version.")),
      m_module(QStringLiteral("module"),
               QStringLiteral("The token's PKCS#11 module (default: $%1, else %2).")
                   .arg(QString::fromUtf8(CModuleChoice::kVariable), QString::fromUtf8(CModuleChoice::kDefaultFileName)),
               QStringLiteral("PATH")),
      m_token(QStringLiteral("token"),
              QStringLiteral("The token, as a PKCS#11 URI such as pkcs11:token=Ulda;serial=0123 "
                             "(default: $%1, else the first initialised token, removable ones first).")
                  .arg(QString::fromUtf8(CTokenChoice::kVariable)),
              QStringLiteral("URI")),
      m_verbose(QStringLiteral("verbose"),
                QStringLiteral("Writes what is done with the module and the token to standard error."))
{
    m_parser.setApplicationDescription(
        QStringLiteral("Lists the certificates on the token and deletes the out-of-date ones."));
    m_parser.addOptions({m_help, m_version, m_module, m_token, m_verbose});
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
    if (m_parser.isSet(m_version))
        return EAction::Version;
    return ResolveToken() ? EAction::Run : EAction::Usage;
}

bool CAppCommandLine::ResolveToken()
{
    std::optional<std::string> option;
    if (m_parser.isSet(m_token))
        option = m_parser.value(m_token).toUtf8().toStdString();
    std::string problem;
    std::optional<CTokenChoice> choice = CTokenChoice::Resolve(option, problem);
    if (!choice) {
        m_strProblem = QString::fromUtf8(problem);
        return false;
    }
    m_tokenChoice = std::move(*choice);
    return true;
}

std::string CAppCommandLine::ModuleFile() const
{
    std::optional<std::string> option;
    if (m_parser.isSet(m_module))
        option = m_parser.value(m_module).toLocal8Bit().toStdString();
    return CModuleChoice::Resolve(option);
}
