#include "inventory/BuildCertTable.h"

#include <gtest/gtest.h>

TEST(MakeDisplayName, PersonThenOrganisationSkippingTheFirstField)
{
    EXPECT_EQ(MakeDisplayName("C=CN, O=Acme, CN=Zhang San"), "Zhang San's Acme ID");
    EXPECT_EQ(MakeDisplayName("CN=Zhang San, O=Acme"), "Acme ID");
    EXPECT_EQ(MakeDisplayName("O=Acme, CN=Zhang San"), "Zhang San's ");
    EXPECT_EQ(MakeDisplayName("C=CN, CN=Li"), "Li's ");
    EXPECT_EQ(MakeDisplayName("C=CN, CN=A, O=Org, CN=B"), "A's B's Org ID");
    EXPECT_EQ(MakeDisplayName("C=CN, L=Beijing"), "");
    EXPECT_EQ(MakeDisplayName(""), "");
}

TEST(MakeDisplayName, SplitsAtEveryCommaQuotesOrNot)
{
    EXPECT_EQ(MakeDisplayName("C=CN, O=\"Acme, Inc.\", CN=Li"), "Li's \"Acme ID");
}

TEST(MakeDisplayName, KeysMatchExactlyAndValuesEndAtTheNextEquals)
{
    EXPECT_EQ(MakeDisplayName("C=CN, cn=lower, CN =spaced,  CN=two blanks"), "");
    EXPECT_EQ(MakeDisplayName("C=CN, CN=a=b, O"), "a's ");
    EXPECT_EQ(MakeDisplayName("C=CN, O="), " ID");
    EXPECT_EQ(MakeDisplayName("C=CN, OU=Unit, CN=张三, O=某公司"), "张三's 某公司 ID");
}

TEST(MakeDateString, FourteenDigits)
{
    SYSTEMTIME t;
    t.wYear = 2024;
    t.wMonth = 2;
    t.wDay = 9;
    t.wHour = 3;
    t.wMinute = 4;
    t.wSecond = 5;
    EXPECT_EQ(MakeDateString(t), "20240209030405");
    EXPECT_EQ(MakeDateString(SYSTEMTIME{}), "00000000000000");
}
