#include "res/DialogTemplates.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

const std::string kVersion = CERTPURGE_PROJECT_VERSION;

std::string Output(const std::string& command)
{
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
            out.append(buf, n);
        pclose(pipe);
    }
    return out;
}

std::string File(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

}  // namespace

// project(VERSION) is the one place the version is written; everything that
// shows it takes it from there.
TEST(VersionTest, EveryPlaceGivesTheProjectsVersion)
{
    EXPECT_EQ(Output("QT_QPA_PLATFORM=offscreen '" CERTPURGE_BINARY "' --version"), "certpurge " + kVersion + "\n");
    EXPECT_EQ(Output("'" CERTPURGE_LIST_BINARY "' --version"), "certpurge-list " + kVersion + "\n");
    EXPECT_TRUE(Has(Output("readelf -p .version_info '" CERTPURGE_BINARY "'"), "FileVersion=" + kVersion));

    const std::string shortVersion = kVersion.substr(0, kVersion.find('.', kVersion.find('.') + 1));
    bool bAbout = false;
    for (const ControlTemplate& control : AboutDialogTemplate().controls)
        bAbout = bAbout || control.pszText == "Tavrenor " + shortVersion + " 版";
    EXPECT_TRUE(bAbout);

    for (const char* page : {"certpurge.1.gz", "certpurge-list.1.gz"})
        EXPECT_TRUE(Has(Output("zcat '" CERTPURGE_MAN_DIR "/" + std::string(page) + "'"), "\"certpurge " + kVersion + "\"\n"))
            << page;
    EXPECT_TRUE(Has(File(CERTPURGE_METAINFO), "<release version=\"" + kVersion + "\""));
    EXPECT_EQ(File(CERTPURGE_CHANGELOG).rfind("certpurge (" + kVersion + ") ", 0), 0u);
    EXPECT_TRUE(Has(File(CERTPURGE_CPACK_CONFIG), "set(CPACK_PACKAGE_VERSION \"" + kVersion + "\")"));
}
