#include "CJsonListing.h"

#include "platform/CEscapedText.h"
#include "platform/CHexText.h"

#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::ordered_json;

Json Field(const std::string& text)
{
    return text.empty() ? Json(nullptr) : Json(text);
}

Json Record(const CertRecord& r, const std::string& now)
{
    return Json{
        {"issued", CJsonListing::IsoTime(r.strIssueDate)},
        {"expires", CJsonListing::IsoTime(r.strExpiryDate)},
        {"marked", r.nMark != 0},
        {"reason", Field(CJsonListing::Reason(r, now))},
        {"name", r.strDisplayName},
        {"id", CJsonListing::Hex(r.pId.get(), r.ulIdLen)},
        {"key", CJsonListing::KeyName(r.eCertKey)},
        {"use", CJsonListing::UseName(r.eUse)},
        {"issuer", r.strIssuer},
    };
}

Json PlanItem(const CRemovalPlan::SItem& item)
{
    using EKeys = CRemovalPlan::EKeys;
    Json keeper = nullptr;
    if (item.eKeys == EKeys::Kept && item.bKeeperRead)
        keeper = Json{{"name", item.strKeeperName},
                      {"issued", CJsonListing::IsoTime(item.strKeeperIssueDate)},
                      {"expires", CJsonListing::IsoTime(item.strKeeperExpiryDate)}};
    Json publicKey = nullptr;
    if (item.eKeys == EKeys::Goes)
        publicKey = CJsonListing::PublicKeyName(item.ePublicKey);
    return Json{
        {"issued", CJsonListing::IsoTime(item.strIssueDate)},
        {"expires", CJsonListing::IsoTime(item.strExpiryDate)},
        {"name", item.strDisplayName},
        {"id", item.strIdHex},
        {"expired", item.bExpired},
        {"superseded_by", item.bSuperseded ? Json(CJsonListing::IsoTime(item.strRenewalIssueDate)) : Json(nullptr)},
        {"keys", CRemovalPlan::KeysWord(item.eKeys)},
        {"keys_reason", item.eKeys == EKeys::Goes ? Json(nullptr) : Json(CRemovalPlan::KeysText(item))},
        {"kept_by", keeper},
        {"public_key", publicKey},
        {"decrypts", item.bCanDecrypt},
    };
}

// A listing cut short ends with one object that says so.
void EndIfCut(Json& array, const CertTable& table)
{
    if (!table.IsComplete())
        array.push_back(Json{{"complete", false},
                             {"certificate", table.nCount + 1},
                             {"found", table.nFound},
                             {"reason", table.strStopReason}});
}

// A flag of the token's slot; null when the slot's flags could not be read.
Json SlotFlag(const STokenIdentity& t, CK_FLAGS flag)
{
    return t.slotFlags ? Json((*t.slotFlags & flag) != 0) : Json(nullptr);
}

Json Token(const STokenIdentity& t)
{
    return Json{
        {"uri", t.strUri},
        {"label", t.strLabel},
        {"manufacturer", t.strManufacturer},
        {"model", t.strModel},
        {"serial", t.strSerial},
        {"initialised", t.bInitialized},
        {"pin_state", CJsonListing::PinState(t.ulFlags)},
        {"removable", SlotFlag(t, CKF_REMOVABLE_DEVICE)},
        {"hardware_slot", SlotFlag(t, CKF_HW_SLOT)},
        {"write_protected", (t.ulFlags & CKF_WRITE_PROTECTED) != 0},
    };
}

// A subject or a token's label is not bound to be valid UTF-8; its stray
// bytes become U+FFFD. C1 and bidi controls are written as escapes.
std::string Dump(const Json& array)
{
    return CEscapedText::OfJson(array.dump(2, ' ', false, Json::error_handler_t::replace)) + "\n";
}

}  // namespace

std::string CJsonListing::Render(const CertTable& table, const std::string& now)
{
    Json array = Json::array();
    for (CK_ULONG i = 0; i < table.nCount; ++i)
        array.push_back(Record(table.records[i], now));
    // The array stays an array of records for scripts.
    EndIfCut(array, table);
    return Dump(array);
}

std::string CJsonListing::RenderPlan(const CRemovalPlan& plan, const CertTable& table)
{
    Json array = Json::array();
    for (const CRemovalPlan::SItem& item : plan.Items())
        array.push_back(PlanItem(item));
    EndIfCut(array, table);
    return Dump(array);
}

std::string CJsonListing::RenderTokens(const std::vector<STokenIdentity>& tokens)
{
    Json array = Json::array();
    for (const STokenIdentity& t : tokens)
        array.push_back(Token(t));
    return Dump(array);
}

std::string CJsonListing::IsoTime(const std::string& d)
{
    if (d.size() != 14)
        return d;
    return d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2) + "T" + d.substr(8, 2) + ":" +
           d.substr(10, 2) + ":" + d.substr(12, 2) + "Z";
}

std::string CJsonListing::Hex(const unsigned char* bytes, CK_ULONG length)
{
    return CHexText::Lower(bytes, length);
}

// `now` is the instant the scan marked against: a marked record that had
// not expired then was superseded.
std::string CJsonListing::Reason(const CertRecord& record, const std::string& now)
{
    if (record.nMark == 0)
        return {};
    return now.compare(record.strExpiryDate) > 0 ? "expired" : "superseded";
}

std::string CJsonListing::KeyName(CCertificate::EKeyType key)
{
    switch (key) {
    case CCertificate::EKeyType::Rsa: return "rsa";
    case CCertificate::EKeyType::RsaPss: return "rsa-pss";
    case CCertificate::EKeyType::Ec: return "ec";
    case CCertificate::EKeyType::Ed25519: return "ed25519";
    case CCertificate::EKeyType::Ed448: return "ed448";
    case CCertificate::EKeyType::Other: break;
    }
    return "other";
}

std::string CJsonListing::UseName(CCertificate::EUse use)
{
    switch (use) {
    case CCertificate::EUse::Signing: return "signing";
    case CCertificate::EUse::Encryption: return "encryption";
    case CCertificate::EUse::General: break;
    }
    return "general";
}

std::string CJsonListing::PublicKeyName(CRemovalPlan::EPublicKey key)
{
    switch (key) {
    case CRemovalPlan::EPublicKey::Seen: return "seen";
    case CRemovalPlan::EPublicKey::NotSeen: return "unseen";
    case CRemovalPlan::EPublicKey::Unclear: break;
    }
    return "unclear";
}

std::vector<std::string> CJsonListing::PinState(CK_FLAGS flags)
{
    std::vector<std::string> words;
    for (const auto& [flag, word] : kPinStateFlags) {
        if (flags & flag)
            words.emplace_back(word);
    }
    return words;
}
