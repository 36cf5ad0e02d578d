#include "CListCommandLine.h"

#include "token/CModuleChoice.h"
#include "token/CTokenChoice.h"

CListCommandLine::EAction CListCommandLine::Parse(const std::vector<std::string>& args)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (!TakeOption(args, i))
            return EAction::Usage;
    }
    if (m_bHelp)
        return EAction::Help;
    if (m_bVersion)
        return EAction::Version;
    return m_bPlan && m_bListTokens ? (Fail("--plan and --list-tokens cannot be given together"), EAction::Usage)
                                    : EAction::List;
}

bool CListCommandLine::TakeOption(const std::vector<std::string>& args, std::size_t& i)
{
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h")
        return m_bHelp = true;
    if (arg == "--version")
        return m_bVersion = true;
    if (arg == "--list-tokens")
        return m_bListTokens = true;
    if (arg == "--plan")
        return m_bPlan = true;
    if (arg == "--verbose" || arg == "-v")
        return m_bVerbose = true;
    if (arg.rfind("--", 0) != 0 || arg == "--")
        return Fail("unexpected argument '" + arg + "'");

    std::string name = arg.substr(0, arg.find('='));
    if (name != "--module" && name != "--format" && name != "--token")
        return Fail("unknown option '" + name + "'");
    std::string value;
    if (name.size() < arg.size())
        value = arg.substr(name.size() + 1);
    else if (i + 1 < args.size())
        value = args[++i];
    else
        return Fail("option '" + name + "' needs a value");

    if (name == "--format")
        return SetFormat(value);
    if (name == "--token") {
        m_token = value;
        return true;
    }
    if (value.empty())
        return Fail("option '--module' needs a file name");
    m_module = value;
    return true;
}

bool CListCommandLine::SetFormat(const std::string& value)
{
    if (value == "tsv")
        m_format = EFormat::Tsv;
    else if (value == "json")
        m_format = EFormat::Json;
    else
        return Fail("unknown format '" + value + "'");
    return true;
}

bool CListCommandLine::Fail(const std::string& problem)
{
    m_strProblem = problem;
    return false;
}

std::string CListCommandLine::HelpText()
{
    return std::string(kUsage) +
           "\n\n"
           "Lists the certificates on the token, one per line, in the window's order.\n"
           "\n"
           "  --module PATH      the token's PKCS#11 module (default: $" + CModuleChoice::kVariable + ", else " +
           CModuleChoice::kDefaultFileName + ")\n"
           "  --token URI        the token, as a PKCS#11 URI such as 'pkcs11:token=Ulda;serial=0123'\n"
           "                     (default: $" + CTokenChoice::kVariable + ", else the first initialised token,\n"
           "                     removable ones first)\n"
           "  --list-tokens      list the tokens present instead, with their URIs and slot kinds\n"
           "  --plan             what the window's removal would delete instead, one line per red\n"
           "                     certificate, without a PIN: issue date, expiry date, why red\n"
           "                     (expired, superseded), keys (goes, kept or none: no ID),\n"
           "                     decrypts (true or false), name, and what becomes of its keys\n"
           "  --format tsv|json  tab-separated lines (the default) or one JSON array\n"
           "  --verbose          what is done with the module and the token, on standard error\n"
           "  --help             this text\n"
           "  --version          the program's version\n"
           "\n"
           "Exit status: 0 the token was read, 1 a failure, 2 usage, 3 no token present,\n"
           "4 a certificate could not be read: what was read before it is printed.\n";
}
