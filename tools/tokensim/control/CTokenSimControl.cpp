#include "CTokenSimControl.h"

#include "CFileLock.h"
#include "CTextFile.h"

#include <stdexcept>

CTokenSimControl::CTokenSimControl(std::string statePath) : m_strPath(std::move(statePath))
{
    if (m_strPath.empty())
        throw std::invalid_argument("no state file given");
}

void CTokenSimControl::Insert(const CSlotSelector& slots)
{
    Modify([&](CTokenSimState& s) { s.SetPresence(slots, true); });
}

void CTokenSimControl::Remove(const CSlotSelector& slots)
{
    Modify([&](CTokenSimState& s) { s.SetPresence(slots, false); });
}

void CTokenSimControl::AddFault(const CFaultRule& rule)
{
    Modify([&](CTokenSimState& s) { s.AddRule(rule); });
}

void CTokenSimControl::AddFault(std::string_view rule)
{
    std::optional<CFaultRule> parsed = CFaultRule::Parse(rule);
    if (!parsed)
        throw std::invalid_argument("not a fault rule: " + std::string(rule));
    AddFault(*parsed);
}

void CTokenSimControl::ClearFaults()
{
    Modify([](CTokenSimState& s) { s.ClearRules(); });
}

void CTokenSimControl::Clear()
{
    Modify([](CTokenSimState& s) { s.Reset(); });
}

void CTokenSimControl::SetMode(ETokenSimMode mode)
{
    Modify([&](CTokenSimState& s) { s.SetMode(mode); });
}

void CTokenSimControl::SetFindOrder(ETokenSimFindOrder order)
{
    Modify([&](CTokenSimState& s) { s.SetFindOrder(order); });
}

void CTokenSimControl::SetTokenFlags(const CSlotSelector& slots, CK_FLAGS flags)
{
    Modify([&](CTokenSimState& s) { s.SetTokenFlags(slots, flags); });
}

void CTokenSimControl::SetSlotFlags(const CSlotSelector& slots, CK_FLAGS flags)
{
    Modify([&](CTokenSimState& s) { s.SetSlotFlags(slots, flags); });
}

void CTokenSimControl::EnterOnKeypad(const std::string& pin)
{
    Modify([&](CTokenSimState& s) { s.EnterOnKeypad(pin); });
}

CTokenSimState CTokenSimControl::State() const
{
    std::optional<std::string> text = CTextFile::Read(m_strPath);
    if (!text)
        return CTokenSimState{};
    std::optional<CTokenSimState> state = CTokenSimState::Parse(*text);
    if (!state)
        throw std::runtime_error(m_strPath + " is not a tokensim state file");
    return *state;
}

void CTokenSimControl::Modify(const std::function<void(CTokenSimState&)>& change)
{
    CFileLock lock(m_strPath + ".lock");
    CTokenSimState state = State();
    change(state);
    CTextFile::Replace(m_strPath, state.Serialize());
}
