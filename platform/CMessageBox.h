#pragma once

#include "platform/WinTypes.h"

#include <string>

class QWidget;

// Message box types and answers, with their Win32 values.
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_ICONHAND = 0x00000010;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONINFORMATION = 0x00000040;
constexpr UINT MB_TYPEMASK = 0x0000000F;
constexpr UINT MB_ICONMASK = 0x000000F0;

// A modal message box owned by `owner`, with the buttons and icon of a
// Win32 message box type, answering IDOK or IDCANCEL. Escape and the close
// button answer IDCANCEL where there is a Cancel button, IDOK otherwise.
class CMessageBox {
public:
    static int Show(QWidget* owner, const char* text, const char* caption, UINT type);
    // The same, with a detailed text the user can unfold under the message.
    static int Show(QWidget* owner, const char* text, const char* caption, UINT type, const std::string& details);
    // The same, with an informative text under the message, where empty
    // texts show nothing.
    static int Show(QWidget* owner, const char* text, const char* caption, UINT type, const std::string& informative,
                    const std::string& details);

    // The captions of the buttons, as a Chinese system shows them.
    static constexpr const char* kOkText = "确定";
    static constexpr const char* kCancelText = "取消";
};
