#include "CTokenSimCommand.h"

#include "tools/tokensim/control/CTokenSimControl.h"

#include <cstdlib>
#include <exception>

namespace {

constexpr const char* kUsageText =
    "usage: tokensim [--state FILE] VERB [ARGS]\n"
    "  insert SLOT...    put the token of SLOT back in\n"
    "  remove SLOT...    pull the token of SLOT out\n"
    "  fault RULE...     add fault rules, FUNCTION:CALL:RESULT\n"
    "  clear             every token in, no fault rules, normal mode, module order\n"
    "  clear faults      remove the fault rules only\n"
    "  mode MODE         normal | no-wait | no-blocking-wait | events-at-init | slow-poll |\n"
    "                    blocking-wait | event-every-poll\n"
    "  order ORDER       module | label: searches as the backend finds, or sorted by CKA_LABEL\n"
    "  status            print the state\n"
    "  flags SLOT FLAGS  token flags C_GetTokenInfo adds: none, or a comma-separated list of\n"
    "                    user-pin-count-low, user-pin-final-try, user-pin-locked,\n"
    "                    protected-authentication-path, write-protected\n"
    "  slot SLOT FLAGS   the kind of slot C_GetSlotInfo reports: none, removable, hardware or\n"
    "                    removable,hardware (unset: removable)\n"
    "  keypad PIN        type PIN on the reader's keypad, for the keypad logins waiting\n"
    "SLOT: all, a slot ID as the simulator reports it, or #N for the N-th slot it shows (from 0).\n"
    "RULE: C_DestroyObject:2:CKR_ACTION_PROHIBITED, C_Login:*:CKR_PIN_LOCKED,\n"
    "      C_GetAttributeValue:1:len=unavailable, C_GetAttributeValue:*:len=0x80000000,\n"
    "      C_FindObjects:1:count=50, C_DestroyObject:3:pull\n"
    "The state file is --state FILE, else $TOKENSIM_STATE.\n";

// Takes "--state FILE" out of the arguments; empty when not given.
std::string TakeStateOption(std::vector<std::string>& args)
{
    if (args.size() >= 2 && args[0] == "--state") {
        std::string path = args[1];
        args.erase(args.begin(), args.begin() + 2);
        return path;
    }
    const char* env = std::getenv("TOKENSIM_STATE");
    return env != nullptr ? env : "";
}

}  // namespace

int CTokenSimCommand::Run(std::vector<std::string> args)
{
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        m_out << kUsageText;
        return kOk;
    }
    std::string statePath = TakeStateOption(args);
    if (statePath.empty())
        return Usage("no state file: give --state FILE or set TOKENSIM_STATE");
    if (args.empty())
        return Usage("no verb given");
    try {
        CTokenSimControl control(statePath);
        return Execute(control, args[0], std::vector<std::string>(args.begin() + 1, args.end()));
    } catch (const std::exception& e) {
        m_err << "tokensim: " << e.what() << "\n";
        return kFailed;
    }
}

int CTokenSimCommand::Execute(CTokenSimControl& control, const std::string& verb,
                              const std::vector<std::string>& operands)
{
    if (verb == "insert" || verb == "remove")
        return ChangePresence(control, operands, verb == "insert");
    if (verb == "fault")
        return AddFaults(control, operands);
    if (verb == "clear")
        return Clear(control, operands);
    if (verb == "mode")
        return SetMode(control, operands);
    if (verb == "order")
        return SetFindOrder(control, operands);
    if (verb == "flags")
        return SetTokenFlags(control, operands);
    if (verb == "slot")
        return SetSlotFlags(control, operands);
    if (verb == "keypad" && operands.size() == 1 && !operands[0].empty()) {
        control.EnterOnKeypad(operands[0]);
        return kOk;
    }
    if (verb == "status" && operands.empty()) {
        m_out << control.State().Describe();
        return kOk;
    }
    return Usage("unknown verb or wrong arguments: " + verb);
}

int CTokenSimCommand::ChangePresence(CTokenSimControl& control, const std::vector<std::string>& operands,
                                     bool present)
{
    if (operands.empty())
        return Usage("no slot given");
    std::vector<CSlotSelector> slots;
    for (const std::string& text : operands) {
        std::optional<CSlotSelector> slot = CSlotSelector::Parse(text);
        if (!slot)
            return Usage("not a slot: " + text);
        slots.push_back(*slot);
    }
    for (const CSlotSelector& slot : slots) {
        if (present)
            control.Insert(slot);
        else
            control.Remove(slot);
    }
    return kOk;
}

int CTokenSimCommand::AddFaults(CTokenSimControl& control, const std::vector<std::string>& operands)
{
    if (operands.empty())
        return Usage("no rule given");
    std::vector<CFaultRule> rules;
    for (const std::string& text : operands) {
        std::optional<CFaultRule> rule = CFaultRule::Parse(text);
        if (!rule)
            return Usage("not a fault rule: " + text);
        rules.push_back(*rule);
    }
    for (const CFaultRule& rule : rules)
        control.AddFault(rule);
    return kOk;
}

int CTokenSimCommand::Clear(CTokenSimControl& control, const std::vector<std::string>& operands)
{
    if (operands.empty())
        control.Clear();
    else if (operands.size() == 1 && operands[0] == "faults")
        control.ClearFaults();
    else
        return Usage("clear takes nothing or \"faults\"");
    return kOk;
}

int CTokenSimCommand::SetMode(CTokenSimControl& control, const std::vector<std::string>& operands)
{
    std::optional<ETokenSimMode> mode = operands.size() == 1 ? CTokenSimState::ParseMode(operands[0]) : std::nullopt;
    if (!mode)
        return Usage("mode takes one of normal, no-wait, no-blocking-wait, events-at-init, slow-poll, blocking-wait, "
                     "event-every-poll");
    control.SetMode(*mode);
    return kOk;
}

int CTokenSimCommand::SetFindOrder(CTokenSimControl& control, const std::vector<std::string>& operands)
{
    std::optional<ETokenSimFindOrder> order =
        operands.size() == 1 ? CTokenSimState::ParseFindOrder(operands[0]) : std::nullopt;
    if (!order)
        return Usage("order takes module or label");
    control.SetFindOrder(*order);
    return kOk;
}

int CTokenSimCommand::SetTokenFlags(CTokenSimControl& control, const std::vector<std::string>& operands)
{
    std::optional<CSlotSelector> slot = operands.size() == 2 ? CSlotSelector::Parse(operands[0]) : std::nullopt;
    std::optional<CK_FLAGS> flags = slot ? CTokenSimState::ParseTokenFlagNames(operands[1]) : std::nullopt;
    if (!flags)
        return Usage("flags takes a slot and none or a list of flag names");
    control.SetTokenFlags(*slot, *flags);
    return kOk;
}

int CTokenSimCommand::SetSlotFlags(CTokenSimControl& control, const std::vector<std::string>& operands)
{
    std::optional<CSlotSelector> slot = operands.size() == 2 ? CSlotSelector::Parse(operands[0]) : std::nullopt;
    std::optional<CK_FLAGS> flags = slot ? CTokenSimState::ParseSlotFlagNames(operands[1]) : std::nullopt;
    if (!flags)
        return Usage("slot takes a slot and none, removable, hardware or removable,hardware");
    control.SetSlotFlags(*slot, *flags);
    return kOk;
}

int CTokenSimCommand::Usage(const std::string& problem)
{
    m_err << "tokensim: " << problem << "\n" << kUsageText;
    return kUsage;
}
