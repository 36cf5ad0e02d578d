#include "CSilentPrompts.h"

#include "res/resource.h"

int CSilentPrompts::MessageBox(QWidget*, const char* text, const char*, UINT)
{
    m_texts.emplace_back(text != nullptr ? text : "");
    return IDOK;
}

int CSilentPrompts::RunPinDialog(CPinDlg&)
{
    m_texts.emplace_back("<PIN>");
    return IDCANCEL;
}

int CSilentPrompts::MessageBoxWithDetails(QWidget* owner, const char* text, const char* caption, UINT type,
                                          const std::string&)
{
    return MessageBox(owner, text, caption, type);
}

int CSilentPrompts::MessageBoxWithInformation(QWidget* owner, const char* text, const char* caption, UINT type,
                                              const std::string&, const std::string&)
{
    return MessageBox(owner, text, caption, type);
}
