#include "CTokenSimModule.h"

#include "CSoftHsmToken.h"

#include <cstring>

#include <gtest/gtest.h>

namespace testsupport {

CTokenSimModule::CTokenSimModule(const char* path)
{
    if (m_library.Load(path) != 0)
        throw std::runtime_error("cannot load the simulator: " + m_library.LastError());
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(m_library.Symbol("C_GetFunctionList"));
    if (getList == nullptr || getList(&m_pList) != CKR_OK)
        throw std::runtime_error("the simulator gives no function list");
}

CTokenSimModule::~CTokenSimModule()
{
    m_pList->C_Finalize(nullptr);
}

void CTokenSimModule::Initialize()
{
    ASSERT_EQ(m_pList->C_Initialize(nullptr), CKR_OK);
}

std::vector<CK_SLOT_ID> CTokenSimModule::Slots(bool tokenPresent) const
{
    CK_SLOT_ID slots[16];
    CK_ULONG count = 16;
    CK_RV rv = m_pList->C_GetSlotList(tokenPresent ? CK_TRUE : CK_FALSE, slots, &count);
    EXPECT_EQ(rv, CKR_OK);
    return rv == CKR_OK ? std::vector<CK_SLOT_ID>(slots, slots + count) : std::vector<CK_SLOT_ID>{};
}

CK_SESSION_HANDLE CTokenSimModule::OpenSession(CK_SLOT_ID slot) const
{
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    EXPECT_EQ(m_pList->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session), CKR_OK);
    return session;
}

CK_RV CTokenSimModule::Login(CK_SESSION_HANDLE session) const
{
    auto pin = reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(CSoftHsmToken::kUserPin));
    return m_pList->C_Login(session, CKU_USER, pin, std::strlen(CSoftHsmToken::kUserPin));
}

std::vector<CK_OBJECT_HANDLE> CTokenSimModule::Find(CK_SESSION_HANDLE session, CK_OBJECT_CLASS cls) const
{
    CK_ATTRIBUTE templ = {CKA_CLASS, &cls, sizeof cls};
    std::vector<CK_OBJECT_HANDLE> found;
    EXPECT_EQ(m_pList->C_FindObjectsInit(session, &templ, 1), CKR_OK);
    CK_OBJECT_HANDLE batch[16];
    CK_ULONG n = 0;
    while (m_pList->C_FindObjects(session, batch, 16, &n) == CKR_OK && n > 0)
        found.insert(found.end(), batch, batch + n);
    EXPECT_EQ(m_pList->C_FindObjectsFinal(session), CKR_OK);
    return found;
}

std::vector<CK_SLOT_ID> CTokenSimModule::DrainEvents() const
{
    std::vector<CK_SLOT_ID> events;
    CK_SLOT_ID slot = 0;
    while (m_pList->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr) == CKR_OK)
        events.push_back(slot);
    return events;
}

}  // namespace testsupport
