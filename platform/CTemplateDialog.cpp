#include "platform/CTemplateDialog.h"

#include "platform/CGdiFont.h"
#include "platform/StandardIds.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

namespace {

constexpr char kIdProperty[] = "controlId";

bool IsGroupBox(const ControlTemplate& c)
{
    return c.cls == ControlClass::Button && (c.style & 0xF) == BS_GROUPBOX;
}

QLabel* MakeStatic(const ControlTemplate& c)
{
    auto* label = new QLabel(QString::fromUtf8(c.pszText));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | ((c.style & SS_CENTERIMAGE) ? Qt::AlignVCenter : Qt::AlignTop));
    return label;
}

QLineEdit* MakeEdit(const ControlTemplate& c)
{
    auto* edit = new QLineEdit(QString::fromUtf8(c.pszText));
    if (c.style & ES_PASSWORD)
        edit->setEchoMode(QLineEdit::Password);
    edit->setFrame((c.style & WS_BORDER) != 0);
    return edit;
}

QWidget* MakeButton(const ControlTemplate& c)
{
    if (IsGroupBox(c))
        return new QGroupBox(QString::fromUtf8(c.pszText));
    auto* button = new QPushButton(QString::fromUtf8(c.pszText));
    // Enter is dispatched by the dialog, as Windows does, not by Qt's auto-default.
    button->setAutoDefault(false);
    button->setDefault((c.style & 0xF) == BS_DEFPUSHBUTTON);
    return button;
}

}  // namespace

CTemplateDialog::CTemplateDialog(const DialogTemplate& tmpl, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      m_template(tmpl)
{
}

CTemplateDialog::~CTemplateDialog() = default;

bool CTemplateDialog::Create()
{
    if (m_bCreated)
        return true;
    setFont(CGdiFont(CGdiFont::Points{m_template.nPointSize}, m_template.pszFace).Font());
    m_units.emplace(font());
    setWindowTitle(QString::fromUtf8(m_template.pszCaption));
    setFixedSize(MapDialogRect(0, 0, m_template.cx, m_template.cy).size());

    std::vector<QWidget*> groupBoxes;
    for (const ControlTemplate& c : m_template.controls) {
        QWidget* widget = MakeControl(c);
        if (widget == nullptr)
            return false;
        if (IsGroupBox(c))
            groupBoxes.push_back(widget);
    }
    // Group boxes only frame the others: they stay beneath them.
    for (QWidget* box : groupBoxes)
        box->lower();
    OrderTabStops();

    m_bCreated = true;
    if (OnInitDialog() && !m_tabOrder.empty())
        m_tabOrder.front()->setFocus(Qt::OtherFocusReason);
    return true;
}

QWidget* CTemplateDialog::MakeControl(const ControlTemplate& c)
{
    QWidget* widget = CreateControl(c);
    if (widget == nullptr)
        return nullptr;
    Place(widget, c);
    if (c.nId != IDC_STATIC)
        m_controls[c.nId] = widget;
    if (c.style & WS_TABSTOP)
        m_tabOrder.push_back(widget);
    ConnectButton(widget, c.nId);
    return widget;
}

QWidget* CTemplateDialog::CreateControl(const ControlTemplate& c)
{
    switch (c.cls) {
    case ControlClass::Static: return MakeStatic(c);
    case ControlClass::Edit: return MakeEdit(c);
    case ControlClass::Button: return MakeButton(c);
    case ControlClass::ListView: return new QTreeWidget;
    }
    return nullptr;
}

void CTemplateDialog::Place(QWidget* widget, const ControlTemplate& c)
{
    widget->setParent(this);
    widget->setGeometry(MapDialogRect(c.x, c.y, c.cx, c.cy));
    widget->setProperty(kIdProperty, c.nId);
    // Tab stops take the focus from the keyboard; other buttons only by a click.
    if (c.style & WS_TABSTOP)
        widget->setFocusPolicy(Qt::StrongFocus);
    else if (qobject_cast<QPushButton*>(widget) != nullptr)
        widget->setFocusPolicy(Qt::ClickFocus);
    widget->setVisible((c.style & WS_VISIBLE) != 0);
}

void CTemplateDialog::ConnectButton(QWidget* widget, int nId)
{
    if (auto* button = qobject_cast<QPushButton*>(widget))
        connect(button, &QPushButton::clicked, this, [this, nId] { DispatchCommand(nId); });
}

void CTemplateDialog::OrderTabStops()
{
    for (std::size_t i = 1; i < m_tabOrder.size(); ++i)
        setTabOrder(m_tabOrder[i - 1], m_tabOrder[i]);
}

void CTemplateDialog::DispatchCommand(int nId)
{
    if (nId == IDOK)
        OnOK();
    else if (nId == IDCANCEL)
        OnCancel();
    else
        OnCommand(nId);
}

int CTemplateDialog::DoModal()
{
    if (!Create())
        return -1;
    return exec();
}

void CTemplateDialog::EndDialog(int nResult)
{
    done(nResult);
}

QWidget* CTemplateDialog::GetDlgItem(int nId) const
{
    auto it = m_controls.find(nId);
    return it != m_controls.end() ? it->second : nullptr;
}

QRect CTemplateDialog::MapDialogRect(int x, int y, int cx, int cy) const
{
    return m_units->MapDialogRect(x, y, cx, cy);
}

BOOL CTemplateDialog::OnInitDialog()
{
    UpdateData(false);
    return true;
}

bool CTemplateDialog::DoDataExchange(bool)
{
    return true;
}

BOOL CTemplateDialog::UpdateData(bool bSaveAndValidate)
{
    return DoDataExchange(bSaveAndValidate) ? 1 : 0;
}

void CTemplateDialog::OnOK()
{
    if (!UpdateData(true))
        return;
    EndDialog(IDOK);
}

void CTemplateDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void CTemplateDialog::OnCommand(int)
{
}

void CTemplateDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
        QDialog::keyPressEvent(event);
        return;
    }
    // The focused push button, else the default one, else IDOK.
    auto* focused = qobject_cast<QPushButton*>(focusWidget());
    if (focused != nullptr && focused->isEnabled()) {
        focused->click();
        return;
    }
    for (const auto& [id, widget] : m_controls) {
        auto* button = qobject_cast<QPushButton*>(widget);
        if (button != nullptr && button->isDefault()) {
            if (button->isEnabled())
                button->click();
            return;
        }
    }
    DispatchCommand(IDOK);
}

void CTemplateDialog::reject()
{
    OnCancel();
}

void CTemplateDialog::accept()
{
    OnOK();
}
