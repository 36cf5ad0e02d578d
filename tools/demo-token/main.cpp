// certpurge-demo-token FOLDER: makes a SoftHSM2 token in FOLDER holding ten
// certificates with their key pairs (RSA, P-256, P-384, Ed25519), each
// certificate carrying its pair's public key, dated around today: valid,
// expired, superseded, same-name groups, a renewal that kept its key pair,
// Chinese subjects. The user PIN is 123456.

#include "CSoftHsmToken.h"

#include <cstdio>
#include <ctime>
#include <exception>
#include <map>
#include <string>

using testsupport::Bytes;
using testsupport::CSoftHsmToken;
using testsupport::CTestCertificate;

namespace {

constexpr std::time_t kDay = 24 * 60 * 60;

enum class EKeyKind { Rsa, P256, P384, Ed25519 };

struct DemoCert {
    const char* person;
    const char* organisation;
    int issuedDaysAgo;
    int validDays;
    unsigned char keyId;  // certificates sharing a key pair share this
    EKeyKind key;
};

constexpr DemoCert kCerts[] = {
    {"张三", "北京某科技有限公司", 1000, 1095, 0x01, EKeyKind::Rsa},
    {"张三", "北京某科技有限公司", 300, 1095, 0x02, EKeyKind::P256},
    {"Li Wei", "Acme Trading", 900, 1095, 0x03, EKeyKind::Rsa},
    {"Li Wei", "Acme Trading", 500, 1095, 0x04, EKeyKind::P384},
    {"Li Wei", "Acme Trading", 120, 1095, 0x04, EKeyKind::P384},  // renewed, same key pair
    {"Wang Fang", "Acme Trading", 340, 390, 0x05, EKeyKind::P256},
    {"Old Server", "Example Org", 2500, 730, 0x06, EKeyKind::Rsa},
    {"陈静", "上海某银行", 550, 365, 0x07, EKeyKind::Ed25519},
    {"Zhao Lei", "深圳某公司", 90, 1095, 0x08, EKeyKind::P256},
    {"刘洋", "北京某科技有限公司", 360, 730, 0x0A, EKeyKind::Rsa},
};

// A key pair made on the token; its public key, for the certificate.
Bytes MakeKeyPair(CSoftHsmToken& token, const Bytes& id, EKeyKind kind)
{
    switch (kind) {
    case EKeyKind::P256: return token.GenerateEcKeyPair(id, "prime256v1");
    case EKeyKind::P384: return token.GenerateEcKeyPair(id, "secp384r1");
    case EKeyKind::Ed25519: return token.GenerateEdKeyPair(id);
    case EKeyKind::Rsa: break;
    }
    return token.GenerateKeyPair(id);
}

CTestCertificate Certificate(const DemoCert& c, std::time_t now)
{
    std::time_t issued = now - c.issuedDaysAgo * kDay;
    return CTestCertificate()
        .Add("C", "CN", CTestCertificate::kPrintable)
        .Add("O", c.organisation)
        .Add("CN", c.person)
        .NotBefore(issued)
        .NotAfter(issued + c.validDays * kDay);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: certpurge-demo-token FOLDER\n");
        return 2;
    }
    try {
        CSoftHsmToken token{std::string(argv[1])};
        std::time_t now = std::time(nullptr);
        std::map<unsigned char, Bytes> publicKeys;  // by key ID
        for (const DemoCert& c : kCerts) {
            if (!publicKeys.contains(c.keyId))
                publicKeys[c.keyId] = MakeKeyPair(token, Bytes{c.keyId}, c.key);
            token.ImportCertificate(Certificate(c, now).PublicKey(publicKeys[c.keyId]).Der(), Bytes{c.keyId}, c.person);
        }
        std::printf("%s\n", token.Folder().File("softhsm2.conf").c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "certpurge-demo-token: %s\n", e.what());
        return 1;
    }
    return 0;
}
