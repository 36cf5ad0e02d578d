#include "CModuleLink.h"

#include <filesystem>
#include <system_error>

CModuleLink::CModuleLink(std::string folder, const std::string& target)
    : m_strPath(std::move(folder) + "/" + kFileName)
{
    PointAt(target);
}

CModuleLink::~CModuleLink()
{
    std::error_code ignored;
    std::filesystem::remove(m_strPath, ignored);
}

void CModuleLink::PointAt(const std::string& target)
{
    std::filesystem::remove(m_strPath);
    std::filesystem::create_symlink(target, m_strPath);
}
