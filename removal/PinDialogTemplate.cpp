#include "removal/PinDialogTemplate.h"

#include "platform/StandardIds.h"

namespace {

constexpr ControlTemplate kPinControls[] = {
    {IDOK, ControlClass::Button, "确定", 28, 35, 46, 14, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON},
    {IDC_PIN, ControlClass::Edit, "", 91, 11, 67, 12, WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL},
    {IDC_STATIC, ControlClass::Static, "请您输入Ulda的密码：", 8, 13, 77, 11, WS_VISIBLE | WS_GROUP | SS_LEFT},
    {IDCANCEL, ControlClass::Button, "取消", 102, 35, 46, 14, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON},
    {IDC_STATIC, ControlClass::Button, "", 7, 7, 163, 44, WS_VISIBLE | BS_GROUPBOX},
};

constexpr DialogTemplate kPinDialog = {IDD_PIN_DIALOG, 177, 58, "验证Ulda密码", "宋体", 10, kPinControls};

}  // namespace

const DialogTemplate& PinDialogTemplate() { return kPinDialog; }
