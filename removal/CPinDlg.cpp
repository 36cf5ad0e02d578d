#include "removal/CPinDlg.h"

#include "inventory/InventoryMessages.h"
#include "platform/CMessageBox.h"
#include "removal/CUserPrompts.h"
#include "removal/PinDialogTemplate.h"
#include "removal/RemovalMessages.h"

#include <QLabel>
#include <QLineEdit>
#include <QValidator>

#include <openssl/crypto.h>

namespace {

// Refuses any edit that would make the text longer than the limit in UTF-8
// bytes, the way the edit control's limit counts bytes of the code page.
class CByteLimitValidator : public QValidator {
public:
    CByteLimitValidator(int maxBytes, QObject* parent) : QValidator(parent), m_nMaxBytes(maxBytes) {}

    State validate(QString& input, int&) const override
    {
        QByteArray bytes = input.toUtf8();
        State state = bytes.size() <= m_nMaxBytes ? Acceptable : Invalid;
        OPENSSL_cleanse(bytes.data(), static_cast<std::size_t>(bytes.size()));
        return state;
    }

private:
    int m_nMaxBytes;
};

void Cleanse(std::string& s)
{
    OPENSSL_cleanse(s.data(), s.size());
    s.clear();
}

}  // namespace

CPinDlg::CPinDlg(QWidget* parent, CUserPrompts* prompts)
    : CTemplateDialog(PinDialogTemplate(), parent), m_pPrompts(prompts)
{
}

CPinDlg::~CPinDlg()
{
    WipePin();
}

QWidget* CPinDlg::CreateControl(const ControlTemplate& control)
{
    QWidget* widget = CTemplateDialog::CreateControl(control);
    if (control.nId == IDC_PIN) {
        auto* edit = static_cast<QLineEdit*>(widget);
        edit->setValidator(new CByteLimitValidator(kMaxPinBytes, edit));
        edit->setContextMenuPolicy(Qt::NoContextMenu);  // no copying the PIN out
    }
    // The label, after the field in the template, names it for screen readers.
    if (auto* label = qobject_cast<QLabel*>(widget); label != nullptr && GetDlgItem(IDC_PIN) != nullptr)
        label->setBuddy(GetDlgItem(IDC_PIN));
    return widget;
}

bool CPinDlg::DoDataExchange(bool bSaveAndValidate)
{
    auto* edit = static_cast<QLineEdit*>(GetDlgItem(IDC_PIN));
    if (edit == nullptr)
        return false;
    if (!bSaveAndValidate) {
        edit->setText(QString::fromUtf8(m_strPin.data(), static_cast<qsizetype>(m_strPin.size())));
        return true;
    }
    QByteArray bytes = edit->text().toUtf8();
    bool fits = bytes.size() <= kMaxPinBytes;
    Cleanse(m_strPin);
    if (fits)
        m_strPin.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    OPENSSL_cleanse(bytes.data(), static_cast<std::size_t>(bytes.size()));
    return fits;
}

void CPinDlg::OnOK()
{
    UpdateData(true);
    if (m_strPin.empty()) {
        if (m_pPrompts != nullptr)
            m_pPrompts->MessageBox(this, Messages::kEnterPin, Messages::kNoticeCaption, MB_ICONINFORMATION);
        else
            CMessageBox::Show(this, Messages::kEnterPin, Messages::kNoticeCaption, MB_ICONINFORMATION);
        return;
    }
    CTemplateDialog::OnOK();
}

void CPinDlg::OnCancel()
{
    WipePin();
    CTemplateDialog::OnCancel();
}

void CPinDlg::WipePin()
{
    Cleanse(m_strPin);
    // The edit's own buffers belong to Qt; clearing it drops the text and
    // its undo history.
    if (auto* edit = static_cast<QLineEdit*>(GetDlgItem(IDC_PIN)))
        edit->clear();
}
