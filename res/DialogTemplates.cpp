#include "res/DialogTemplates.h"

#include "res/VersionInfo.h"
#include "res/resource.h"

namespace {

constexpr ControlTemplate kMainControls[] = {
    {IDC_CERT_LIST, ControlClass::ListView, "List1", 7, 82, 276, 92,
     WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS},
    {IDC_PIN_EDIT, ControlClass::Edit, "", 97, 58, 78, 14, WS_BORDER | WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL},
    {IDC_STATIC, ControlClass::Static, "请输入USBKEY的PIN码：", 10, 60, 85, 11, WS_GROUP | SS_LEFT},
    {IDC_DELETE_EXPIRED, ControlClass::Button, "删除过期证书", 204, 57, 75, 17, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON},
    {IDC_STATIC, ControlClass::Button, "删除过期证书", 7, 7, 276, 172, WS_VISIBLE | BS_GROUPBOX},
    {IDC_STATIC, ControlClass::Static, "注意事项:", 12, 22, 49, 8, WS_VISIBLE | WS_GROUP | SS_LEFT},
    {IDC_STATIC, ControlClass::Static, "本工具将根据您的系统时间来删除过期的证书，请设置正确的系统时间！", 10, 33, 267, 11,
     WS_VISIBLE | WS_GROUP | SS_LEFT | SS_CENTERIMAGE},
};

constexpr ControlTemplate kAboutControls[] = {
    {IDC_STATIC, ControlClass::Static, "", 11, 17, 20, 20, WS_VISIBLE | SS_ICON},
    {IDC_STATIC, ControlClass::Static, "Tavrenor " CERTPURGE_VERSION_SHORT " 版", 40, 10, 119, 8, WS_VISIBLE | SS_LEFT | SS_NOPREFIX},
    {IDC_STATIC, ControlClass::Static, "版权所有 (C) 2026", 40, 25, 119, 8, WS_VISIBLE | SS_LEFT},
    {IDOK, ControlClass::Button, "确定", 178, 7, 50, 14, WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON},
};

constexpr DialogTemplate kMainDialog = {IDD_MAIN_DIALOG, 290, 186, "", "宋体", 9, kMainControls};
constexpr DialogTemplate kAboutDialog = {IDD_ABOUTBOX, 235, 55, "关于 Tavrenor", "宋体", 9, kAboutControls};

}  // namespace

const DialogTemplate& MainDialogTemplate() { return kMainDialog; }
const DialogTemplate& AboutDialogTemplate() { return kAboutDialog; }
