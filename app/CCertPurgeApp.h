#pragma once

// The application: runs the main dialog, and the process ends when it closes.
class CCertPurgeApp {
public:
    // Runs the main dialog modally; false, so that no message loop follows.
    bool InitInstance();
    // Whether the monitor's thread was left in a module that never answered:
    // the process must then end without running the module's own clean-up.
    bool ThreadLeftBehind() const { return m_bThreadLeftBehind; }

private:
    bool m_bThreadLeftBehind = false;
};
