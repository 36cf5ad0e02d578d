#include "CTempDir.h"
#include "platform/CLibrary.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

TEST(Library, MissingFileGivesNonZeroCodeAndMessage)
{
    CLibrary lib;
    int code = lib.Load("certpurge-no-such-module.so");
    EXPECT_NE(code, 0);
    EXPECT_FALSE(lib.IsLoaded());
    EXPECT_FALSE(lib.LastError().empty());
    EXPECT_EQ(lib.Symbol("C_GetFunctionList"), nullptr);
}

TEST(Library, FileThatIsNoLibraryGivesNonZeroCode)
{
    testsupport::CTempDir dir;
    std::ofstream(dir.File("junk.dll")) << "not an ELF file";
    CLibrary lib;
    EXPECT_NE(lib.Load(dir.File("junk.dll").c_str()), 0);
    EXPECT_NE(lib.LastError().find("junk.dll"), std::string::npos);
}

TEST(Library, LoadsByPathAndFindsSymbols)
{
    CLibrary lib;
    ASSERT_EQ(lib.Load(CERTPURGE_SOFTHSM_MODULE), 0) << lib.LastError();
    EXPECT_NE(lib.Symbol("C_GetFunctionList"), nullptr);
    EXPECT_EQ(lib.Symbol("NoSuchSymbol"), nullptr);
    lib.Free();
    EXPECT_FALSE(lib.IsLoaded());
}

TEST(Library, BareNameLooksBesideTheExecutableFirst)
{
    std::string name = "certpurge-libtest-" + std::to_string(getpid()) + ".dll";
    std::string beside = CLibrary::ExecutableFolder() + "/" + name;
    EXPECT_EQ(CLibrary::ResolvePath(name.c_str()), name);  // not there yet: system search

    std::filesystem::create_symlink(CERTPURGE_SOFTHSM_MODULE, beside);
    EXPECT_EQ(CLibrary::ResolvePath(name.c_str()), beside);
    CLibrary lib;
    int code = lib.Load(name.c_str());
    std::filesystem::remove(beside);
    ASSERT_EQ(code, 0) << lib.LastError();
    EXPECT_NE(lib.Symbol("C_GetFunctionList"), nullptr);
}

TEST(Library, BareNameFallsBackToTheSystemSearchOrder)
{
    CLibrary lib;
    ASSERT_EQ(lib.Load("libc.so.6"), 0) << lib.LastError();
    EXPECT_NE(lib.Symbol("printf"), nullptr);
}
