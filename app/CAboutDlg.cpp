#include "app/CAboutDlg.h"

#include "res/AppIcon.h"
#include "res/DialogTemplates.h"

#include <QLabel>

CAboutDlg::CAboutDlg(QWidget* parent) : CTemplateDialog(AboutDialogTemplate(), parent)
{
}

QWidget* CAboutDlg::CreateControl(const ControlTemplate& control)
{
    if ((control.style & 0xF) != SS_ICON || control.cls != ControlClass::Static)
        return CTemplateDialog::CreateControl(control);
    auto* icon = new QLabel;
    icon->setPixmap(AppIcon::Load().pixmap(AppIcon::kLargeSize));
    return icon;
}
