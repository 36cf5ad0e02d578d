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

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QMenu>
#include <QPainter>
#include <QShortcut>
#include <QWindow>

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
    connect(&m_follower, &CTokenFollower::TokenInserted, this, [this] { RefreshList(); });
    connect(&m_follower, &CTokenFollower::TokenRemoved, this, [this] {
        m_list.DeleteAllItems();
        ShowTokenInTitle(false);
    });
}

void CCertPurgeDlg::SetTokenChoice(const CTokenChoice& choice)
{
    m_follower.SetTokenChoice(choice);
    m_pToken->SetTokenChoice(choice);
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
    m_follower.Answered();
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
    m_follower.Answered();
    m_list.DeleteAllItems();
    FillCertList(m_list, table);
}

bool CCertPurgeDlg::StartMonitor()
{
    return m_follower.Start();
}

unsigned CCertPurgeDlg::MonitorThreadProc(CCertPurgeDlg* pDialog)
{
    return pDialog != nullptr ? pDialog->m_follower.Run() : 0;
}

SlotEvent CCertPurgeDlg::PollSlotEvent(CK_SLOT_ID* pSlot)
{
    return m_follower.PollSlotEvent(pSlot);
}

LRESULT CCertPurgeDlg::OnTokenInserted(WPARAM wParam, LPARAM)
{
    m_follower.OnTokenInserted(static_cast<CK_SLOT_ID>(wParam));
    return 0;
}

LRESULT CCertPurgeDlg::OnTokenRemoved(WPARAM wParam, LPARAM)
{
    m_follower.OnTokenRemoved(static_cast<CK_SLOT_ID>(wParam));
    return 0;
}

void CCertPurgeDlg::ShowTokenInTitle(bool bShown)
{
    std::optional<STokenIdentity> token = bShown ? m_pToken->ListedToken() : std::nullopt;
    setWindowTitle(token ? TokenTitle(*token) : QString());
}
