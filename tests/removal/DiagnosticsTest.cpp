#include "CRemovalTest.h"

#include "app/CQtTokenLog.h"

#include <QLoggingCategory>
#include <QtGlobal>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// What Qt's logging is given, as its default handler writes it.
std::vector<std::string>& Captured()
{
    static std::vector<std::string> lines;
    return lines;
}

// The warnings among them.
std::vector<std::string>& CapturedWarnings()
{
    static std::vector<std::string> lines;
    return lines;
}

void Capture(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    Captured().push_back(std::string(context.category != nullptr ? context.category : "") + ": " +
                         message.toStdString());
    if (type == QtWarningMsg)
        CapturedWarnings().push_back(Captured().back());
}

class DiagnosticsTest : public CRemovalTest {
protected:
    DiagnosticsTest() : m_previous(qInstallMessageHandler(Capture))
    {
        Captured().clear();
        CapturedWarnings().clear();
    }
    ~DiagnosticsTest() override { qInstallMessageHandler(m_previous); }

    static bool Logged(const std::string& line)
    {
        return std::find(Captured().begin(), Captured().end(), line) != Captured().end();
    }
    static std::size_t OurLines()
    {
        return std::count_if(Captured().begin(), Captured().end(),
                             [](const std::string& line) { return line.rfind("certpurge.", 0) == 0; });
    }
    static std::string All()
    {
        std::string all;
        for (const std::string& line : Captured())
            all += line + "\n";
        return all;
    }
    std::string SlotText() const { return std::to_string(Slot()); }

    QtMessageHandler m_previous;
};

}  // namespace

// Quiet by default; with --verbose each category says what it does: the
// failing call and its code, the list's records and why one is red, the
// monitor's events, the removal's steps. The PIN typed is never written.
TEST_F(DiagnosticsTest, VerboseTellsWhatEachPartDidButNeverThePin)
{
    m_bMonitor = true;
    AddStandardCerts();
    Sim().AddFault("C_OpenSession:1:CKR_TOKEN_NOT_RECOGNIZED");
    Start();
    ASSERT_EQ(m_prompts.Texts(), (std::vector<std::string>{Messages::kCommunicationFailed}));
    EXPECT_EQ(OurLines(), 0u) << All();

    CQtTokenLog::EnableDebug();  // what --verbose does
    Sim().AddFault("C_OpenSession:1:CKR_TOKEN_NOT_RECOGNIZED");
    Dlg().RefreshList();
    EXPECT_TRUE(Logged("certpurge.token: OpenSession: C_OpenSession on slot " + SlotText() +
                       " failed: CKR_TOKEN_NOT_RECOGNIZED")) << All();

    Dlg().RefreshList();
    EXPECT_TRUE(Logged("certpurge.list: id 01 'Exp's Acme ID' issued 20200101000000 expires 20210101000000, general, "
                       "issuer 'C=CN, O=Acme, CN=Exp': red")) << All();
    Sim().Remove(Slot());
    ASSERT_TRUE(WaitUntil([&] { return Rows().empty(); }));
    EXPECT_TRUE(Logged("certpurge.monitor: slot " + SlotText() + ": no token is present, handed to the window"))
        << All();
    Sim().Insert(Slot());
    ASSERT_TRUE(WaitUntil([&] { return Rows().size() == 4; }));

    m_prompts.SetPin("975310");
    Click();
    ASSERT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kPinIncorrect}));
    m_prompts.SetPin(testsupport::CSoftHsmToken::kUserPin);
    Click();
    ASSERT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    EXPECT_TRUE(Logged("certpurge.token: Login: C_Login on slot " + SlotText() + " failed: CKR_PIN_INCORRECT"))
        << All();
    EXPECT_TRUE(Logged("certpurge.removal: public keys under id 01: 1 found, 1 shown the certificate's, "
                       "0 another key's, 0 not telling; 1 taken")) << All();
    EXPECT_TRUE(Logged("certpurge.removal: certificate 'Exp' id 01 destroyed")) << All();
    EXPECT_TRUE(Logged("certpurge.removal: private key '' id 01 destroyed")) << All();
    for (const char* pin : {"975310", testsupport::CSoftHsmToken::kUserPin})
        EXPECT_EQ(All().find(pin), std::string::npos) << pin;
}

// Without --verbose, a removal stopped by the module leaves its trace in the
// journal: a refused destroy or search, a login refused other than for a
// wrong PIN. A wrong PIN is the user's, no warning.
TEST_F(DiagnosticsTest, RefusalsThatStopARemovalAreWarnings)
{
    struct SRefusal {
        const char* pszFault;
        const char* pszWarning;
    };
    const SRefusal refusals[] = {
        {"C_Login:*:CKR_DEVICE_ERROR", "certpurge.removal: the login (nothing deleted) refused: CKR_DEVICE_ERROR"},
        {"C_FindObjectsInit:3:CKR_DEVICE_ERROR",
         "certpurge.removal: the plan: the search for the public key of id 01 refused: CKR_DEVICE_ERROR"},
        {"C_FindObjectsInit:7:CKR_DEVICE_ERROR",
         "certpurge.removal: certificate id 01 'Exp's Acme ID': the search for its public key refused: CKR_DEVICE_ERROR"},
        {"C_DestroyObject:1:CKR_ACTION_PROHIBITED",
         "certpurge.removal: certificate id 01 'Exp's Acme ID': destroying its public key refused: "
         "CKR_ACTION_PROHIBITED"},
        {nullptr, nullptr},  // a wrong PIN
    };
    QLoggingCategory::setFilterRules(QString());  // as without --verbose
    AddStandardCerts();
    Start();
    for (const SRefusal& r : refusals) {
        CapturedWarnings().clear();
        Sim().ClearFaults();
        if (r.pszFault != nullptr)
            Sim().AddFault(r.pszFault);
        m_prompts.SetPin(r.pszFault != nullptr ? testsupport::CSoftHsmToken::kUserPin : "975310");
        Click();
        if (r.pszWarning != nullptr)
            EXPECT_EQ(CapturedWarnings(), std::vector<std::string>{r.pszWarning}) << r.pszFault;
        else
            EXPECT_TRUE(CapturedWarnings().empty()) << All();
        EXPECT_TRUE(AllThere(1));
    }
}
