#pragma once

#include <optional>
#include <string>
#include <vector>

// certpurge-list's options: --help, --version, --module PATH, --token URI,
// --list-tokens, --plan, --format tsv|json; both "--opt value" and
// "--opt=value".
class CListCommandLine {
public:
    enum class EFormat { Tsv, Json };
    enum class EAction { List, Help, Version, Usage };

    static constexpr const char* kUsage =
        "usage: certpurge-list [--module PATH] [--token URI] [--list-tokens | --plan] [--format tsv|json] "
        "[--verbose]";

    EAction Parse(const std::vector<std::string>& args);

    EFormat Format() const { return m_format; }
    const std::optional<std::string>& Module() const { return m_module; }
    const std::optional<std::string>& Token() const { return m_token; }
    // The tokens present rather than the certificates of one.
    bool ListTokens() const { return m_bListTokens; }
    // What a removal would delete, rather than the whole table.
    bool Plan() const { return m_bPlan; }
    // What is done with the module and the token, on standard error.
    bool Verbose() const { return m_bVerbose; }
    // What was wrong with the arguments, after EAction::Usage.
    const std::string& Problem() const { return m_strProblem; }

    static std::string HelpText();

private:
    // Consumes the option at args[i] (and its value); false on a bad one.
    bool TakeOption(const std::vector<std::string>& args, std::size_t& i);
    bool SetFormat(const std::string& value);
    bool Fail(const std::string& problem);

    EFormat m_format = EFormat::Tsv;
    std::optional<std::string> m_module;
    std::optional<std::string> m_token;
    std::string m_strProblem;
    bool m_bHelp = false;
    bool m_bVersion = false;
    bool m_bListTokens = false;
    bool m_bPlan = false;
    bool m_bVerbose = false;
};
