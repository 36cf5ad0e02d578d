#pragma once

#include <ostream>
#include <string>
#include <vector>

class CTokenSimControl;

// The `tokensim` command line: tokensim [--state FILE] VERB [ARGS].
class CTokenSimCommand {
public:
    static constexpr int kOk = 0;
    static constexpr int kFailed = 1;
    static constexpr int kUsage = 2;

    CTokenSimCommand(std::ostream& out, std::ostream& err) : m_out(out), m_err(err) {}

    // The arguments after the program name; returns the exit status.
    int Run(std::vector<std::string> args);

private:
    int Execute(CTokenSimControl& control, const std::string& verb, const std::vector<std::string>& operands);
    int ChangePresence(CTokenSimControl& control, const std::vector<std::string>& operands, bool present);
    int AddFaults(CTokenSimControl& control, const std::vector<std::string>& operands);
    int Clear(CTokenSimControl& control, const std::vector<std::string>& operands);
    int SetMode(CTokenSimControl& control, const std::vector<std::string>& operands);
    int SetFindOrder(CTokenSimControl& control, const std::vector<std::string>& operands);
    int SetTokenFlags(CTokenSimControl& control, const std::vector<std::string>& operands);
    int SetSlotFlags(CTokenSimControl& control, const std::vector<std::string>& operands);
    int Usage(const std::string& problem);

    std::ostream& m_out;
    std::ostream& m_err;
};
