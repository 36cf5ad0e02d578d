#pragma once

#include "platform/CTemplateDialog.h"

// The about box, opened from the system menu.
class CAboutDlg : public CTemplateDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);

protected:
    QWidget* CreateControl(const ControlTemplate& control) override;
};
