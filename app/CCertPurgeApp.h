#pragma once

// The application: runs the main dialog, and the process ends when it closes.
class CCertPurgeApp {
public:
    // Runs the main dialog modally; false, so that no message loop follows.
    bool InitInstance();
};
