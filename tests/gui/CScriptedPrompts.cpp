#include "CScriptedPrompts.h"

#include "removal/CPinDlg.h"
#include "removal/RemovalMessages.h"
#include "res/resource.h"

int CScriptedPrompts::MessageBox(QWidget* owner, const char* text, const char* caption, UINT type)
{
    return MessageBoxWithDetails(owner, text, caption, type, std::string());
}

int CScriptedPrompts::MessageBoxWithDetails(QWidget* owner, const char* text, const char* caption, UINT type,
                                            const std::string& details)
{
    return MessageBoxWithInformation(owner, text, caption, type, std::string(), details);
}

int CScriptedPrompts::MessageBoxWithInformation(QWidget*, const char* text, const char* caption, UINT type,
                                                const std::string& informative, const std::string& details)
{
    SPrompt prompt{SPrompt::EKind::MessageBox, text, caption != nullptr ? caption : "", type, details, informative};
    m_prompts.push_back(prompt);
    if (m_handler) {
        if (std::optional<int> answer = m_handler(prompt, nullptr))
            return *answer;
    }
    auto it = m_answers.find(prompt.text);
    return it != m_answers.end() ? it->second : IDOK;
}

int CScriptedPrompts::RunPinDialog(CPinDlg& dlg)
{
    SPrompt prompt{SPrompt::EKind::PinDialog, kPinDialogText, "", 0, "", ""};
    m_prompts.push_back(prompt);
    if (m_handler) {
        if (std::optional<int> answer = m_handler(prompt, &dlg))
            return *answer;
    }
    if (m_bCancelPin)
        return IDCANCEL;
    dlg.m_strPin = m_strPin;
    return IDOK;
}

CK_RV CScriptedPrompts::LoginOnKeypad(QWidget* owner, const std::function<CK_RV()>& login)
{
    m_prompts.push_back(
        {SPrompt::EKind::KeypadNotice, Messages::kEnterPinOnKeypad, Messages::kKeypadCaption, 0, "", ""});
    return CUserPrompts::LoginOnKeypad(owner, login);
}

std::vector<std::string> CScriptedPrompts::Texts() const
{
    std::vector<std::string> texts;
    for (const SPrompt& p : m_prompts)
        texts.push_back(p.text);
    return texts;
}
