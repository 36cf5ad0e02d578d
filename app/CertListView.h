#pragma once

#include "controls/CListCtrlCl.h"
#include "inventory/CertTable.h"
#include "platform/WinTypes.h"

// Text colours of the list's rows: marked records red.
constexpr COLORREF kMarkedText = RGB(255, 0, 0);
constexpr COLORREF kNormalText = RGB(0, 0, 0);

// Appends a row per record of `table`: issue date, expiry date (YYYYMMDD)
// and display name, marked records in red.
void FillCertList(CListCtrlCl& list, const CertTable& table);
