#include "CSimulatorTest.h"

#include <atomic>
#include <thread>

using testsupport::Bytes;

namespace {

using TokenSimThreads = CSimulatorTest;

bool IsOneOf(CK_RV rv, std::initializer_list<CK_RV> allowed)
{
    return std::find(allowed.begin(), allowed.end(), rv) != allowed.end();
}

// Opens a session, reads the certificate and closes it again, as far as
// the token's presence lets it; counts any answer a reader would not give.
void ReadCertificates(const testsupport::CTokenSimModule& module, CK_SLOT_ID slot, std::atomic<int>& unexpected)
{
    for (int i = 0; i < 100; ++i) {
        CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
        CK_RV rv = module->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session);
        if (rv != CKR_OK) {
            unexpected += rv != CKR_TOKEN_NOT_PRESENT;
            continue;
        }
        const std::initializer_list<CK_RV> lost = {CKR_OK, CKR_DEVICE_REMOVED, CKR_SESSION_HANDLE_INVALID};
        CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
        CK_ATTRIBUTE templ = {CKA_CLASS, &cls, sizeof cls};
        CK_OBJECT_HANDLE found = CK_INVALID_HANDLE;
        CK_ULONG count = 0;
        unexpected += !IsOneOf(module->C_FindObjectsInit(session, &templ, 1), lost);
        unexpected += !IsOneOf(module->C_FindObjects(session, &found, 1, &count), lost);
        unexpected += !IsOneOf(module->C_FindObjectsFinal(session), lost);
        CK_ATTRIBUTE value = {CKA_VALUE, nullptr, 0};
        if (count == 1)
            unexpected += !IsOneOf(module->C_GetAttributeValue(session, found, &value, 1), lost);
        unexpected += !IsOneOf(module->C_CloseSession(session), lost);
    }
}

}  // namespace

TEST_F(TokenSimThreads, ConcurrentCallsAndRemovalsKeepEveryEvent)
{
    token.SoftHsm().ImportCertificate(Bytes{0x30, 0x00}, Bytes{0x01});
    constexpr int kToggles = 50;
    std::atomic<int> unexpected{0};
    std::atomic<bool> toggling{true};
    std::vector<CK_SLOT_ID> events;

    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back(ReadCertificates, std::cref(module), token.Slot(), std::ref(unexpected));
    std::thread poller([&] {
        while (toggling) {
            std::vector<CK_SLOT_ID> batch = module.DrainEvents();
            events.insert(events.end(), batch.begin(), batch.end());
        }
    });
    for (int i = 0; i < kToggles; ++i) {
        token.Control().Remove(token.Slot());
        token.Control().Insert(token.Slot());
    }
    for (std::thread& t : threads)
        t.join();
    toggling = false;
    poller.join();
    std::vector<CK_SLOT_ID> rest = module.DrainEvents();
    events.insert(events.end(), rest.begin(), rest.end());

    EXPECT_EQ(unexpected, 0);
    EXPECT_EQ(events, std::vector<CK_SLOT_ID>(2 * kToggles, token.Slot()));
    CK_SESSION_HANDLE session = module.OpenSession(token.Slot());
    EXPECT_EQ(module.Find(session, CKO_CERTIFICATE).size(), 1u);
}
