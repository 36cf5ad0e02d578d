// certpurge-list: prints the token's certificate table in the window's
// order, one line a record (issue date, expiry date, mark and display name,
// tab-separated) or as one JSON array; or what a removal would delete; or
// the tokens present. Read-only, and never logs in.

#include "CJsonListing.h"
#include "CListCommandLine.h"
#include "CStderrLog.h"
#include "token/CLoadFailure.h"
#include "token/CModuleChoice.h"
#include "token/CTokenChoice.h"
#include "inventory/BuildCertTable.h"
#include "inventory/CRemovalPlan.h"
#include "inventory/InventoryMessages.h"
#include "inventory/ScanToken.h"
#include "platform/CEscapedText.h"
#include "platform/CFixedClock.h"
#include "res/VersionInfo.h"

#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

enum ExitStatus { kRead = 0, kFailure = 1, kUsage = 2, kNoToken = 3, kIncomplete = 4 };

int Fail(const char* message, const std::string& detail = {})
{
    std::fprintf(stderr, "%s\n", message);
    if (!detail.empty())
        std::fprintf(stderr, "certpurge-list: %s\n", detail.c_str());
    return kFailure;
}

// The window's message, each file tried with its reason, and what to do.
int FailToLoad(const std::vector<CModuleChoice::SAttempt>& attempts)
{
    std::fprintf(stderr, "%s\n", Messages::kLoadModuleFailed);
    for (const CModuleChoice::SAttempt& attempt : attempts)
        std::fprintf(stderr, "certpurge-list: %s\n", CLoadFailure::Line(attempt, attempts.size() > 1).c_str());
    std::fprintf(stderr, "certpurge-list: %s\n", CLoadFailure::Hint(attempts).c_str());
    return kFailure;
}

int Usage(const std::string& problem)
{
    std::fprintf(stderr, "certpurge-list: %s\n%s\n", problem.c_str(), CListCommandLine::kUsage);
    return kUsage;
}

void Print(const CertTable& table)
{
    for (CK_ULONG i = 0; i < table.nCount; ++i) {
        const CertRecord& r = table.records[i];
        std::printf("%s\t%s\t%d\t%s\n", r.strIssueDate.c_str(), r.strExpiryDate.c_str(), r.nMark,
                    CEscapedText::Of(r.strDisplayName).c_str());
    }
}

// Why a certificate is red: "expired", "superseded", or both.
std::string RedField(const CRemovalPlan::SItem& item)
{
    if (item.bExpired && item.bSuperseded)
        return "expired,superseded";
    return item.bExpired ? "expired" : "superseded";
}

void PrintPlan(const CRemovalPlan& plan)
{
    for (const CRemovalPlan::SItem& item : plan.Items()) {
        std::printf("%s\t%s\t%s\t%s\t%s\t%s\t%s\n", item.strIssueDate.c_str(), item.strExpiryDate.c_str(),
                    RedField(item).c_str(), CRemovalPlan::KeysWord(item.eKeys), item.bCanDecrypt ? "true" : "false",
                    CEscapedText::Of(item.strDisplayName).c_str(),
                    CEscapedText::Of(CRemovalPlan::KeysText(item)).c_str());
    }
}

// The table, or what a removal would delete from it, as asked; false when
// the token would not say what the plan needs.
bool PrintTable(CTokenModule& module, const CListCommandLine& options, const CertTable& table, const CClock& clock)
{
    const bool bJson = options.Format() == CListCommandLine::EFormat::Json;
    if (!options.Plan()) {
        if (bJson)
            std::fputs(CJsonListing::Render(table, MakeDateString(clock.GetSystemTime())).c_str(), stdout);
        else
            Print(table);
        return true;
    }
    // A token that takes no change loses nothing to a removal.
    CRemovalPlan plan;
    std::optional<STokenIdentity> listed = module.ListedToken();
    if (listed && (listed->ulFlags & CKF_WRITE_PROTECTED)) {
        std::fputs("certpurge-list: the token is write-protected: a removal deletes nothing from it\n", stderr);
    } else if (plan.Read(module, table) != CKR_OK) {
        // The refusal is told by the plan's warning, naming the search and the ID.
        Fail(Messages::kFindCertificatesFailed);
        return false;
    }
    if (bJson)
        std::fputs(CJsonListing::RenderPlan(plan, table).c_str(), stdout);
    else
        PrintPlan(plan);
    return true;
}

// What a token says of its user PIN, and a keypad: "pin-locked,keypad",
// or "-" when nothing is to be said.
std::string PinStateField(CK_FLAGS flags)
{
    std::string field;
    for (const std::string& word : CJsonListing::PinState(flags))
        field += (field.empty() ? "" : ",") + word;
    return field.empty() ? "-" : field;
}

// Whether a slot flag is set: `set` or `clear`, or "-" when the slot's
// flags could not be read.
const char* SlotFlagField(const STokenIdentity& token, CK_FLAGS flag, const char* set, const char* clear)
{
    if (!token.slotFlags)
        return "-";
    return (*token.slotFlags & flag) != 0 ? set : clear;
}

// Columns are only ever added at the end, so that scripts reading the
// first ones keep working.
void PrintTokens(const std::vector<STokenIdentity>& tokens)
{
    for (const STokenIdentity& t : tokens) {
        std::string line;
        for (const std::string* field : {&t.strUri, &t.strLabel, &t.strManufacturer, &t.strModel, &t.strSerial})
            line += CEscapedText::Of(*field) + "\t";
        std::printf("%s%s\t%s\t%s\t%s\t%s\n", line.c_str(), t.bInitialized ? "initialised" : "uninitialised",
                    PinStateField(t.ulFlags).c_str(), SlotFlagField(t, CKF_REMOVABLE_DEVICE, "removable", "fixed"),
                    SlotFlagField(t, CKF_HW_SLOT, "hardware", "software"),
                    (t.ulFlags & CKF_WRITE_PROTECTED) != 0 ? "write-protected" : "writable");
    }
}

// The tokens present, of the URI's attributes where one is given.
int ListTokens(CTokenModule& module, const CListCommandLine& options, const CTokenChoice& choice)
{
    std::vector<STokenIdentity> tokens;
    if (module.ListTokens(choice, tokens) != CKR_OK)
        return Fail(Messages::kInsertToken);
    if (tokens.empty())
        return kNoToken;
    if (options.Format() == CListCommandLine::EFormat::Json)
        std::fputs(CJsonListing::RenderTokens(tokens).c_str(), stdout);
    else
        PrintTokens(tokens);
    return std::fflush(stdout) == 0 ? kRead : kFailure;
}

// A token asked for and not there is said: a mistyped URI must not look
// like a token pulled out. With none asked for, the status says it all.
int NoTokenMatches(const CTokenChoice& choice)
{
    if (choice.IsGiven())
        std::fprintf(stderr, "certpurge-list: no token to list matches %s (--list-tokens lists the tokens present)\n",
                     CEscapedText::Of(choice.Text()).c_str());
    return kNoToken;
}

// Several tokens could have been meant: say which one is listed.
void NoteListedToken(const CTokenModule& module, const CTokenChoice& choice)
{
    std::optional<STokenIdentity> listed = module.ListedToken();
    if (choice.IsGiven() || module.SlotCount() < 2 || !listed)
        return;
    std::fprintf(stderr, "certpurge-list: %lu tokens present, listing %s (choose one with --token)\n",
                 static_cast<unsigned long>(module.SlotCount()), CEscapedText::Of(listed->strUri).c_str());
}

int List(const CListCommandLine& options, const CTokenChoice& choice)
{
    CTokenModule module;
    module.SetLog(CTokenLog(std::make_shared<CStderrLog>(options.Verbose())));
    CModuleChoice modules;
    if (!modules.Load(module, CModuleChoice::Resolve(options.Module())))
        return FailToLoad(modules.Attempts());
    const std::string& moduleFile = modules.LoadedFile();
    if (options.ListTokens())
        return ListTokens(module, options, choice);
    module.SetTokenChoice(choice);

    // One instant for the marks and the reasons given for them.
    const CFixedClock clock(std::time(nullptr));
    CertTable table;
    ScanResult result = ScanToken(module, moduleFile.c_str(), table, clock);
    NoteListedToken(module, choice);
    if (const char* message = ScanFailureMessage(result))
        return Fail(message);
    if (result == ScanResult::NoToken)
        return NoTokenMatches(choice);
    const bool bPrinted = PrintTable(module, options, table, clock);
    module.Close();
    if (!bPrinted || std::fflush(stdout) != 0)
        return kFailure;
    // The scan's warning has said on standard error where and why it stopped.
    return table.IsComplete() ? kRead : kIncomplete;
}

}  // namespace

int main(int argc, char** argv)
{
    CListCommandLine options;
    switch (options.Parse(std::vector<std::string>(argv + 1, argv + argc))) {
    case CListCommandLine::EAction::Usage: return Usage(options.Problem());
    case CListCommandLine::EAction::Help: std::fputs(CListCommandLine::HelpText().c_str(), stdout); return kRead;
    case CListCommandLine::EAction::Version: std::printf("certpurge-list %s\n", VersionInfo::kFileVersion); return kRead;
    case CListCommandLine::EAction::List: break;
    }
    std::string problem;
    std::optional<CTokenChoice> choice = CTokenChoice::Resolve(options.Token(), problem);
    if (!choice)
        return Usage(problem);
    return List(options, *choice);
}
