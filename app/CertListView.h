#pragma once

#include "controls/CListCtrlCl.h"
#include "inventory/CertTable.h"
#include "platform/WinTypes.h"

#include <string>

// Text colours of the list's rows: marked records red.
constexpr COLORREF kMarkedText = CListCtrlCl::kRedTextColor;
constexpr COLORREF kNormalText = CListCtrlCl::kTextColor;

// Appends a row per record of `table`: issue date, expiry date (YYYYMMDD)
// and display name, marked records in red and described by why they are.
void FillCertList(CListCtrlCl& list, const CertTable& table);

// Why the record is red, in the window's language; empty when it is not.
std::string OutOfDateReason(const CertRecord& record);
