#pragma once

#include "token/CModuleChoice.h"

#include <string>

// The default module file name in a folder, linked to the module a program there should
// load; removed again when this goes, so no later run picks it up by chance.
class CModuleLink {
public:
    static constexpr const char* kFileName = CModuleChoice::kDefaultFileName;

    CModuleLink(std::string folder, const std::string& target);
    ~CModuleLink();
    CModuleLink(const CModuleLink&) = delete;
    CModuleLink& operator=(const CModuleLink&) = delete;

    void PointAt(const std::string& target);
    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
};
