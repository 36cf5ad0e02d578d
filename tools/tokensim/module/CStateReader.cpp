#include "CStateReader.h"

#include "tools/tokensim/control/CTextFile.h"

void CStateReader::Open(std::string path)
{
    m_strPath = std::move(path);
    m_lastText.reset();
    m_bRead = false;
}

std::optional<CTokenSimState> CStateReader::ReadIfChanged()
{
    std::optional<std::string> text = m_strPath.empty() ? std::nullopt : CTextFile::Read(m_strPath);
    if (m_bRead && text == m_lastText)
        return std::nullopt;
    m_bRead = true;
    m_lastText = text;
    if (!text)
        return CTokenSimState{};
    return CTokenSimState::Parse(*text);
}
