#include "app/CCertPurgeDlg.h"

#include "app/AppMessages.h"
#include "app/CAboutDlg.h"
#include "app/CQtTokenLog.h"
#include "app/CertListView.h"
#include "inventory/InventoryMessages.h"
#include "inventory/ScanToken.h"
#include "platform/CEscapedText.h"
#include "platform/CMessageBox.h"
#include "platform/CWaitCursor.h"
#include "removal/CExpiredRemoval.h"
#include "res/AppIcon.h"
#include "res/DialogTemplates.h"
#include "res/StringTable.h"
#include "res/resource.h"
#include "token/CLoadFailure.h"
#include "token/TokenMessages.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QMenu>
#include <QPainter>
#include <QShortcut>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>

namespace {

struct ColumnSpec {
    const char* pszHeading;
    int nWidth;
};

constexpr ColumnSpec kColumns[] = {
    {"证书颁发日期", 100},
    {"证书截止日期", 100},
    {"证书序列号", 320},
};

// How long closing waits for the monitor's thread.
constexpr std::chrono::milliseconds kMonitorStopTimeout{1500};

// "<label> (<serial>) — certpurge", as desktops title a document's window.
QString TokenTitle(const STokenIdentity& token)
{
    // Controls in a label would reorder or garble the title, as on a terminal.
    QString name = QString::fromUtf8(CEscapedText::Of(token.strLabel));
    if (!token.strSerial.empty())
        name += QStringLiteral(" (%1)").arg(QString::fromUtf8(CEscapedText::Of(token.strSerial)));
    return name + QStringLiteral(" \u2014 ") + QCoreApplication::applicationName();
}

void InsertColumns(CListCtrlCl& list)
{
    int col = 0;
    for (const ColumnSpec& c : kColumns)
        list.InsertColumn(col++, c.pszHeading, LVCFMT_LEFT, -1, -1);
    col = 0;
    for (const ColumnSpec& c : kColumns)
        list.SetColumnWidth(col++, c.nWidth);
}

// The window manager owns the title bar's menu here, so the dialog keeps its
// own: the usual items, then ours after a separator. Alt+Space shows it.
QMenu* AppendSystemMenu(CCertPurgeDlg& dlg)
{
    auto* menu = new QMenu(&dlg);
    menu->addAction(QString::fromUtf8("移动(&M)"))->setData(SC_MOVE);
    menu->addAction(QString::fromUtf8("关闭(&C)"))->setData(SC_CLOSE);
    const char* about = LoadResString(IDS_ABOUTBOX);
    if (*about != '\0') {
        menu->addSeparator();
        menu->addAction(QString::fromUtf8(about))->setData(IDM_ABOUTBOX);
    }
    QObject::connect(menu, &QMenu::triggered, &dlg,
                     [&dlg](QAction* action) { dlg.OnSysCommand(action->data().toUInt(), 0); });
    auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), &dlg);
    QObject::connect(shortcut, &QShortcut::activated, &dlg, [&dlg, menu] { menu->popup(dlg.mapToGlobal(QPoint(0, 0))); });
    return menu;
}

void DefaultSysCommand(QWidget& window, UINT nID)
{
    switch (nID & 0xFFF0) {
    case SC_CLOSE:
        window.close();
        break;
    case SC_MOVE:
        if (QWindow* handle = window.windowHandle())
            handle->startSystemMove();
        break;
    default:
        break;
    }
}

}  // namespace

CCertPurgeDlg::CCertPurgeDlg(QWidget* parent)
    : CTemplateDialog(MainDialogTemplate(), parent), m_hIcon(AppIcon::Load())
{
    m_pToken->SetLog(CTokenLog(std::make_shared<CQtTokenLog>()));
    m_pacedRefresh.setSingleShot(true);
    connect(&m_pacedRefresh, &QTimer::timeout, this, [this] { RunPacedRefresh(); });
}

CCertPurgeDlg::~CCertPurgeDlg()
{
    StopMonitor();
}

QWidget* CCertPurgeDlg::CreateControl(const ControlTemplate& control)
{
    if (control.nId == IDC_CERT_LIST) {
        m_list.setAccessibleName(QString::fromUtf8(Messages::kCertListName));
        return &m_list;
    }
    return CTemplateDialog::CreateControl(control);
}

BOOL CCertPurgeDlg::OnInitDialog()
{
    CTemplateDialog::OnInitDialog();
    m_pSysMenu = AppendSystemMenu(*this);
    setWindowIcon(m_hIcon);
    InsertColumns(m_list);

    CModuleChoice modules;
    if (!modules.Load(*m_pToken, m_strModuleFile)) {
        ReportLoadFailure(modules.Attempts());
        return false;
    }
    m_strModuleFile = modules.LoadedFile();  // what each refresh loads again
    RefreshList();
    if (m_bStartsMonitor && !StartMonitor())
        MessageBox(Messages::kMonitorFailed, nullptr, MB_OK);
    return true;
}

void CCertPurgeDlg::contextMenuEvent(QContextMenuEvent* event)
{
    if (m_pSysMenu != nullptr)
        m_pSysMenu->popup(event->globalPos());
}

void CCertPurgeDlg::OnSysCommand(UINT nID, LPARAM)
{
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout(this);
        dlgAbout.DoModal();
        return;
    }
    DefaultSysCommand(*this, nID);
}

void CCertPurgeDlg::OnDeleteExpired()
{
    CExpiredRemoval(*m_pToken, *m_pPrompts, *m_pClock, *this).Run();
}

void CCertPurgeDlg::OnCommand(int nId)
{
    if (nId == IDC_DELETE_EXPIRED)
        OnDeleteExpired();
}

QPoint CCertPurgeDlg::IconOrigin(QSize client, QSize icon)
{
    return QPoint((client.width() - icon.width() + 1) / 2, (client.height() - icon.height() + 1) / 2);
}

void CCertPurgeDlg::paintEvent(QPaintEvent* event)
{
    if (!isMinimized()) {
        CTemplateDialog::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    QSize size(AppIcon::kLargeSize, AppIcon::kLargeSize);
    painter.drawPixmap(IconOrigin(rect().size(), size), m_hIcon.pixmap(size));
}

// A menu launch shows no standard error: the box's details say what was
// tried and what to do.
void CCertPurgeDlg::ReportLoadFailure(const std::vector<CModuleChoice::SAttempt>& attempts)
{
    for (const CModuleChoice::SAttempt& attempt : attempts)
        std::fprintf(stderr, "certpurge: %s\n", CLoadFailure::Line(attempt, attempts.size() > 1).c_str());
    QByteArray appName = QCoreApplication::applicationName().toUtf8();
    m_pPrompts->MessageBoxWithDetails(this, Messages::kLoadModuleFailed, appName.constData(), MB_OK,
                                      CLoadFailure::Details(attempts));
}

int CCertPurgeDlg::MessageBox(const char* text, const char* caption, UINT type)
{
    QByteArray appName = QCoreApplication::applicationName().toUtf8();
    return m_pPrompts->MessageBox(this, text, caption != nullptr ? caption : appName.constData(), type);
}

void CCertPurgeDlg::RefreshList()
{
    // Whatever asked for it, this refresh answers every token event so far.
    AnswerTokenEvents();
    m_list.DeleteAllItems();
    m_list.SetTextColor(kNormalText);

    CertTable table;
    ScanResult result;
    {
        // A real token takes seconds to read.
        CWaitCursor wait;
        result = ScanToken(*m_pToken, m_strModuleFile.c_str(), table, *m_pClock);
    }
    ShowTokenInTitle(result == ScanResult::Scanned || result == ScanResult::NoCertificates);
    if (result == ScanResult::Scanned) {
        ShowTable(table);
        return;
    }
    if (result == ScanResult::NoCertificates)
        m_list.DeleteAllItems();
    // A module that cannot be loaded is no notice: the program's own caption.
    if (const char* text = ScanFailureMessage(result); text == nullptr)
        return;
    else if (result == ScanResult::LoadFailed)
        MessageBox(text, nullptr, MB_OK);
    else
        MessageBox(text, Messages::kNoticeCaption, MB_OK | MB_ICONINFORMATION);
}

void CCertPurgeDlg::ShowTable(const CertTable& table)
{
    // The removal's scan is newer than any refresh still waiting.
    AnswerTokenEvents();
    m_list.DeleteAllItems();
    FillCertList(m_list, table);
}

bool CCertPurgeDlg::StartMonitor()
{
    if (!m_handOver.Prepare(this))
        return false;
    m_handOver.Resume();
    // A thread left behind keeps its monitor: start a new one.
    if (m_pMonitor->IsRunning() || IsLeftBehind(m_pMonitor))
        m_pMonitor = CPresenceMonitor::Create(m_pToken, m_handOver);
    return m_pMonitor->Start(m_pToken->SlotList());
}

bool CCertPurgeDlg::StopMonitor()
{
    if (!IsLeftBehind(m_pMonitor)) {
        m_handOver.GiveUp();
        if (!m_pMonitor->Stop(kMonitorStopTimeout))
            m_leftBehind.push_back(m_pMonitor);
    }
    return m_leftBehind.empty();
}

bool CCertPurgeDlg::IsLeftBehind(const std::shared_ptr<CPresenceMonitor>& pMonitor) const
{
    return std::find(m_leftBehind.begin(), m_leftBehind.end(), pMonitor) != m_leftBehind.end();
}

unsigned CCertPurgeDlg::MonitorThreadProc(CCertPurgeDlg* pDialog)
{
    return pDialog != nullptr ? pDialog->m_pMonitor->Run() : 0;
}

SlotEvent CCertPurgeDlg::PollSlotEvent(CK_SLOT_ID* pSlot)
{
    return m_pMonitor->PollSlotEvent(pSlot);
}

LRESULT CCertPurgeDlg::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    // The removal that holds them refreshes the list when it ends.
    if (m_bTokenEventsHeld && (message == WM_TOKEN_INSERTED || message == WM_TOKEN_REMOVED)) {
        ++m_ulTokenEvents;
        return 0;
    }
    switch (message) {
    case WM_TOKEN_INSERTED: return OnTokenInserted(wParam, lParam);
    case WM_TOKEN_REMOVED: return OnTokenRemoved(wParam, lParam);
    default: return 0;
    }
}

// A token the choice would not take (not initialised, not the URI's) is no
// reason to read the token again; one it takes is listed after the token
// shown, which keeps its place.
LRESULT CCertPurgeDlg::OnTokenInserted(WPARAM wParam, LPARAM)
{
    ++m_ulTokenEvents;
    CK_TOKEN_INFO info{};
    if (m_pToken->GetTokenInfo(static_cast<CK_SLOT_ID>(wParam), &info) == CKR_OK && m_tokenChoice.Accepts(info))
        RefreshPaced();
    return 0;
}

// A module may report an event on every poll: the token is read at most
// once a poll interval, not on every report.
void CCertPurgeDlg::RefreshPaced()
{
    std::optional<CRefreshPacing::Duration> wait = m_pacing.Ask(m_pacingClock());
    if (!wait)
        return;
    if (*wait == CRefreshPacing::Duration::zero())
        RefreshList();
    else
        m_pacedRefresh.start(*wait);
}

// A refresh falling due while a removal holds token events would wait for
// the module its login holds: it is one more event held, which ends that
// removal as the others do.
void CCertPurgeDlg::RunPacedRefresh()
{
    if (m_bTokenEventsHeld)
        ++m_ulTokenEvents;
    else
        RefreshList();
}

void CCertPurgeDlg::AnswerTokenEvents()
{
    m_pacedRefresh.stop();
    m_pacing.Ran(m_pacingClock());
}

// Another token pulled out leaves the list and title of the one shown.
LRESULT CCertPurgeDlg::OnTokenRemoved(WPARAM wParam, LPARAM)
{
    ++m_ulTokenEvents;
    if (ShownTokenStillThere()) {
        m_pToken->Log().Debug(CTokenLog::ETopic::Monitor, "slot " + std::to_string(wParam) +
                                                              ": not the token shown, the list stays");
        return 0;
    }
    m_list.DeleteAllItems();
    ShowTokenInTitle(false);
    return 0;
}

bool CCertPurgeDlg::ShownTokenStillThere()
{
    std::optional<STokenIdentity> shown = m_pToken->ListedToken();
    STokenIdentity now;
    return shown && m_pToken->ReadTokenIdentity(0, now) == CKR_OK && now.IsSameToken(*shown);
}

void CCertPurgeDlg::ShowTokenInTitle(bool bShown)
{
    std::optional<STokenIdentity> token = bShown ? m_pToken->ListedToken() : std::nullopt;
    setWindowTitle(token ? TokenTitle(*token) : QString());
}
