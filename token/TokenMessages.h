#pragma once

#include "platform/WinTypes.h"

// The monitor's private messages to the main dialog.
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_TOKEN_INSERTED = WM_USER + 100;  // wParam: the slot
constexpr UINT WM_TOKEN_REMOVED = WM_USER + 200;   // wParam: the slot

// What one poll of the module saw.
enum SlotEvent {
    SLOT_EVENT_NONE = 0,
    SLOT_EVENT_PRESENT = 1,
    SLOT_EVENT_ABSENT = 2,
    SLOT_EVENT_FAILED = 3,
};
