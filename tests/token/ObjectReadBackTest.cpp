#include "token/CObjectReadBack.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <ostream>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// What a module's C_GetAttributeValue gives back for one object: a value
// left out is one the module would not give.
struct SObjectRead {
    const char* what;
    CK_KEY_TYPE askedType;  // CK_UNAVAILABLE_INFORMATION: the search named none
    std::optional<CK_OBJECT_CLASS> cls;
    std::optional<Bytes> id;
    std::optional<CK_KEY_TYPE> keyType;
    bool bWritesNothing;  // answers CKR_OK and writes nothing at all
    bool bMatches;
};

void PrintTo(const SObjectRead& read, std::ostream* os)
{
    *os << read.what;
}

Bytes BytesOf(CK_ULONG value)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
    return Bytes(bytes, bytes + sizeof value);
}

// Answers the template as a module would: a value that does not fit gives
// CK_UNAVAILABLE_INFORMATION and CKR_BUFFER_TOO_SMALL.
CK_RV Answer(const SObjectRead& read, CK_ATTRIBUTE* attrs, CK_ULONG count)
{
    if (read.bWritesNothing)
        return CKR_OK;
    CK_RV rv = CKR_OK;
    for (CK_ULONG i = 0; i < count; ++i) {
        Bytes value;
        if (attrs[i].type == CKA_CLASS && read.cls) {
            value = BytesOf(*read.cls);
        } else if (attrs[i].type == CKA_ID && read.id) {
            value = *read.id;
        } else if (attrs[i].type == CKA_KEY_TYPE && read.keyType) {
            value = BytesOf(*read.keyType);
        } else {
            attrs[i].ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_ATTRIBUTE_TYPE_INVALID;
            continue;
        }
        if (value.size() > attrs[i].ulValueLen) {
            attrs[i].ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_BUFFER_TOO_SMALL;
            continue;
        }
        if (!value.empty())
            std::memcpy(attrs[i].pValue, value.data(), value.size());
        attrs[i].ulValueLen = value.size();
    }
    return rv;
}

class ObjectReadBackTest : public ::testing::TestWithParam<SObjectRead> {};

const Bytes kAsked = {0x11, 0x00, 0x22};

}  // namespace

// A private key asked for under 11 00 22 counts only when it reads back so.
TEST_P(ObjectReadBackTest, CountsOnlyWhatReadsBackAsAsked)
{
    const SObjectRead& read = GetParam();
    CObjectReadBack readBack(CKO_PRIVATE_KEY, kAsked.data(), kAsked.size(), read.askedType);
    CK_RV rv = CObjectReadBack::ReadResult(Answer(read, readBack.Template(), readBack.Count()));
    ASSERT_EQ(rv, CKR_OK);
    EXPECT_EQ(readBack.Matches(), read.bMatches) << readBack.Mismatch();
    if (read.bMatches) {
        EXPECT_EQ(readBack.KeyType(), read.keyType.value_or(CK_UNAVAILABLE_INFORMATION));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Reads, ObjectReadBackTest,
    ::testing::Values(
        SObjectRead{"as asked", CKK_EC, CKO_PRIVATE_KEY, kAsked, CKK_EC, false, true},
        SObjectRead{"no type asked: any", CK_UNAVAILABLE_INFORMATION, CKO_PRIVATE_KEY, kAsked, CKK_RSA, false, true},
        SObjectRead{"longer ID, C-string equal", CKK_EC, CKO_PRIVATE_KEY, Bytes{0x11, 0x00, 0x22, 0x00}, CKK_EC, false, false},
        SObjectRead{"shorter ID, C-string equal", CKK_EC, CKO_PRIVATE_KEY, Bytes{0x11}, CKK_EC, false, false},
        SObjectRead{"another ID", CKK_EC, CKO_PRIVATE_KEY, Bytes{0x11, 0x00, 0x23}, CKK_EC, false, false},
        SObjectRead{"no ID", CKK_EC, CKO_PRIVATE_KEY, std::nullopt, CKK_EC, false, false},
        SObjectRead{"a public key", CKK_EC, CKO_PUBLIC_KEY, kAsked, CKK_EC, false, false},
        SObjectRead{"another type", CKK_EC, CKO_PRIVATE_KEY, kAsked, CKK_RSA, false, false},
        SObjectRead{"type not given", CKK_EC, CKO_PRIVATE_KEY, kAsked, std::nullopt, false, false},
        SObjectRead{"CKR_OK, nothing written", CKK_EC, std::nullopt, std::nullopt, std::nullopt, true, false}));

TEST(ObjectReadBack, CertificatesAreReadByClassAndIdOnly)
{
    const Bytes id = {0x02};
    CObjectReadBack readBack(CKO_CERTIFICATE, id.data(), id.size());
    EXPECT_EQ(readBack.Count(), 2u);
    SObjectRead cert{"certificate", CK_UNAVAILABLE_INFORMATION, CKO_CERTIFICATE, id, std::nullopt, false, true};
    EXPECT_EQ(CObjectReadBack::ReadResult(Answer(cert, readBack.Template(), readBack.Count())), CKR_OK);
    EXPECT_TRUE(readBack.Matches());
    EXPECT_EQ(CObjectReadBack::ReadResult(CKR_DEVICE_REMOVED), CKR_DEVICE_REMOVED);
}
