#pragma once

#include "removal/CUserPrompts.h"

#include <string>
#include <vector>

// Answers the dialog's questions without showing anything, so a
// measurement never blocks on a box; keeps the texts for the report.
class CSilentPrompts : public CUserPrompts {
public:
    int MessageBox(QWidget* owner, const char* text, const char* caption, UINT type) override;
    int MessageBoxWithDetails(QWidget* owner, const char* text, const char* caption, UINT type,
                              const std::string& details) override;
    int MessageBoxWithInformation(QWidget* owner, const char* text, const char* caption, UINT type,
                                  const std::string& informative, const std::string& details) override;
    int RunPinDialog(CPinDlg& dlg) override;

    const std::vector<std::string>& Texts() const { return m_texts; }

private:
    std::vector<std::string> m_texts;
};
