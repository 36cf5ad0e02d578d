#include "CPublicKeyDer.h"
#include "CSoftHsmToken.h"
#include "platform/CCertificate.h"
#include "token/CTokenModule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using testsupport::Bytes;
using testsupport::CPublicKeyDer;
using testsupport::CSoftHsmToken;
using testsupport::CTestCertificate;

namespace {

const unsigned char* Pin(const char* pin) { return reinterpret_cast<const unsigned char*>(pin); }

// The key of a certificate carrying this public key.
CCertKey KeyOf(const Bytes& spki)
{
    Bytes der = CTestCertificate().Add("CN", "key").PublicKey(spki).Der();
    std::unique_ptr<CCertificate> cert = CCertificate::Decode(der.data(), der.size());
    EXPECT_TRUE(cert);
    return cert ? CCertKey::Of(*cert) : CCertKey();
}

// The function list of the module instance the code under test loaded, for
// looking behind its back.
CK_FUNCTION_LIST_PTR SameInstance(CLibrary& lib, const std::string& path)
{
    EXPECT_EQ(lib.Load(path.c_str()), 0);
    auto get = reinterpret_cast<CK_C_GetFunctionList>(lib.Symbol("C_GetFunctionList"));
    CK_FUNCTION_LIST_PTR f = nullptr;
    EXPECT_EQ(get(&f), CKR_OK);
    return f;
}

class TokenModuleTest : public ::testing::Test {
protected:
    // Loaded, slot list read, session 0 open.
    void Open(CTokenModule::EAccess access = CTokenModule::EAccess::ReadWrite)
    {
        ASSERT_TRUE(m_module.Load(m_token.ModulePath().c_str()).Loaded());
        ASSERT_EQ(m_module.GetSlotList(), CKR_OK);
        ASSERT_GE(m_module.SlotCount(), 1u);
        ASSERT_EQ(m_module.OpenSession(0, access), CKR_OK);
    }

    CK_RV FindCerts()
    {
        CK_ULONG count = 0;
        CK_RV rv = m_module.FindCertificates(m_module.Session(0), &count);
        EXPECT_EQ(count, m_module.CertCount());
        return rv;
    }

    // The key pair of a certificate carrying `spki` under `id`: found, then destroyed.
    void DestroyPair(CK_SESSION_HANDLE s, const unsigned char* id, CK_ULONG idLen, const CCertKey& key,
                     bool bPrivate = true)
    {
        CTokenModule::SFoundKeys pub, priv;
        ASSERT_EQ(m_module.FindPubKey(s, id, idLen, key, pub), CKR_OK);
        ASSERT_EQ(m_module.DestroyPubKey(pub), CKR_OK);
        if (!bPrivate)
            return;
        ASSERT_EQ(m_module.FindPrivKey(s, id, idLen, key, CK_UNAVAILABLE_INFORMATION, priv), CKR_OK);
        ASSERT_EQ(m_module.DestroyPrivKey(priv), CKR_OK);
    }

    CSoftHsmToken m_token;
    CTokenModule m_module;
};

}  // namespace

TEST_F(TokenModuleTest, LoadInitialisesAndSecondLoadIgnoresTheName)
{
    EXPECT_FALSE(m_module.HasFunctionList());
    ASSERT_TRUE(m_module.Load(m_token.ModulePath().c_str()).Loaded());
    EXPECT_TRUE(m_module.HasFunctionList());
    EXPECT_TRUE(m_module.Load("no-such-file.dll").Loaded());
    EXPECT_EQ(m_module.GetSlotList(), CKR_OK);
    EXPECT_GE(m_module.SlotCount(), 1u);
}

// The loader's failure is told by its own number and message, never as a
// CK_RV a module could also answer.
TEST_F(TokenModuleTest, LoadFailures)
{
    SLoadResult missing = m_module.Load("certpurge-missing-module.dll");
    EXPECT_EQ(missing.eStep, SLoadResult::EStep::Library);
    EXPECT_NE(missing.nLoaderError, 0);
    EXPECT_NE(missing.strLoaderMessage.find("certpurge-missing-module.dll"), std::string::npos);
    EXPECT_EQ(missing.rv, static_cast<CK_RV>(CKR_OK));
    EXPECT_FALSE(m_module.HasFunctionList());

    // A library, but no PKCS#11 module.
    EXPECT_EQ(m_module.Load("libm.so.6").eStep, SLoadResult::EStep::EntryPoint);
    EXPECT_FALSE(m_module.HasFunctionList());
    EXPECT_EQ(m_module.GetSlotList(), CTokenModule::RV_NO_FUNCTION_LIST);
}

TEST_F(TokenModuleTest, FirstLoadOfAnInitialisedModuleTakesIt)
{
    CLibrary lib;
    CK_FUNCTION_LIST_PTR f = SameInstance(lib, m_token.ModulePath());
    ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
    EXPECT_TRUE(m_module.Load(m_token.ModulePath().c_str()).Loaded());
    EXPECT_TRUE(m_module.HasFunctionList());
    f->C_Finalize(nullptr);
}

// The token listed last keeps the head of the list when a token before it
// in the module's order is there too; the others follow in that order.
TEST_F(TokenModuleTest, SlotListPutsTheTokenFirst)
{
    m_token.AddToken("second-token");
    ASSERT_TRUE(m_module.Load(m_token.ModulePath().c_str()).Loaded());
    auto listed = [this] {
        std::vector<std::string> labels;
        for (CK_ULONG i = 0; i < m_module.SlotCount(); ++i) {
            STokenIdentity token;
            EXPECT_EQ(m_module.ReadTokenIdentity(i, token), CKR_OK);
            labels.push_back(token.strLabel);
        }
        return labels;
    };
    ASSERT_EQ(m_module.GetSlotList(), CKR_OK);
    const std::vector<std::string> moduleOrder = listed();
    ASSERT_EQ(moduleOrder.size(), 2u);

    // The module's second token listed alone, then both.
    std::string problem;
    std::optional<CTokenChoice> second = CTokenChoice::Parse("pkcs11:token=" + moduleOrder[1], problem);
    ASSERT_TRUE(second) << problem;
    m_module.SetTokenChoice(*second);
    ASSERT_EQ(m_module.GetSlotList(), CKR_OK);
    EXPECT_EQ(listed(), std::vector<std::string>{moduleOrder[1]});
    m_module.SetTokenChoice(CTokenChoice());
    ASSERT_EQ(m_module.GetSlotList(), CKR_OK);
    EXPECT_EQ(listed(), (std::vector<std::string>{moduleOrder[1], moduleOrder[0]}));
    ASSERT_TRUE(m_module.ListedToken());
    EXPECT_EQ(m_module.ListedToken()->strLabel, moduleOrder[1]);
}

TEST_F(TokenModuleTest, ReopeningSessionZeroClosesTheOldOneAndItsLogin)
{
    Open();
    CK_SESSION_HANDLE first = m_module.Session(0);
    const char* pin = CSoftHsmToken::kUserPin;
    ASSERT_EQ(m_module.Login(0, Pin(pin), std::strlen(pin)), CKR_OK);
    EXPECT_EQ(m_module.Login(0, Pin(pin), std::strlen(pin)), CKR_OK);  // already logged in counts as success

    ASSERT_EQ(m_module.OpenSession(0), CKR_OK);
    EXPECT_NE(m_module.Session(0), first);
    CLibrary lib;
    CK_FUNCTION_LIST_PTR f = SameInstance(lib, m_token.ModulePath());
    CK_SESSION_INFO info{};
    EXPECT_EQ(f->C_GetSessionInfo(first, &info), CKR_SESSION_HANDLE_INVALID);

    // The login ended with the old session: a wrong PIN is a wrong PIN.
    EXPECT_EQ(m_module.Login(0, Pin("000000"), 6), CKR_PIN_INCORRECT);
}

// Batch after batch, a whole batch included, until one comes back short;
// and on a read-only session, which is all a listing needs.
TEST_F(TokenModuleTest, FindCertificatesFindsThemAllAndEndsTheSearch)
{
    for (CK_ULONG count : {0ul, 1ul, MAX_CERTS, 2 * MAX_CERTS + 3}) {
        while (m_token.Count(CKO_CERTIFICATE) < count) {
            const auto i = static_cast<Bytes::value_type>(m_token.Count(CKO_CERTIFICATE));
            m_token.ImportCertificate(CTestCertificate().Add("CN", "c" + std::to_string(i)).Der(), {i});
        }
        Open(CTokenModule::EAccess::Read);
        ASSERT_EQ(FindCerts(), CKR_OK) << count;
        EXPECT_EQ(m_module.CertCount(), count);
        std::vector<CK_OBJECT_HANDLE> handles;
        for (CK_ULONG i = 0; i < m_module.CertCount(); ++i)
            handles.push_back(m_module.CertObject(i));
        std::sort(handles.begin(), handles.end());
        EXPECT_EQ(std::unique(handles.begin(), handles.end()), handles.end()) << count;
        // The search was ended: the next one on the same session starts normally.
        EXPECT_EQ(FindCerts(), CKR_OK);
        EXPECT_EQ(m_module.CertCount(), count);
        CTokenModule::SFoundKeys found;
        EXPECT_EQ(m_module.FindPubKey(m_module.Session(0), Pin("\x01"), 1, KeyOf(CPublicKeyDer::Fresh("RSA")), found),
                  CKR_OK);
    }
}

TEST_F(TokenModuleTest, ReadCertificateSizesCapacityAndValues)
{
    Bytes der = CTestCertificate().Add("CN", "read me").Der();
    Bytes id = {0xA1, 0xB2, 0xC3};
    m_token.ImportCertificate(der, id);
    Open();
    ASSERT_EQ(FindCerts(), CKR_OK);
    ASSERT_EQ(m_module.CertCount(), 1u);

    CK_ULONG valueLen = 0;
    CK_ULONG idLen = 0;
    ASSERT_EQ(m_module.ReadCertificate(0, nullptr, &valueLen, nullptr, &idLen), CKR_OK);
    EXPECT_EQ(valueLen, der.size());
    EXPECT_EQ(idLen, id.size());

    Bytes value(valueLen + 1, 0);
    Bytes idBuf(idLen + 1, 0);
    CK_ULONG shortValue = valueLen - 1;
    EXPECT_EQ(m_module.ReadCertificate(0, value.data(), &shortValue, idBuf.data(), &idLen),
              CTokenModule::RV_BUFFER_TOO_SMALL);
    EXPECT_EQ(value, Bytes(valueLen + 1, 0));  // nothing fetched
    CK_ULONG shortId = idLen - 1;
    EXPECT_EQ(m_module.ReadCertificate(0, value.data(), &valueLen, nullptr, &shortId),
              CTokenModule::RV_BUFFER_TOO_SMALL);

    ASSERT_EQ(m_module.ReadCertificate(0, value.data(), &valueLen, idBuf.data(), &idLen), CKR_OK);
    EXPECT_EQ(Bytes(value.begin(), value.end() - 1), der);
    EXPECT_EQ(Bytes(idBuf.begin(), idBuf.end() - 1), id);
    EXPECT_EQ(idBuf.back(), 0);
}

// Every pair is searched for with the key of each pair's certificate: only
// its own certificate's key takes it, whatever else shares its ID or type.
TEST_F(TokenModuleTest, KeySearchesTakeOnlyTheCertificatesOwnPair)
{
    const std::vector<std::pair<Bytes, Bytes>> pairs = {
        {{0x11}, m_token.GenerateKeyPair({0x11})},
        {{0x11}, m_token.GenerateKeyPair({0x11})},  // a second RSA pair under the ID
        {{0x22}, m_token.GenerateEcKeyPair({0x22})},
        {{0x33}, m_token.GenerateEcKeyPair({0x33}, "secp384r1")},
        {{0x44}, m_token.GenerateEdKeyPair({0x44})},
        {{0x55}, m_token.GenerateKeyPair({0x55})},  // RSA and EC under one ID
        {{0x55}, m_token.GenerateEcKeyPair({0x55})},
    };
    Open();
    CK_SESSION_HANDLE s = m_module.Session(0);
    ASSERT_EQ(m_module.Login(0, Pin(CSoftHsmToken::kUserPin), 6), CKR_OK);

    // Keys of certificates with other IDs take no public key and no RSA
    // private key: those tell their values. (An EC private key tells
    // nothing: a lone one is taken for any EC certificate with its ID.)
    for (const auto& [id, spki] : pairs) {
        for (const auto& [otherId, otherSpki] : pairs) {
            if (otherId == id)
                continue;
            const CCertKey other = KeyOf(otherSpki);
            DestroyPair(s, id.data(), 1, other, other.SearchType() == CKK_RSA);
        }
    }
    for (const auto& [id, spki] : pairs) {
        const std::size_t pairsUnderId = id[0] == 0x11 || id[0] == 0x55 ? 2u : 1u;
        EXPECT_EQ(m_token.Count(CKO_PUBLIC_KEY, id), pairsUnderId) << int(id[0]);
        EXPECT_EQ(m_token.Count(CKO_PRIVATE_KEY, id), pairsUnderId) << int(id[0]);
    }

    // Each certificate's own key takes its own pair, and no other pair
    // under its ID, of its type or another.
    for (const auto& [id, spki] : pairs) {
        const std::size_t before = m_token.Count(CKO_PRIVATE_KEY, id);
        ASSERT_EQ(m_token.Count(CKO_PUBLIC_KEY, id), before);
        DestroyPair(s, id.data(), 1, KeyOf(spki));
        EXPECT_EQ(m_token.Count(CKO_PUBLIC_KEY, id), before - 1) << int(id[0]);
        EXPECT_EQ(m_token.Count(CKO_PRIVATE_KEY, id), before - 1) << int(id[0]);
    }
    EXPECT_EQ(m_token.Count(CKO_PUBLIC_KEY), 0u);
    EXPECT_EQ(m_token.Count(CKO_PRIVATE_KEY), 0u);
}

TEST_F(TokenModuleTest, KeysThatCannotBeToldApartAreNoneTaken)
{
    const Bytes own = m_token.GenerateEcKeyPair({0x66});
    m_token.GenerateEcKeyPair({0x66});
    Open();
    CK_SESSION_HANDLE s = m_module.Session(0);
    ASSERT_EQ(m_module.Login(0, Pin(CSoftHsmToken::kUserPin), 6), CKR_OK);
    CTokenModule::SFoundKeys pub, priv;
    EXPECT_EQ(m_module.FindPubKey(s, Pin("\x66"), 1, KeyOf(own), pub), CKR_OK);
    EXPECT_EQ(m_module.FindPrivKey(s, Pin("\x66"), 1, KeyOf(own), pub.ulKeyType, priv), CTokenModule::RV_KEY_AMBIGUOUS);
    EXPECT_TRUE(priv.keys.empty());
    EXPECT_EQ(m_module.DestroyPrivKey(priv), CKR_OK);  // nothing chosen, nothing destroyed
    EXPECT_EQ(m_token.Count(CKO_PRIVATE_KEY, {0x66}), 2u);
}

// The keys a destroy takes are the ones its caller was given: those of a
// later search that found nothing are none, whatever an earlier one found,
// and each found key is destroyed once.
TEST_F(TokenModuleTest, DestroyTakesTheKeysItIsGivenAndEachOnce)
{
    const Bytes spki = m_token.GenerateKeyPair({0x11});
    Open();
    CK_SESSION_HANDLE s = m_module.Session(0);
    ASSERT_EQ(m_module.Login(0, Pin(CSoftHsmToken::kUserPin), 6), CKR_OK);

    CTokenModule::SFoundKeys pub, priv, nonePub, nonePriv;
    ASSERT_EQ(m_module.FindPubKey(s, Pin("\x11"), 1, KeyOf(spki), pub), CKR_OK);
    ASSERT_EQ(m_module.FindPrivKey(s, Pin("\x11"), 1, KeyOf(spki), pub.ulKeyType, priv), CKR_OK);
    EXPECT_EQ(pub.keys.size(), 1u);
    EXPECT_EQ(priv.keys.size(), 1u);
    EXPECT_EQ(m_module.FindPubKey(s, Pin("\x99"), 1, KeyOf(spki), nonePub), CKR_OK);
    EXPECT_EQ(m_module.FindPrivKey(s, Pin("\x99"), 1, KeyOf(spki), nonePub.ulKeyType, nonePriv), CKR_OK);
    EXPECT_EQ(m_module.DestroyPubKey(nonePub), CKR_OK);
    EXPECT_EQ(m_module.DestroyPrivKey(nonePriv), CKR_OK);
    EXPECT_EQ(m_token.Count(CKO_PUBLIC_KEY, {0x11}), 1u);
    EXPECT_EQ(m_token.Count(CKO_PRIVATE_KEY, {0x11}), 1u);

    // A destroy uses the keys found once.
    EXPECT_EQ(m_module.DestroyPubKey(pub), CKR_OK);
    EXPECT_TRUE(pub.keys.empty());
    EXPECT_EQ(m_module.DestroyPubKey(pub), CKR_OK);
    EXPECT_EQ(m_token.Count(CKO_PUBLIC_KEY, {0x11}), 0u);
    EXPECT_EQ(m_token.Count(CKO_PRIVATE_KEY, {0x11}), 1u);
    EXPECT_EQ(m_module.DestroyPrivKey(priv), CKR_OK);
    EXPECT_EQ(m_token.Count(CKO_PRIVATE_KEY, {0x11}), 0u);
}

TEST_F(TokenModuleTest, KeySearchesMatchTheWholeIdZeroBytesIncluded)
{
    const Bytes spki = m_token.GenerateKeyPair({0x11});
    const Bytes leadingSpki = m_token.GenerateKeyPair({0x00, 0x07});
    Open();
    CK_SESSION_HANDLE s = m_module.Session(0);
    ASSERT_EQ(m_module.Login(0, Pin(CSoftHsmToken::kUserPin), 6), CKR_OK);
    // 11 00 22 is not 11: the key pair under 11 is no match.
    const unsigned char inner[] = {0x11, 0x00, 0x22};
    DestroyPair(s, inner, 3, KeyOf(spki));
    // An ID that starts with a zero byte is found as it is.
    const unsigned char leading[] = {0x00, 0x07};
    DestroyPair(s, leading, 2, KeyOf(leadingSpki));
    EXPECT_EQ(m_token.Count(CKO_PUBLIC_KEY, {0x00, 0x07}), 0u);
    EXPECT_EQ(m_token.Count(CKO_PRIVATE_KEY, {0x00, 0x07}), 0u);
    EXPECT_EQ(m_token.Count(CKO_PUBLIC_KEY, {0x11}), 1u);
    EXPECT_EQ(m_token.Count(CKO_PRIVATE_KEY, {0x11}), 1u);
}

TEST_F(TokenModuleTest, CertificatesWithAnIdAreFoundAcrossTheWholeToken)
{
    // More certificates than one search of the list sees.
    for (int i = 0; i < 12; ++i)
        m_token.ImportCertificate(CTestCertificate().Add("CN", "n" + std::to_string(i)).Der(), {0x05, 0x00});
    m_token.ImportCertificate(CTestCertificate().Add("CN", "other").Der(), {0x05});
    Open();
    std::vector<CK_OBJECT_HANDLE> found;
    const unsigned char id[] = {0x05, 0x00};
    ASSERT_EQ(m_module.FindCertificatesWithId(m_module.Session(0), id, 2, found), CKR_OK);
    EXPECT_EQ(found.size(), 12u);
    const unsigned char none[] = {0x06};
    ASSERT_EQ(m_module.FindCertificatesWithId(m_module.Session(0), none, 1, found), CKR_OK);
    EXPECT_TRUE(found.empty());
    // The search was ended: the list search on the same session still works.
    ASSERT_EQ(FindCerts(), CKR_OK);
    EXPECT_EQ(m_module.CertCount(), 13u);
}

TEST_F(TokenModuleTest, CloseFinalisesAndLoadBringsTheModuleBack)
{
    EXPECT_EQ(m_module.Close(), CKR_OK);  // nothing open: nothing happens
    ASSERT_TRUE(m_module.Load(m_token.ModulePath().c_str()).Loaded());
    ASSERT_EQ(m_module.GetSlotList(), CKR_OK);
    CK_ULONG slots = m_module.SlotCount();
    EXPECT_EQ(m_module.Close(), CKR_OK);  // no session 0 yet: slot list stays
    EXPECT_EQ(m_module.SlotCount(), slots);

    ASSERT_EQ(m_module.OpenSession(0), CKR_OK);
    EXPECT_EQ(m_module.Close(), CKR_OK);
    EXPECT_EQ(m_module.SlotCount(), 0u);
    EXPECT_EQ(m_module.Session(0), CK_INVALID_HANDLE);
    EXPECT_TRUE(m_module.HasFunctionList());  // still loaded
    EXPECT_EQ(m_module.Close(), CKR_OK);
    CK_TOKEN_INFO info{};
    EXPECT_EQ(m_module.GetTokenInfo(m_token.Slot(), &info), CKR_CRYPTOKI_NOT_INITIALIZED);

    ASSERT_TRUE(m_module.Load("ignored").Loaded());
    ASSERT_EQ(m_module.GetSlotList(), CKR_OK);
    EXPECT_GE(m_module.SlotCount(), 1u);
    EXPECT_EQ(m_module.OpenSession(0), CKR_OK);
}

TEST_F(TokenModuleTest, OpenSessionBeyondTheSlotListIsRefused)
{
    EXPECT_EQ(m_module.OpenSession(0), CKR_ARGUMENTS_BAD);
    ASSERT_TRUE(m_module.Load(m_token.ModulePath().c_str()).Loaded());
    ASSERT_EQ(m_module.GetSlotList(), CKR_OK);
    EXPECT_EQ(m_module.OpenSession(m_module.SlotCount()), CKR_ARGUMENTS_BAD);
}

TEST_F(TokenModuleTest, CallsFromTwoThreadsAreSerialised)
{
    ASSERT_TRUE(m_module.Load(m_token.ModulePath().c_str()).Loaded());
    std::atomic<bool> stop{false};
    std::atomic<int> unexpected{0};
    std::thread poller([&] {
        while (!stop) {
            CK_TOKEN_INFO info{};
            CK_RV rv = m_module.GetTokenInfo(m_token.Slot(), &info);
            if (rv != CKR_OK && rv != CKR_CRYPTOKI_NOT_INITIALIZED)
                ++unexpected;
        }
    });
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(m_module.Load(m_token.ModulePath().c_str()).Loaded());
        ASSERT_EQ(m_module.GetSlotList(), CKR_OK);
        ASSERT_EQ(m_module.OpenSession(0), CKR_OK);
        m_module.Close();
    }
    stop = true;
    poller.join();
    EXPECT_EQ(unexpected, 0);
}
