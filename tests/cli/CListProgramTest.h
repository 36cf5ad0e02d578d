#pragma once

#include "CProgramRun.h"
#include "CSoftHsmToken.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

// certpurge-list copied into a folder of its own, where a "qemva_11.dll"
// may be linked beside it, with a fresh SoftHSM2 token; CERTPURGE_MODULE
// and CERTPURGE_TOKEN unset unless a test sets them.
class CListProgramTest : public ::testing::Test {
protected:
    CListProgramTest() : m_strBin(m_token.Folder().File("bin")), m_run(m_token.Folder().Path())
    {
        std::filesystem::create_directory(m_strBin);
        std::filesystem::copy_file(CERTPURGE_LIST_BINARY, Program());
        m_run.Unset("CERTPURGE_MODULE").Unset("CERTPURGE_TOKEN");
    }

    // The last line of a load failure, but for a module found that did not
    // start: how to choose a module.
    static constexpr const char* kChooseHintLine =
        "certpurge-list: Choose the token's PKCS#11 module with --module PATH or the CERTPURGE_MODULE variable, "
        "or register it with p11-kit: a file NAME.module in /usr/share/p11-kit/modules or ~/.config/pkcs11/modules "
        "holding the line \"module: /path/to/the/module.so\".\n";

    std::string Program() const { return m_strBin + "/certpurge-list"; }
    void LinkDefault(const std::string& target) { std::filesystem::create_symlink(target, m_strBin + "/qemva_11.dll"); }
    int Run(const std::vector<std::string>& args = {}) { return m_run.Run(Program(), args); }

    testsupport::CSoftHsmToken m_token;
    std::string m_strBin;
    CProgramRun m_run;
};
