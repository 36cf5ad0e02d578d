#pragma once
// Identifiers every dialog shares: the standard buttons' commands and the
// one of controls never looked up.

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDC_STATIC = -1;
