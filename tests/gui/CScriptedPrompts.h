#pragma once

#include "removal/CUserPrompts.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// One question the dialog asked.
struct SPrompt {
    enum class EKind { MessageBox, PinDialog, KeypadNotice };
    EKind kind = EKind::MessageBox;
    std::string text;
    std::string caption;
    UINT type = 0;
    std::string details;      // the box's detailed text, if it has one
    std::string informative;  // the box's text under its message, if it has one
};

// Answers the dialog's message boxes and PIN dialog without showing them,
// and records what was asked. By default a box answers IDOK and the PIN
// dialog gives the token's user PIN.
class CScriptedPrompts : public CUserPrompts {
public:
    // Acts while a prompt is up (as the user, or as the world meanwhile);
    // a value is the prompt's answer, nothing lets the default answer.
    using Handler = std::function<std::optional<int>(const SPrompt&, CPinDlg*)>;

    int MessageBox(QWidget* owner, const char* text, const char* caption, UINT type) override;
    int MessageBoxWithDetails(QWidget* owner, const char* text, const char* caption, UINT type,
                              const std::string& details) override;
    int MessageBoxWithInformation(QWidget* owner, const char* text, const char* caption, UINT type,
                                  const std::string& informative, const std::string& details) override;
    int RunPinDialog(CPinDlg& dlg) override;
    // Records the notice, then shows the real one while the login waits.
    CK_RV LoginOnKeypad(QWidget* owner, const std::function<CK_RV()>& login) override;

    void SetPin(std::string pin) { m_strPin = std::move(pin); }
    void CancelPin() { m_bCancelPin = true; }
    // The answer to every box showing this text.
    void Answer(const std::string& text, int answer) { m_answers[text] = answer; }
    void OnPrompt(Handler handler) { m_handler = std::move(handler); }

    const std::vector<SPrompt>& Prompts() const { return m_prompts; }
    // The texts of the prompts in order; the PIN dialog shows as "<PIN>",
    // the keypad's notice by its text.
    std::vector<std::string> Texts() const;
    void Forget() { m_prompts.clear(); }

    static constexpr const char* kPinDialogText = "<PIN>";

private:
    std::vector<SPrompt> m_prompts;
    std::map<std::string, int> m_answers;
    std::string m_strPin = "123456";
    bool m_bCancelPin = false;
    Handler m_handler;
};
