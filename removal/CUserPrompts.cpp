#include "removal/CUserPrompts.h"

#include "platform/CMessageBox.h"
#include "removal/CKeypadNotice.h"
#include "removal/CPinDlg.h"

int CUserPrompts::MessageBox(QWidget* owner, const char* text, const char* caption, UINT type)
{
    return CMessageBox::Show(owner, text, caption, type);
}

int CUserPrompts::MessageBoxWithDetails(QWidget* owner, const char* text, const char* caption, UINT type,
                                        const std::string& details)
{
    return CMessageBox::Show(owner, text, caption, type, details);
}

int CUserPrompts::MessageBoxWithInformation(QWidget* owner, const char* text, const char* caption, UINT type,
                                            const std::string& informative, const std::string& details)
{
    return CMessageBox::Show(owner, text, caption, type, informative, details);
}

int CUserPrompts::RunPinDialog(CPinDlg& dlg)
{
    return dlg.DoModal();
}

CK_RV CUserPrompts::LoginOnKeypad(QWidget* owner, const std::function<CK_RV()>& login)
{
    return CKeypadNotice::Run(owner, login);
}
