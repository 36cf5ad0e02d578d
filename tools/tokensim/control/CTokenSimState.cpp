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
    {ETokenSimMode::NoBlockingWait, "no-blocking-wait"},
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

struct SFlagName {
    CK_FLAGS flag;
    const char* name;
};

constexpr SFlagName kTokenFlagNames[] = {
    {CKF_USER_PIN_COUNT_LOW, "user-pin-count-low"},
    {CKF_USER_PIN_FINAL_TRY, "user-pin-final-try"},
    {CKF_USER_PIN_LOCKED, "user-pin-locked"},
    {CKF_PROTECTED_AUTHENTICATION_PATH, "protected-authentication-path"},
    {CKF_WRITE_PROTECTED, "write-protected"},
};

constexpr SFlagName kSlotFlagNames[] = {
    {CKF_REMOVABLE_DEVICE, "removable"},
    {CKF_HW_SLOT, "hardware"},
};

template <std::size_t N>
std::string FlagNames(const SFlagName (&names)[N], CK_FLAGS flags)
{
    std::string text;
    for (const SFlagName& n : names) {
        if (flags & n.flag)
            text += (text.empty() ? "" : ",") + std::string(n.name);
    }
    return text.empty() ? "none" : text;
}

template <std::size_t N>
std::optional<CK_FLAGS> ParseFlagNames(const SFlagName (&names)[N], std::string_view text)
{
    if (text == "none")
        return CK_FLAGS{0};
    CK_FLAGS flags = 0;
    while (!text.empty()) {
        std::string_view name = text.substr(0, text.find(','));
        text.remove_prefix(std::min(text.size(), name.size() + 1));
        auto it = std::find_if(std::begin(names), std::end(names), [&](const SFlagName& n) { return name == n.name; });
        if (it == std::end(names))
            return std::nullopt;
        flags |= it->flag;
    }
    return flags;
}

// A setting for some slots: a later one wins, and "all" replaces every earlier one.
template <typename Setting>
void SetForSlots(std::vector<Setting>& settings, const CSlotSelector& slot, CK_FLAGS flags)
{
    if (slot.Kind() == CSlotSelector::EKind::All)
        settings.clear();
    else
        std::erase_if(settings, [&](const Setting& s) { return s.slot == slot; });
    settings.push_back({slot, flags});
}

template <typename Setting>
const Setting* SettingFor(const std::vector<Setting>& settings, CK_SLOT_ID id, std::size_t index)
{
    for (auto it = settings.rbegin(); it != settings.rend(); ++it) {
        if (it->slot.Matches(id, index))
            return &*it;
    }
    return nullptr;
}

// "flags SLOT NAMES" and "slot-flags SLOT NAMES" lines.
template <typename Setting, std::size_t N>
bool ReadFlagsLine(std::istream& in, const SFlagName (&names)[N], std::vector<Setting>& settings)
{
    std::string slot;
    std::string text;
    std::optional<CSlotSelector> selector = in >> slot >> text ? CSlotSelector::Parse(slot) : std::nullopt;
    std::optional<CK_FLAGS> flags = ParseFlagNames(names, text);
    if (selector && flags)
        settings.push_back({*selector, *flags});
    return selector && flags;
}

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
    SetForSlots(m_tokenFlags, slot, flags);
}

CK_FLAGS CTokenSimState::TokenFlags(CK_SLOT_ID id, std::size_t index) const
{
    const STokenFlags* setting = SettingFor(m_tokenFlags, id, index);
    return setting != nullptr ? setting->flags : 0;
}

std::string CTokenSimState::TokenFlagNames(CK_FLAGS flags)
{
    return FlagNames(kTokenFlagNames, flags);
}

std::optional<CK_FLAGS> CTokenSimState::ParseTokenFlagNames(std::string_view names)
{
    return ParseFlagNames(kTokenFlagNames, names);
}

void CTokenSimState::SetSlotFlags(const CSlotSelector& slot, CK_FLAGS flags)
{
    SetForSlots(m_slotFlags, slot, flags & kSlotKindFlags);
}

std::optional<CK_FLAGS> CTokenSimState::SlotFlags(CK_SLOT_ID id, std::size_t index) const
{
    const SSlotFlags* setting = SettingFor(m_slotFlags, id, index);
    return setting != nullptr ? std::optional<CK_FLAGS>(setting->flags) : std::nullopt;
}

std::string CTokenSimState::SlotFlagNames(CK_FLAGS flags)
{
    return FlagNames(kSlotFlagNames, flags);
}

std::optional<CK_FLAGS> CTokenSimState::ParseSlotFlagNames(std::string_view names)
{
    return ParseFlagNames(kSlotFlagNames, names);
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
    m_slotFlags.clear();
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
    for (const SSlotFlags& f : m_slotFlags)
        out << "slot-flags " << f.slot.Text() << " " << SlotFlagNames(f.flags) << "\n";
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
    if (key == "flags")
        return ReadFlagsLine(in, kTokenFlagNames, m_tokenFlags);
    if (key == "slot-flags")
        return ReadFlagsLine(in, kSlotFlagNames, m_slotFlags);
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
    for (const SSlotFlags& f : m_slotFlags)
        out << "slot flags: " << f.slot.Text() << " " << SlotFlagNames(f.flags) << "\n";
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
