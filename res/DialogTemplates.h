#pragma once
// The program's dialog templates (the PIN dialog's lives with it in removal/).

#include "platform/DialogTemplate.h"

const DialogTemplate& MainDialogTemplate();
const DialogTemplate& AboutDialogTemplate();
