#include "CBenchToken.h"

#include "CTestCertificate.h"

#include <cstdio>
#include <filesystem>

using testsupport::Bytes;
using testsupport::CTestCertificate;

CBenchToken::CBenchToken(int count, bool bWithKeys) : m_nCount(count)
{
    for (int i = 0; i < count; ++i)
        AddCertificate(i, bWithKeys);
}

void CBenchToken::AddCertificate(int index, bool bWithKeys)
{
    // Distinct issue dates keep the list's order and marks stable.
    char notBefore[32];
    std::snprintf(notBefore, sizeof notBefore, "2020%02d01000000Z", index % 12 + 1);
    bool expired = index % 3 == 2;
    CTestCertificate cert;
    cert.Add("C", "CN").Add("O", "Bench").Add("CN", "User " + std::to_string(index));
    cert.NotBefore(notBefore).NotAfter(expired ? "20210101000000Z" : "20400101000000Z");
    // One byte while it tells them apart, as on the small tokens measured before.
    const unsigned n = static_cast<unsigned>(index) + 1;
    Bytes id = n < 256 ? Bytes{static_cast<unsigned char>(n)}
                       : Bytes{static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n & 0xFF)};
    if (bWithKeys)
        m_sim.SoftHsm().AddCertificateWithKeys(cert, id);
    else
        m_sim.SoftHsm().ImportCertificate(cert.Der(), id);
}

std::string CBenchToken::MakeFolder(const std::string& name)
{
    std::string path = m_sim.SoftHsm().Folder().File(name);
    std::filesystem::create_directories(path);
    return path;
}
