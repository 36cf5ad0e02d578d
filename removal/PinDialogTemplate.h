#pragma once
// The PIN dialog's template and the identifiers of its window and edit.

#include "platform/DialogTemplate.h"

constexpr int IDD_PIN_DIALOG = 129;
constexpr int IDC_PIN = 1003;

const DialogTemplate& PinDialogTemplate();
