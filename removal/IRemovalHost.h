#pragma once

#include "inventory/CertTable.h"

class QWidget;

// What a removal asks of the window it runs in.
class IRemovalHost {
public:
    // The list shows this table, which is what the user is asked about.
    virtual void ShowTable(const CertTable& table) = 0;
    // The list shows the token anew, with the scan's own notices.
    virtual void RefreshList() = 0;
    // Token insertions and removals handled so far; a change while the user
    // is asked means the scan's handles may be stale.
    virtual unsigned long TokenEventsHandled() const = 0;
    // While held, token insertions and removals are counted but not acted
    // on: the module is busy with a login waiting for the token's keypad.
    virtual void HoldTokenEvents(bool bHold) = 0;
    // The owner of the removal's message boxes and PIN dialog.
    virtual QWidget* PromptOwner() = 0;

protected:
    ~IRemovalHost() = default;
};
