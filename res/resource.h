#pragma once
// Resource identifiers of the program's windows, strings and icon.

#include "platform/StandardIds.h"

constexpr int IDD_ABOUTBOX = 100;
constexpr int IDS_ABOUTBOX = 101;
constexpr int IDD_MAIN_DIALOG = 102;
constexpr int IDR_MAINFRAME = 128;
constexpr int IDC_CERT_LIST = 1000;
constexpr int IDC_PIN_EDIT = 1001;
constexpr int IDC_DELETE_EXPIRED = 1002;
constexpr unsigned IDM_ABOUTBOX = 0x0010;

// System-menu commands of the framework.
constexpr unsigned SC_MOVE = 0xF010;
constexpr unsigned SC_CLOSE = 0xF060;
