#include "CTokenSimState.h"

#include <algorithm>
#include <random>
#include <sstream>

namespace {

constexpr const char* kHeader = "tokensim-state 1";
constexpr const char* kEnd = "end";

template <typename Enum>
struct SEnumName {
    Enum value;
    const char* name;
};

constexpr SEnumName<ETokenSimMode> kModes[] = {
    {ETokenSimMode::Normal, "normal"},
    {ETokenSimMode::NoWait, "no-wait"},
    {ETokenSimMode::EventsAtInit, "events-at-init"},
    {ETokenSimMode::SlowPoll, "slow-poll"},
    {ETokenSimMode::BlockingWait, "blocking-wait"},
    {ETokenSimMode::EventEveryPoll, "event-every-poll"},
};

constexpr SEnumName<ETokenSimFindOrder> kFindOrders[] = {
    {ETokenSimFindOrder::Module, "module"},
    {ETokenSimFindOrder::Label, "label"},
};

// A value not in the table gets the first name, the default.
template <typename Enum, std::size_t N>
std::string NameOf(const SEnumName<Enum> (&names)[N], Enum value)
{
    for (const SEnumName<Enum>& n : names) {
        if (n.value == value)
            return n.name;
    }
    return names[0].name;
}

template <typename Enum, std::size_t N>
std::optional<Enum> ValueOf(const SEnumName<Enum> (&names)[N], std::string_view name)
{
    for (const SEnumName<Enum>& n : names) {
        if (name == n.name)
            return n.value;
    }
    return std::nullopt;
}

struct STokenFlagName {
    CK_FLAGS flag;
    const char* name;
};

constexpr STokenFlagName kTokenFlagNames[] = {
    {CKF_USER_PIN_COUNT_LOW, "user-pin-count-low"},
    {CKF_USER_PIN_FINAL_TRY, "user-pin-final-try"},
    {CKF_USER_PIN_LOCKED, "user-pin-locked"},
    {CKF_PROTECTED_AUTHENTICATION_PATH, "protected-authentication-path"},
    {CKF_WRITE_PROTECTED, "write-protected"},
};

const char* PresenceWord(bool present)
{
    return present ? "present" : "absent";
}

std::optional<bool> ParsePresence(const std::string& word)
{
    if (word == "present")
        return true;
    if (word == "absent")
        return false;
    return std::nullopt;
}

std::optional<SPresence> ReadPresence(std::istream& in)
{
    std::string slot;
    std::string word;
    if (!(in >> slot >> word))
        return std::nullopt;
    std::optional<CSlotSelector> selector = CSlotSelector::Parse(slot);
    std::optional<bool> present = ParsePresence(word);
    if (!selector || !present)
        return std::nullopt;
    return SPresence{*selector, *present};
}

}  // namespace

void CTokenSimState::SetPresence(const CSlotSelector& slot, bool present)
{
    if (slot.Kind() == CSlotSelector::EKind::All) {
        m_bDefaultPresent = present;
        m_overrides.clear();
    } else {
        std::erase_if(m_overrides, [&](const SPresence& p) { return p.slot == slot; });
        m_overrides.push_back({slot, present});
    }
    m_changes.push_back({++m_seq, {slot, present}});
    while (m_changes.size() > kMaxChanges)
        m_changes.pop_front();
}

bool CTokenSimState::IsPresent(CK_SLOT_ID id, std::size_t index) const
{
    for (auto it = m_overrides.rbegin(); it != m_overrides.rend(); ++it) {
        if (it->slot.Matches(id, index))
            return it->present;
    }
    return m_bDefaultPresent;
}

void CTokenSimState::AddRule(CFaultRule rule)
{
    if (rule.Id() == 0) {
        std::random_device random;
        std::uint64_t id = (std::uint64_t{random()} << 32) | random();
        rule.SetId(id == 0 ? 1 : id);
    }
    m_rules.push_back(std::move(rule));
}

std::string CTokenSimState::ModeName(ETokenSimMode mode)
{
    return NameOf(kModes, mode);
}

std::optional<ETokenSimMode> CTokenSimState::ParseMode(std::string_view name)
{
    return ValueOf(kModes, name);
}

std::string CTokenSimState::FindOrderName(ETokenSimFindOrder order)
{
    return NameOf(kFindOrders, order);
}

std::optional<ETokenSimFindOrder> CTokenSimState::ParseFindOrder(std::string_view name)
{
    return ValueOf(kFindOrders, name);
}

void CTokenSimState::SetTokenFlags(const CSlotSelector& slot, CK_FLAGS flags)
{
    if (slot.Kind() == CSlotSelector::EKind::All)
        m_tokenFlags.clear();
    else
        std::erase_if(m_tokenFlags, [&](const STokenFlags& f) { return f.slot == slot; });
    m_tokenFlags.push_back({slot, flags});
}

CK_FLAGS CTokenSimState::TokenFlags(CK_SLOT_ID id, std::size_t index) const
{
    for (auto it = m_tokenFlags.rbegin(); it != m_tokenFlags.rend(); ++it) {
        if (it->slot.Matches(id, index))
            return it->flags;
    }
    return 0;
}

std::string CTokenSimState::TokenFlagNames(CK_FLAGS flags)
{
    std::string names;
    for (const STokenFlagName& n : kTokenFlagNames) {
        if (flags & n.flag)
            names += (names.empty() ? "" : ",") + std::string(n.name);
    }
    return names.empty() ? "none" : names;
}

std::optional<CK_FLAGS> CTokenSimState::ParseTokenFlagNames(std::string_view names)
{
    if (names == "none")
        return CK_FLAGS{0};
    CK_FLAGS flags = 0;
    while (!names.empty()) {
        std::string_view name = names.substr(0, names.find(','));
        names.remove_prefix(std::min(names.size(), name.size() + 1));
        auto it = std::find_if(std::begin(kTokenFlagNames), std::end(kTokenFlagNames),
                               [&](const STokenFlagName& n) { return name == n.name; });
        if (it == std::end(kTokenFlagNames))
            return std::nullopt;
        flags |= it->flag;
    }
    return flags;
}

void CTokenSimState::EnterOnKeypad(std::string pin)
{
    ++m_keypadEntries;
    m_strKeypadPin = std::move(pin);
}

void CTokenSimState::Reset()
{
    SetPresence(CSlotSelector::All(), true);
    m_tokenFlags.clear();
    m_rules.clear();
    m_mode = ETokenSimMode::Normal;
    m_findOrder = ETokenSimFindOrder::Module;
}

std::string CTokenSimState::Serialize() const
{
    std::ostringstream out;
    out << kHeader << "\n"
        << "mode " << ModeName(m_mode) << "\n"
        << "order " << FindOrderName(m_findOrder) << "\n"
        << "default " << PresenceWord(m_bDefaultPresent) << "\n"
        << "sequence " << m_seq << "\n";
    for (const SPresence& p : m_overrides)
        out << "presence " << p.slot.Text() << " " << PresenceWord(p.present) << "\n";
    for (const SPresenceChange& c : m_changes)
        out << "change " << c.seq << " " << c.presence.slot.Text() << " " << PresenceWord(c.presence.present) << "\n";
    for (const CFaultRule& r : m_rules)
        out << "rule " << std::hex << r.Id() << std::dec << " " << r.Text() << "\n";
    for (const STokenFlags& f : m_tokenFlags)
        out << "flags " << f.slot.Text() << " " << TokenFlagNames(f.flags) << "\n";
    if (m_keypadEntries != 0)
        out << "keypad " << m_keypadEntries << " " << m_strKeypadPin << "\n";
    out << kEnd << "\n";
    return out.str();
}

std::optional<CTokenSimState> CTokenSimState::Parse(const std::string& text)
{
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kHeader)
        return std::nullopt;
    CTokenSimState state;
    while (std::getline(in, line)) {
        if (line == kEnd)
            return state;
        if (!state.ParseLine(line))
            return std::nullopt;
    }
    // No end line: the file was cut short.
    return std::nullopt;
}

bool CTokenSimState::ParseLine(const std::string& line)
{
    std::istringstream in(line);
    std::string key;
    in >> key;
    if (key == "mode") {
        std::string name;
        std::optional<ETokenSimMode> mode = in >> name ? ParseMode(name) : std::nullopt;
        m_mode = mode.value_or(ETokenSimMode::Normal);
        return mode.has_value();
    }
    if (key == "order") {
        std::string name;
        std::optional<ETokenSimFindOrder> order = in >> name ? ParseFindOrder(name) : std::nullopt;
        m_findOrder = order.value_or(ETokenSimFindOrder::Module);
        return order.has_value();
    }
    if (key == "default") {
        std::string word;
        std::optional<bool> present = in >> word ? ParsePresence(word) : std::nullopt;
        m_bDefaultPresent = present.value_or(true);
        return present.has_value();
    }
    if (key == "sequence")
        return static_cast<bool>(in >> m_seq);
    if (key == "presence") {
        std::optional<SPresence> p = ReadPresence(in);
        if (p)
            m_overrides.push_back(*p);
        return p.has_value();
    }
    if (key == "change") {
        std::uint64_t seq = 0;
        std::optional<SPresence> p = in >> seq ? ReadPresence(in) : std::nullopt;
        if (p)
            m_changes.push_back({seq, *p});
        return p.has_value();
    }
    if (key == "rule") {
        std::uint64_t id = 0;
        std::string text;
        std::optional<CFaultRule> rule = in >> std::hex >> id >> text ? CFaultRule::Parse(text) : std::nullopt;
        if (rule) {
            rule->SetId(id);
            m_rules.push_back(*rule);
        }
        return rule.has_value() && id != 0;
    }
    if (key == "flags") {
        std::string slot;
        std::string names;
        std::optional<CSlotSelector> selector = in >> slot >> names ? CSlotSelector::Parse(slot) : std::nullopt;
        std::optional<CK_FLAGS> flags = ParseTokenFlagNames(names);
        if (selector && flags)
            m_tokenFlags.push_back({*selector, *flags});
        return selector && flags;
    }
    if (key == "keypad")
        return static_cast<bool>(in >> m_keypadEntries >> m_strKeypadPin);
    return false;
}

std::string CTokenSimState::Describe() const
{
    std::ostringstream out;
    out << "mode: " << ModeName(m_mode) << "\n"
        << "order: " << FindOrderName(m_findOrder) << "\n"
        << "tokens: " << DescribePresence() << "\n"
        << "changes: " << m_seq << "\n"
        << "faults:" << (m_rules.empty() ? " none" : "") << "\n";
    for (const CFaultRule& r : m_rules)
        out << "  " << r.Text() << "\n";
    for (const STokenFlags& f : m_tokenFlags)
        out << "token flags: " << f.slot.Text() << " " << TokenFlagNames(f.flags) << "\n";
    if (m_keypadEntries != 0)
        out << "keypad entries: " << m_keypadEntries << "\n";
    return out.str();
}

std::string CTokenSimState::DescribePresence() const
{
    std::string text = std::string("all ") + PresenceWord(m_bDefaultPresent);
    for (const SPresence& p : m_overrides)
        text += std::string(", ") + p.slot.Text() + " " + PresenceWord(p.present);
    return text;
}
