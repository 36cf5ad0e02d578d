#include "CSimulatorTest.h"
#include "tools/tokensim/control/CTextFile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using testsupport::Bytes;

namespace {

using TokenSimPresence = CSimulatorTest;

using TokenSimAllSlots = CAllSlotsSimulatorTest;

}  // namespace

TEST_F(TokenSimPresence, ShowsOneSlotForTheInitialisedTokenOnly)
{
    EXPECT_EQ(module.Slots(false), std::vector<CK_SLOT_ID>{token.Slot()});
    EXPECT_EQ(module.Slots(true), std::vector<CK_SLOT_ID>{token.Slot()});
}

TEST_F(TokenSimAllSlots, ShowsTheSpareSlotOnRequest)
{
    std::vector<CK_SLOT_ID> slots = module.Slots(false);
    ASSERT_EQ(slots.size(), 2u);
    CK_SLOT_ID spare = slots[0] == token.Slot() ? slots[1] : slots[0];
    EXPECT_NE(std::find(slots.begin(), slots.end(), token.Slot()), slots.end());
    CK_TOKEN_INFO info{};
    ASSERT_EQ(module->C_GetTokenInfo(spare, &info), CKR_OK);
    EXPECT_FALSE(info.flags & CKF_TOKEN_INITIALIZED);
}

// A removable reader beside a fixed slot (a software token, a TPM): the
// kind of each slot as set, its presence as ever.
TEST_F(TokenSimAllSlots, SlotsOfEachKindSideBySide)
{
    const std::vector<CK_SLOT_ID> slots = module.Slots(false);
    ASSERT_EQ(slots.size(), 2u);
    for (CK_SLOT_ID slot : slots)
        EXPECT_EQ(SlotFlags(slot) & CTokenSimState::kSlotKindFlags, CKF_REMOVABLE_DEVICE) << "unset: removable";

    token.Control().SetSlotFlags(CSlotSelector::Index(0), 0);
    token.Control().SetSlotFlags(slots[1], CKF_REMOVABLE_DEVICE | CKF_HW_SLOT);
    EXPECT_EQ(SlotFlags(slots[0]) & (CTokenSimState::kSlotKindFlags | CKF_TOKEN_PRESENT), CKF_TOKEN_PRESENT);
    EXPECT_EQ(SlotFlags(slots[1]) & CTokenSimState::kSlotKindFlags, CKF_REMOVABLE_DEVICE | CKF_HW_SLOT);
    token.Control().SetSlotFlags(CSlotSelector::Index(1), CKF_HW_SLOT);
    EXPECT_EQ(SlotFlags(slots[1]) & CTokenSimState::kSlotKindFlags, CKF_HW_SLOT);
    token.Control().Remove(slots[0]);
    EXPECT_EQ(SlotFlags(slots[0]) & (CTokenSimState::kSlotKindFlags | CKF_TOKEN_PRESENT), 0u);

    // "all" replaces every setting; clear takes them away.
    token.Control().SetSlotFlags(CSlotSelector::All(), CKF_HW_SLOT);
    for (CK_SLOT_ID slot : slots)
        EXPECT_EQ(SlotFlags(slot) & CTokenSimState::kSlotKindFlags, CKF_HW_SLOT);
    token.Control().Clear();
    for (CK_SLOT_ID slot : slots)
        EXPECT_EQ(SlotFlags(slot) & CTokenSimState::kSlotKindFlags, CKF_REMOVABLE_DEVICE);
}

TEST_F(TokenSimPresence, RemovedTokenAnswersAsAbsent)
{
    const CK_SLOT_ID slot = token.Slot();
    EXPECT_TRUE(SlotFlags(slot) & CKF_TOKEN_PRESENT);

    token.Control().Remove(slot);

    EXPECT_TRUE(module.Slots(true).empty());
    EXPECT_EQ(module.Slots(false), std::vector<CK_SLOT_ID>{slot});
    EXPECT_FALSE(SlotFlags(slot) & CKF_TOKEN_PRESENT);
    EXPECT_TRUE(SlotFlags(slot) & CKF_REMOVABLE_DEVICE);
    CK_TOKEN_INFO info{};
    EXPECT_EQ(module->C_GetTokenInfo(slot, &info), CKR_TOKEN_NOT_PRESENT);
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    EXPECT_EQ(module->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session), CKR_TOKEN_NOT_PRESENT);
    CK_ULONG count = 0;
    EXPECT_EQ(module->C_GetMechanismList(slot, nullptr, &count), CKR_TOKEN_NOT_PRESENT);

    token.Control().Insert(slot);

    EXPECT_EQ(module.Slots(true), std::vector<CK_SLOT_ID>{slot});
    EXPECT_TRUE(SlotFlags(slot) & CKF_TOKEN_PRESENT);
    ASSERT_EQ(module->C_GetTokenInfo(slot, &info), CKR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.label), 14), "certpurge-test");
}

TEST_F(TokenSimPresence, UnknownSlotIsInvalid)
{
    CK_SLOT_INFO info{};
    EXPECT_EQ(module->C_GetSlotInfo(token.Slot() + 1, &info), CKR_SLOT_ID_INVALID);
    CK_TOKEN_INFO tokenInfo{};
    EXPECT_EQ(module->C_GetTokenInfo(token.Slot() + 1, &tokenInfo), CKR_SLOT_ID_INVALID);
}

TEST_F(TokenSimPresence, SessionsAreGoneWithTheToken)
{
    CK_SESSION_HANDLE session = module.OpenSession(token.Slot());
    CK_SESSION_INFO info{};
    ASSERT_EQ(module->C_GetSessionInfo(session, &info), CKR_OK);

    token.Control().Remove(token.Slot());
    EXPECT_EQ(module->C_GetSessionInfo(session, &info), CKR_DEVICE_REMOVED);
    EXPECT_EQ(module->C_FindObjectsInit(session, nullptr, 0), CKR_DEVICE_REMOVED);

    token.Control().Insert(token.Slot());
    EXPECT_EQ(module->C_GetSessionInfo(session, &info), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(module->C_CloseSession(session), CKR_SESSION_HANDLE_INVALID);

    CK_SESSION_HANDLE fresh = module.OpenSession(token.Slot());
    EXPECT_NE(fresh, session);
    EXPECT_EQ(module->C_GetSessionInfo(fresh, &info), CKR_OK);
}

TEST_F(TokenSimPresence, LoginEndsWithRemovalEvenWhenNoCallSawTheTokenOut)
{
    token.SoftHsm().GenerateKeyPair(Bytes{0x01});
    CK_SESSION_HANDLE session = module.OpenSession(token.Slot());
    ASSERT_EQ(module.Login(session), CKR_OK);
    EXPECT_EQ(module.Find(session, CKO_PRIVATE_KEY).size(), 1u);
    // Without a removal the login holds.
    EXPECT_EQ(module.Login(module.OpenSession(token.Slot())), CKR_USER_ALREADY_LOGGED_IN);

    token.Control().Remove(token.Slot());
    token.Control().Insert(token.Slot());

    CK_SESSION_HANDLE fresh = module.OpenSession(token.Slot());
    EXPECT_TRUE(module.Find(fresh, CKO_PRIVATE_KEY).empty());
    EXPECT_EQ(module.Login(fresh), CKR_OK);
    EXPECT_EQ(module.Find(fresh, CKO_PRIVATE_KEY).size(), 1u);
}

TEST_F(TokenSimPresence, ObjectsAreThereAfterReinsertion)
{
    const Bytes value = {0x30, 0x03, 0x02, 0x01, 0x07};
    token.SoftHsm().ImportCertificate(value, Bytes{0x42});
    token.Control().Remove(token.Slot());
    EXPECT_TRUE(module.Slots(true).empty());
    token.Control().Insert(token.Slot());

    CK_SESSION_HANDLE session = module.OpenSession(token.Slot());
    std::vector<CK_OBJECT_HANDLE> certs = module.Find(session, CKO_CERTIFICATE);
    ASSERT_EQ(certs.size(), 1u);
    Bytes read(value.size());
    CK_ATTRIBUTE attr = {CKA_VALUE, read.data(), read.size()};
    ASSERT_EQ(module->C_GetAttributeValue(session, certs[0], &attr, 1), CKR_OK);
    EXPECT_EQ(read, value);
}

TEST_F(TokenSimPresence, SlotsCanBeNamedByIndexOrAll)
{
    token.Control().Remove(CSlotSelector::Index(1));
    EXPECT_EQ(module.Slots(true).size(), 1u);
    token.Control().Remove(CSlotSelector::Index(0));
    EXPECT_TRUE(module.Slots(true).empty());
    token.Control().Insert(CSlotSelector::All());
    EXPECT_EQ(module.Slots(true).size(), 1u);
    token.Control().Remove(CSlotSelector::All());
    EXPECT_TRUE(module.Slots(true).empty());
}

TEST_F(TokenSimPresence, BrokenStateFileLeavesTheLastGoodStateInForce)
{
    token.Control().Remove(token.Slot());
    ASSERT_TRUE(module.Slots(true).empty());

    CTextFile::Replace(token.StatePath(), "tokensim-state 1\nmode normal\n");  // cut short
    EXPECT_TRUE(module.Slots(true).empty());
    CTextFile::Replace(token.StatePath(), "rubbish");
    EXPECT_TRUE(module.Slots(true).empty());

    // No file at all: every token in.
    std::remove(token.StatePath().c_str());
    EXPECT_EQ(module.Slots(true).size(), 1u);
}
