#pragma once

#include "app/CTermSignalWatch.h"
#include "token/CTokenChoice.h"

#include <string>

class CCertPurgeDlg;

// The application: runs the main dialog, and the process ends when it closes.
class CCertPurgeApp {
public:
    // The command line first: --help, --version and usage errors end the
    // program before it needs a display. Returns the exit status.
    int Run(int argc, char** argv);

    // Runs the main dialog modally; false, so that no message loop follows.
    bool InitInstance();
    // Whether the monitor's thread was left in a module that never answered:
    // the process must then end without running the module's own clean-up.
    bool ThreadLeftBehind() const { return m_bThreadLeftBehind; }

private:
    void RunModal(CCertPurgeDlg& dlg);
    [[noreturn]] void EndOnSignal(CCertPurgeDlg& dlg);

    CTermSignalWatch m_termWatch;
    bool m_bThreadLeftBehind = false;
    std::string m_strModuleFile;
    CTokenChoice m_tokenChoice;
};
