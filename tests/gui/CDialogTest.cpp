#include "CDialogTest.h"

#include "platform/WinTypes.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

using testsupport::Bytes;
using testsupport::CTestCertificate;

namespace {

// The monitor's hand-overs run in this thread's event loop.
void RunEventsAndSleep()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
}

}  // namespace

CDialogTest::CDialogTest()
{
    setenv("XDG_DATA_HOME", m_dataHome.Path().c_str(), 1);
}

CDialogTest::~CDialogTest()
{
    m_pDlg.reset();
}

CCertPurgeDlg& CDialogTest::Start()
{
    m_pDlg = std::make_unique<CCertPurgeDlg>();
    m_pDlg->SetPrompts(&m_prompts);
    m_pDlg->SetClock(&m_clock);
    m_pDlg->SetStartsMonitor(m_bMonitor);
    if (m_monitorPause)
        m_pDlg->Follower().SetIdlePause(*m_monitorPause);
    if (!m_strModuleFile.empty())
        m_pDlg->SetModuleFile(m_strModuleFile);
    EXPECT_TRUE(m_pDlg->Create());
    return *m_pDlg;
}

void CDialogTest::AddCert(const std::string& cn, const std::string& notBefore, const std::string& notAfter,
                          const Bytes& id, bool withKeys, const std::string& org)
{
    Bytes publicKey;
    if (withKeys)
        publicKey = Token().GenerateKeyPair(id);
    else if (auto certified = m_certifiedKeys.find(id); certified != m_certifiedKeys.end())
        publicKey = certified->second;
    AddCertCarrying(cn, notBefore, notAfter, id, publicKey, org);
}

void CDialogTest::AddCertCarrying(const std::string& cn, const std::string& notBefore, const std::string& notAfter,
                                  const Bytes& id, const Bytes& publicKey, const std::string& org)
{
    // An empty key makes the certificate carry the test process's own.
    Token().ImportCertificate(CTestCertificate()
                                  .Add("C", "CN")
                                  .Add("O", org)
                                  .Add("CN", cn)
                                  .NotBefore(notBefore)
                                  .NotAfter(notAfter)
                                  .PublicKey(publicKey)
                                  .Der(),
                              id, cn);
    if (!publicKey.empty())
        m_certifiedKeys[id] = publicKey;
}

std::vector<CDialogTest::SRow> CDialogTest::Rows() const
{
    std::vector<SRow> rows;
    const CListCtrlCl& list = m_pDlg->List();
    for (int i = 0; i < list.GetItemCount(); ++i) {
        SRow row{list.GetItemText(i, 0), list.GetItemText(i, 1), list.GetItemText(i, 2), false};
        int red = 0;
        for (int col = 0; col < 3; ++col)
            red += list.CellTextColor(col, i) == RGB(255, 0, 0) ? 1 : 0;
        EXPECT_TRUE(red == 0 || red == 3) << "row " << i << " is partly red";
        row.bRed = red == 3;
        rows.push_back(row);
    }
    return rows;
}

std::vector<std::string> CDialogTest::RedNames() const
{
    std::vector<std::string> names;
    for (const SRow& row : Rows()) {
        if (row.bRed)
            names.push_back(row.name);
    }
    return names;
}

bool CDialogTest::WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds base)
{
    return testsupport::WaitUntil(done, base, RunEventsAndSleep);
}

void CDialogTest::Pump(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    do
        RunEventsAndSleep();
    while (timer.elapsed() < milliseconds);
}
