#pragma once
// A dialog template: a window's size, font and controls in dialog units, in
// tab order, with their Win32 style bits.

#include "platform/WinTypes.h"

#include <span>

// Window and control styles the templates use.
constexpr UINT WS_VISIBLE = 0x10000000;
constexpr UINT WS_BORDER = 0x00800000;
constexpr UINT WS_GROUP = 0x00020000;
constexpr UINT WS_TABSTOP = 0x00010000;
constexpr UINT ES_PASSWORD = 0x0020;
constexpr UINT ES_AUTOHSCROLL = 0x0080;
constexpr UINT SS_LEFT = 0x0000;
constexpr UINT SS_ICON = 0x0003;
constexpr UINT SS_NOPREFIX = 0x0080;
constexpr UINT SS_CENTERIMAGE = 0x0200;
constexpr UINT BS_PUSHBUTTON = 0x0000;
constexpr UINT BS_DEFPUSHBUTTON = 0x0001;
constexpr UINT BS_GROUPBOX = 0x0007;
constexpr UINT LVS_REPORT = 0x0001;
constexpr UINT LVS_SHOWSELALWAYS = 0x0008;

enum class ControlClass { Button, Edit, Static, ListView };

struct ControlTemplate {
    int nId;
    ControlClass cls;
    const char* pszText;
    int x;
    int y;
    int cx;
    int cy;
    UINT style;
};

struct DialogTemplate {
    int nId;
    int cx;
    int cy;
    const char* pszCaption;
    const char* pszFace;
    int nPointSize;
    std::span<const ControlTemplate> controls;
};
