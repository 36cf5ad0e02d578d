#include "platform/CMessageBox.h"

#include "platform/StandardIds.h"

#include <QMessageBox>
#include <QPushButton>

namespace {

QMessageBox::Icon IconFor(UINT type)
{
    switch (type & MB_ICONMASK) {
    case MB_ICONHAND: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONEXCLAMATION: return QMessageBox::Warning;
    case MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

}  // namespace

int CMessageBox::Show(QWidget* owner, const char* text, const char* caption, UINT type)
{
    return Show(owner, text, caption, type, std::string());
}

int CMessageBox::Show(QWidget* owner, const char* text, const char* caption, UINT type, const std::string& details)
{
    return Show(owner, text, caption, type, std::string(), details);
}

int CMessageBox::Show(QWidget* owner, const char* text, const char* caption, UINT type, const std::string& informative,
                      const std::string& details)
{
    QMessageBox box(owner);
    box.setWindowTitle(QString::fromUtf8(caption != nullptr ? caption : ""));
    box.setText(QString::fromUtf8(text));
    box.setTextFormat(Qt::PlainText);
    box.setIcon(IconFor(type));
    if (!informative.empty())
        box.setInformativeText(QString::fromUtf8(informative));
    if (!details.empty())
        box.setDetailedText(QString::fromUtf8(details));
    QPushButton* ok = box.addButton(QString::fromUtf8(kOkText), QMessageBox::AcceptRole);
    QPushButton* cancel = nullptr;
    if ((type & MB_TYPEMASK) == MB_OKCANCEL)
        cancel = box.addButton(QString::fromUtf8(kCancelText), QMessageBox::RejectRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(cancel != nullptr ? cancel : ok);
    box.exec();
    return cancel != nullptr && box.clickedButton() == cancel ? IDCANCEL : IDOK;
}
