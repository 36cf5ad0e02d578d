// The copies a removal keeps of the certificates it deletes, read back with
// OpenSSL: the archive alone, and the window's removal keeping them.
#include "CRemovalTest.h"
#include "CTempDir.h"
#include "CTestCertificate.h"
#include "platform/SystemTimeConv.h"
#include "removal/CRemovedArchive.h"

#include <gtest/gtest.h>

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>

#include <sys/resource.h>
#include <sys/stat.h>

using testsupport::Bytes;
using testsupport::CTempDir;
using testsupport::CTestCertificate;

namespace {

// 2030-06-15 12:00:00 UTC
constexpr std::time_t kRemovedAt = 1907755200;

STokenIdentity TokenOf(const std::string& serial, const std::string& label)
{
    STokenIdentity token;
    token.strSerial = serial;
    token.strLabel = label;
    token.strUri = "pkcs11:token=" + label + ";serial=" + serial;
    return token;
}

// One certificate a name, made once: each one made has its own serial.
const std::string& DerOf(const std::string& cn)
{
    static std::map<std::string, std::string> made;
    auto [it, bNew] = made.try_emplace(cn);
    if (bNew) {
        Bytes der = CTestCertificate().Add("C", "CN").Add("O", "某公司").Add("CN", cn).Der();
        it->second.assign(der.begin(), der.end());
    }
    return it->second;
}

std::string Contents(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every certificate of a PEM file as DER, in order, as OpenSSL reads them.
std::vector<std::string> CertificatesIn(const std::string& file)
{
    std::vector<std::string> ders;
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_file(file.c_str(), "r"), BIO_free);
    if (!bio)
        return ders;
    while (X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
        unsigned char* der = nullptr;
        int len = i2d_X509(cert, &der);
        ders.emplace_back(reinterpret_cast<char*>(der), static_cast<std::size_t>(len));
        OPENSSL_free(der);
        X509_free(cert);
    }
    return ders;
}

class RemovedArchiveTest : public ::testing::Test {
protected:
    std::string DataHome() const { return m_home.File("data"); }
    std::string ArchiveFile() const { return DataHome() + "/certpurge/removed/0123.pem"; }
    CRemovedArchive::SKept Keep(CRemovedArchive& archive, const std::string& cn)
    {
        return archive.Keep(DerOf(cn), cn + "'s 某公司 ID", SystemTimeConv::FromUnixUtc(kRemovedAt));
    }

    CTempDir m_home;
    const STokenIdentity m_token = TokenOf("0123", "Ulda");
};

}  // namespace

// Exactly the certificates given, in order, each after its line, appended
// run after run to a file only its owner reads, in folders made for it.
TEST_F(RemovedArchiveTest, KeepsExactlyTheCertificatesGiven)
{
    CRemovedArchive first(DataHome(), m_token);
    EXPECT_EQ(first.File(), ArchiveFile());
    for (const char* cn : {"a", "b"}) {
        CRemovedArchive::SKept kept = Keep(first, cn);
        EXPECT_TRUE(kept.bKept) << kept.strReason;
        EXPECT_EQ(kept.strFile, ArchiveFile());
    }
    CRemovedArchive second(DataHome(), m_token);
    EXPECT_TRUE(Keep(second, "c").bKept);

    EXPECT_EQ(CertificatesIn(ArchiveFile()), (std::vector<std::string>{DerOf("a"), DerOf("b"), DerOf("c")}));
    const std::string text = Contents(ArchiveFile());
    EXPECT_EQ(text.rfind("# removed 2030-06-15T12:00:00Z from pkcs11:token=Ulda;serial=0123: a's 某公司 ID\n"
                         "-----BEGIN CERTIFICATE-----\n",
                         0),
              0u)
        << text;
    EXPECT_NE(text.find("-----END CERTIFICATE-----\n# removed 2030-06-15T12:00:00Z from "
                        "pkcs11:token=Ulda;serial=0123: b's 某公司 ID\n-----BEGIN CERTIFICATE-----\n"),
              std::string::npos);

    struct stat file {};
    struct stat folder {};
    ASSERT_EQ(::stat(ArchiveFile().c_str(), &file), 0);
    ASSERT_EQ(::stat((DataHome() + "/certpurge").c_str(), &folder), 0);
    EXPECT_EQ(file.st_mode & 0777, 0600u);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);

    EXPECT_EQ(first.KeptCount(), 2u);
    EXPECT_EQ(first.Details(), "Each certificate deleted was kept first, as PEM after a line with the time (UTC), "
                               "the token and its name, in:\n" +
                                   ArchiveFile() + "\n(2 certificates this time; their keys are not kept.)");
    EXPECT_EQ(CRemovedArchive(DataHome(), m_token).Details(), "");
}

// A certificate that cannot be kept is told with the file and the system's
// reason, and leaves the file as it was: no part of a block is left.
TEST_F(RemovedArchiveTest, WhatCannotBeWrittenSaysWhyAndLeavesTheFileAsItWas)
{
    struct SRow {
        const char* what;
        std::function<void()> setUp;
        const char* reason;
    };
    const std::string removed = DataHome() + "/certpurge/removed";
    const SRow rows[] = {
        {"a file where its folder must be",
         [&] {
             std::filesystem::create_directories(DataHome());
             std::ofstream(DataHome() + "/certpurge") << "x";
         },
         "Not a directory"},
        {"a folder where the file must be", [&] { std::filesystem::create_directories(ArchiveFile()); },
         "Is a directory"},
        {"a file that may not grow by a whole block",
         [&] {
             CRemovedArchive earlier(DataHome(), m_token);
             ASSERT_TRUE(Keep(earlier, "earlier").bKept);
             std::signal(SIGXFSZ, SIG_IGN);
             const rlimit limit{static_cast<rlim_t>(std::filesystem::file_size(ArchiveFile()) + 100), RLIM_INFINITY};
             ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
         },
         "File too large"},
    };
    for (const SRow& row : rows) {
        SCOPED_TRACE(row.what);
        std::filesystem::remove_all(DataHome());
        row.setUp();
        const bool bExisted = std::filesystem::is_regular_file(ArchiveFile());
        const std::string before = bExisted ? Contents(ArchiveFile()) : std::string();

        CRemovedArchive archive(DataHome(), m_token);
        CRemovedArchive::SKept kept = Keep(archive, "a");
        const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
        ::setrlimit(RLIMIT_FSIZE, &unlimited);

        EXPECT_FALSE(kept.bKept);
        EXPECT_EQ(kept.strFile, ArchiveFile());
        EXPECT_EQ(kept.strReason, row.reason);
        EXPECT_EQ(std::filesystem::is_regular_file(ArchiveFile()), bExisted);
        if (bExisted) {
            EXPECT_EQ(Contents(ArchiveFile()), before);
        }
        EXPECT_EQ(archive.KeptCount(), 0u);
        EXPECT_EQ(archive.Details(), "");
    }

    // No home folder known: nothing to write to.
    CRemovedArchive homeless("", m_token);
    CRemovedArchive::SKept kept = Keep(homeless, "a");
    EXPECT_FALSE(kept.bKept);
    EXPECT_EQ(kept.strReason, "no home folder is known");
    EXPECT_EQ(kept.strFile, "~/.local/share/certpurge/removed/0123.pem");
}

// The token's serial names the file, else its label; nothing in either can
// lead out of the folder or hide in a name.
TEST_F(RemovedArchiveTest, FileNamedSafelyAfterTheToken)
{
    EXPECT_EQ(CRemovedArchive::FileName(TokenOf("0123", "Ulda")), "0123.pem");
    EXPECT_EQ(CRemovedArchive::FileName(TokenOf("", "My Ulda")), "My Ulda.pem");
    EXPECT_EQ(CRemovedArchive::FileName(TokenOf("", "")), "token.pem");
    EXPECT_EQ(CRemovedArchive::FileName(TokenOf("", "../..")), ".._...pem");
    EXPECT_EQ(CRemovedArchive::FileName(TokenOf("a/b\x01\x1b\x7f", "x")), "a_b___.pem");
}

// $XDG_DATA_HOME when it is absolute, else ~/.local/share.
TEST_F(RemovedArchiveTest, DataHomeFollowsTheXdgVariable)
{
    ::setenv("HOME", "/home/someone", 1);
    ::setenv("XDG_DATA_HOME", "/var/data", 1);
    EXPECT_EQ(CRemovedArchive::DataHome(), "/var/data");
    ::setenv("XDG_DATA_HOME", "relative/data", 1);
    EXPECT_EQ(CRemovedArchive::DataHome(), "/home/someone/.local/share");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(CRemovedArchive::DataHome(), "/home/someone/.local/share");
}

namespace {

// The window's removal: what it shows before the PIN, and what it keeps.
class RemovalKeepsWhatGoesTest : public CRemovalTest {
protected:
    std::string ArchiveFile() { return m_dataHome.File("certpurge/removed/" + Dlg().Token().ListedToken()->strSerial + ".pem"); }
    // The certificates on the token with this CKA_ID, as DER.
    std::vector<std::string> CertificatesWithId(const Bytes& id)
    {
        std::vector<std::string> ders;
        for (const auto& object : Token().Objects()) {
            if (object.cls == CKO_CERTIFICATE && object.id == id)
                ders.emplace_back(object.value.begin(), object.value.end());
        }
        return ders;
    }
};

}  // namespace

// The confirmation carries the plan, and warns when a key that decrypts
// would go; declined, nothing is touched.
TEST_F(RemovalKeepsWhatGoesTest, ConfirmationShowsWhatGoesAndWarnsOfDecryptionKeys)
{
    auto expired = [](const std::string& cn, const std::string& usage, const std::string& notBefore) {
        return CTestCertificate().Add("C", "CN").Add("O", "Acme").Add("CN", cn).KeyUsage(usage)
            .NotBefore(notBefore).NotAfter("20210101000000Z");
    };
    Token().AddCertificateWithKeys(expired("Old", "critical,digitalSignature", "20200101000000Z"), {1});
    AddCert("Ren", "20300101000000Z", "20400101000000Z", {7});
    AddCert("Ren", "20300201000000Z", "20400101000000Z", {7}, false);  // keeps the pair
    Token().ImportCertificate(expired("NoId", "critical,keyEncipherment", "20200201000000Z").Der(), {});
    Start();
    m_prompts.Answer(Messages::kConfirmDelete, IDCANCEL);
    Click();
    ASSERT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete}));
    // No key that decrypts goes: the one without ID keeps its keys.
    EXPECT_EQ(m_prompts.Prompts()[0].informative, "");
    const std::string plan = m_prompts.Prompts()[0].details;
    const std::size_t old = plan.find("Old's Acme ID");
    const std::size_t noId = plan.find("NoId's Acme ID");
    const std::size_t ren = plan.find("Ren's Acme ID");
    EXPECT_TRUE(old < noId && noId < ren && ren != std::string::npos) << plan;  // table order
    for (const char* fate : {"its key pair", "no ID: keys kept", "keys kept: Ren's Acme ID"})
        EXPECT_NE(plan.find(fate), std::string::npos) << fate << " in\n" << plan;

    Token().AddCertificateWithKeys(expired("Enc", "critical,keyEncipherment", "20200301000000Z"), {4});
    Dlg().RefreshList();
    Click();
    ASSERT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete}));
    EXPECT_EQ(m_prompts.Prompts()[0].informative, Messages::kDecryptionKeysGo);
    EXPECT_NE(m_prompts.Prompts()[0].details.find("Enc's Acme ID"), std::string::npos);
    EXPECT_EQ(Trace().Count("C_Login") + Trace().Count("C_DestroyObject"), 0u);
    EXPECT_TRUE(AllThere(1));
    EXPECT_TRUE(AllThere(4));
}

// Every certificate deleted is in the archive first, byte for byte, and the
// completion notice says where; one that cannot be kept stops the run
// before anything of it is destroyed.
TEST_F(RemovalKeepsWhatGoesTest, EachCertificateDeletedIsKeptFirst)
{
    AddStandardCerts();
    const std::vector<std::string> expired = CertificatesWithId({1});
    const std::vector<std::string> superseded = CertificatesWithId({2});
    Start();
    Click();
    ASSERT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    EXPECT_TRUE(NoneThere(1));
    EXPECT_TRUE(NoneThere(2));
    EXPECT_EQ(CertificatesIn(ArchiveFile()), (std::vector<std::string>{expired[0], superseded[0]}));
    EXPECT_NE(m_prompts.Prompts()[2].details.find(ArchiveFile()), std::string::npos) << m_prompts.Prompts()[2].details;

    // The archive's folder is a file: nothing can be kept, nothing goes.
    AddCert("Late", "20200101000000Z", "20210101000000Z", {5});
    std::filesystem::remove_all(m_dataHome.File("certpurge"));
    std::ofstream(m_dataHome.File("certpurge")) << "in the way";
    Dlg().RefreshList();
    Click();
    ASSERT_EQ(m_prompts.Prompts().size(), 3u);
    EXPECT_EQ(Texts()[2], std::string(Messages::kArchiveFailed) + "\n" + Messages::kArchiveFile + ArchiveFile() +
                              "\n" + Messages::kArchiveReason + "Not a directory");
    EXPECT_EQ(Trace().Count("C_DestroyObject"), 0u);
    EXPECT_TRUE(AllThere(5));
    EXPECT_TRUE(Trace().InOrder({"C_Login", "C_Logout"}));
}
