#pragma once

#include "CScriptedPrompts.h"
#include "CSimulatedToken.h"
#include "CTempDir.h"
#include "WaitUntil.h"
#include "app/CCertPurgeDlg.h"
#include "platform/CFixedClock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <optional>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// A test of the main dialog against a SoftHSM2 token behind the token
// simulator, with prompts that answer themselves and the clock standing
// at kNow. The dialog finds the simulator as "qemva_11.dll" beside the
// test program.
class CDialogTest : public ::testing::Test {
protected:
    // 2030-06-15 12:00:00 UTC
    static constexpr std::time_t kNow = 1907755200;

    struct SRow {
        std::string issue;
        std::string expiry;
        std::string name;
        bool bRed = false;
        bool operator==(const SRow&) const = default;
    };

    CDialogTest();
    ~CDialogTest() override;

    // Creates the dialog: its start-up loads the module, fills the list and,
    // where m_bMonitor is set, starts the monitor. Tests that do not follow
    // the token leave it out, so that nothing runs beside them.
    CCertPurgeDlg& Start();
    CCertPurgeDlg& Dlg() { return *m_pDlg; }
    void Close() { m_pDlg.reset(); }

    // A certificate "C=CN, O=org, CN=cn" (display name "cn's org ID"). With
    // keys, an RSA key pair is made on the token under the same CKA_ID and
    // the certificate carries its public key. Without, it carries the key
    // certified last under that ID (a renewal that kept its key pair), or a
    // key of the test process's when there is none.
    void AddCert(const std::string& cn, const std::string& notBefore, const std::string& notAfter,
                 const testsupport::Bytes& id, bool withKeys = true, const std::string& org = "Acme");
    // A certificate as above carrying this public key, say of a key pair
    // made on the token.
    void AddCertCarrying(const std::string& cn, const std::string& notBefore, const std::string& notAfter,
                         const testsupport::Bytes& id, const testsupport::Bytes& publicKey,
                         const std::string& org = "Acme");

    std::vector<SRow> Rows() const;
    // The display names of the rows drawn red.
    std::vector<std::string> RedNames() const;

    // Lets the event loop run (the monitor's hand-overs among others)
    // until `done` holds, or false when it does not within `base`
    // stretched by CERTPURGE_TIME_SLACK.
    static bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds base = testsupport::kPatience);
    // Lets the event loop run for this long, and at least once.
    static void Pump(int milliseconds);

    CK_SLOT_ID Slot() const { return m_sim.Slot(); }
    CTokenSimControl& Sim() { return m_sim.Control(); }
    const CTokenSimTrace& Trace() const { return m_sim.Trace(); }
    testsupport::CSoftHsmToken& Token() { return m_sim.SoftHsm(); }

    testsupport::CSimulatedToken m_sim;
    // The user's data folder, where removals keep what they delete.
    testsupport::CTempDir m_dataHome;
    CScriptedPrompts m_prompts;
    CFixedClock m_clock{kNow};
    std::unique_ptr<CCertPurgeDlg> m_pDlg;
    bool m_bMonitor = false;
    // The monitor's pause after an empty poll, when not its own.
    std::optional<std::chrono::milliseconds> m_monitorPause;
    // The module the dialog loads, when not the file beside the test program.
    std::string m_strModuleFile;
    // The public key certified last under each CKA_ID.
    std::map<testsupport::Bytes, testsupport::Bytes> m_certifiedKeys;
};
