#pragma once

#include "platform/WinTypes.h"
#include "token/Pkcs11.h"

#include <functional>

#include <string>

class CPinDlg;
class QWidget;

// How the main dialog asks the user things: its message boxes and the PIN
// dialog. The default shows the real windows; tests put their own in, to
// answer them and record what was asked.
class CUserPrompts {
public:
    virtual ~CUserPrompts() = default;

    // A modal message box owned by `owner`; IDOK or IDCANCEL.
    virtual int MessageBox(QWidget* owner, const char* text, const char* caption, UINT type);
    // The same box with a detailed text the user can unfold.
    virtual int MessageBoxWithDetails(QWidget* owner, const char* text, const char* caption, UINT type,
                                      const std::string& details);
    // The same box with an informative text under the message as well;
    // either text may be empty.
    virtual int MessageBoxWithInformation(QWidget* owner, const char* text, const char* caption, UINT type,
                                          const std::string& informative, const std::string& details);
    // Runs the PIN dialog modally; IDOK (with the PIN in its m_strPin) or IDCANCEL.
    virtual int RunPinDialog(CPinDlg& dlg);
    // Runs `login`, which waits for the PIN typed on the token's keypad, off
    // this thread, with a notice up that tells the user so and cannot be
    // dismissed; the login's answer.
    virtual CK_RV LoginOnKeypad(QWidget* owner, const std::function<CK_RV()>& login);
};
