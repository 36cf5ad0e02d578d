// certpurge-list: prints the token's certificate table, one line a record:
// issue date, expiry date, mark and display name, tab-separated, in the
// window's order. Read-only; takes no options, like the window.

#include "inventory/ScanToken.h"
#include "res/Messages.h"

#include <cstdio>
#include <string>

namespace {

constexpr const char* kModuleName = "qemva_11.dll";

// One record, one line, and nothing a terminal would act on: a subject may
// carry escape sequences meant for whoever lists the token.
std::string Escape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default:
            if (byte < 0x20 || byte == 0x7F) {
                char hex[5];
                std::snprintf(hex, sizeof hex, "\\x%02X", byte);
                out += hex;
            } else {
                out += c;
            }
        }
    }
    return out;
}

int Fail(const char* message, const std::string& detail = {})
{
    std::fprintf(stderr, "%s\n", message);
    if (!detail.empty())
        std::fprintf(stderr, "certpurge-list: %s\n", detail.c_str());
    return 1;
}

const char* MessageFor(ScanResult result)
{
    switch (result) {
    case ScanResult::LoadFailed: return Messages::kReloadModuleFailed;
    case ScanResult::SlotListFailed: return Messages::kInsertToken;
    case ScanResult::SessionFailed: return Messages::kCommunicationFailed;
    case ScanResult::FindFailed: return Messages::kFindCertificatesFailed;
    case ScanResult::Scanned:
    case ScanResult::NoToken:
    case ScanResult::NoCertificates: break;
    }
    return nullptr;
}

void Print(const CertTable& table)
{
    for (CK_ULONG i = 0; i < table.nCount; ++i) {
        const CertRecord& r = table.records[i];
        std::printf("%s\t%s\t%d\t%s\n", r.strIssueDate.c_str(), r.strExpiryDate.c_str(), r.nMark,
                    Escape(r.strDisplayName).c_str());
    }
}

}  // namespace

int main()
{
    CTokenModule module;
    if (module.Load(kModuleName) != CKR_OK)
        return Fail(Messages::kLoadModuleFailed, module.LastLoadError());

    CertTable table;
    ScanResult result = ScanToken(module, kModuleName, table);
    if (const char* message = MessageFor(result))
        return Fail(message);
    Print(table);
    module.Close();
    return std::fflush(stdout) == 0 ? 0 : 1;
}
