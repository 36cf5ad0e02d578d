#include "app/CCertPurgeDlg.h"

#include "app/CAboutDlg.h"
#include "cli/CLoadFailure.h"
#include "platform/CMessageBox.h"
#include "res/AppIcon.h"
#include "res/Messages.h"
#include "res/StringTable.h"
#include "res/resource.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QMenu>
#include <QPainter>
#include <QShortcut>
#include <QWindow>

#include <cstdio>

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

}  // namespace

CCertPurgeDlg::CCertPurgeDlg(QWidget* parent)
    : CTemplateDialog(MainDialogTemplate(), parent), m_hIcon(AppIcon::Load())
{
}

CCertPurgeDlg::~CCertPurgeDlg()
{
    StopMonitor();
}

QWidget* CCertPurgeDlg::CreateControl(const ControlTemplate& control)
{
    if (control.nId == IDC_CERT_LIST)
        return &m_list;
    return CTemplateDialog::CreateControl(control);
}

BOOL CCertPurgeDlg::OnInitDialog()
{
    CTemplateDialog::OnInitDialog();
    AppendSystemMenu();
    setWindowIcon(m_hIcon);
    InsertColumns();

    if (CK_RV rv = m_token.Load(m_strModuleFile.c_str()); rv != CKR_OK) {
        std::fprintf(stderr, "certpurge: %s\n",
                     CLoadFailure::Describe(m_strModuleFile, rv, m_token.LastLoadError()).c_str());
        MessageBox(Messages::kLoadModuleFailed, nullptr, MB_OK);
        return false;
    }
    RefreshList();
    if (m_bStartsMonitor && !StartMonitor())
        MessageBox(Messages::kMonitorFailed, nullptr, MB_OK);
    return true;
}

void CCertPurgeDlg::AppendSystemMenu()
{
    // The window manager owns the title bar's menu here, so the dialog keeps
    // its own: the usual items, then ours after a separator.
    m_pSysMenu = new QMenu(this);
    m_pSysMenu->addAction(QString::fromUtf8("移动(&M)"))->setData(SC_MOVE);
    m_pSysMenu->addAction(QString::fromUtf8("关闭(&C)"))->setData(SC_CLOSE);
    const char* about = LoadResString(IDS_ABOUTBOX);
    if (*about != '\0') {
        m_pSysMenu->addSeparator();
        m_pSysMenu->addAction(QString::fromUtf8(about))->setData(IDM_ABOUTBOX);
    }
    connect(m_pSysMenu, &QMenu::triggered, this,
            [this](QAction* action) { OnSysCommand(action->data().toUInt(), 0); });
    auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
    connect(shortcut, &QShortcut::activated, this, [this] { ShowSystemMenu(mapToGlobal(QPoint(0, 0))); });
}

void CCertPurgeDlg::InsertColumns()
{
    int col = 0;
    for (const ColumnSpec& c : kColumns)
        m_list.InsertColumn(col++, c.pszHeading, LVCFMT_LEFT, -1, -1);
    col = 0;
    for (const ColumnSpec& c : kColumns)
        m_list.SetColumnWidth(col++, c.nWidth);
}

void CCertPurgeDlg::ShowSystemMenu(QPoint globalPos)
{
    if (m_pSysMenu != nullptr)
        m_pSysMenu->popup(globalPos);
}

void CCertPurgeDlg::contextMenuEvent(QContextMenuEvent* event)
{
    ShowSystemMenu(event->globalPos());
}

void CCertPurgeDlg::OnSysCommand(UINT nID, LPARAM)
{
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout(this);
        dlgAbout.DoModal();
        return;
    }
    DefaultSysCommand(nID);
}

void CCertPurgeDlg::DefaultSysCommand(UINT nID)
{
    switch (nID & 0xFFF0) {
    case SC_CLOSE:
        close();
        break;
    case SC_MOVE:
        if (QWindow* window = windowHandle())
            window->startSystemMove();
        break;
    default:
        break;
    }
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

int CCertPurgeDlg::MessageBox(const char* text, const char* caption, UINT type)
{
    QByteArray appName = QCoreApplication::applicationName().toUtf8();
    return m_pPrompts->MessageBox(this, text, caption != nullptr ? caption : appName.constData(), type);
}
