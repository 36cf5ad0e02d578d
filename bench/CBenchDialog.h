#pragma once

#include "CSilentPrompts.h"
#include "app/CCertPurgeDlg.h"

#include <functional>
#include <memory>

// The real main dialog, created as the program creates it (start-up scan,
// list, monitor), over whatever "qemva_11.dll" beside this program is.
// Needs a QApplication.
class CBenchDialog {
public:
    // Throws std::runtime_error when the window cannot be built.
    CBenchDialog();
    ~CBenchDialog();
    CBenchDialog(const CBenchDialog&) = delete;
    CBenchDialog& operator=(const CBenchDialog&) = delete;

    CCertPurgeDlg& Dlg() { return *m_pDlg; }
    int Rows() const { return m_pDlg->List().GetItemCount(); }
    const CSilentPrompts& Prompts() const { return m_prompts; }

    // Runs the event loop, as the window's thread does, until `done` holds
    // or the time is up; checks after every batch of events.
    static bool PumpUntil(const std::function<bool()>& done, int milliseconds);
    static void Pump(int milliseconds);

private:
    CSilentPrompts m_prompts;  // outlives the dialog
    std::unique_ptr<CCertPurgeDlg> m_pDlg;
};
