// Contract cases of ole32: apartment balance per thread, and CoCreateInstance of the device
// enumerator with the interface ids and failures the endpoint sync relies on.
#include "contract.h"

#include "platform/com.h"
#include "platform/guids.h"

#include <cstdint>
#include <thread>

namespace {

// No class is registered under this id.
constexpr GUID UnregisteredClass = {
    0x6E1A7C53, 0x0B2D, 0x4F5E, {0x9A, 0x41, 0x3C, 0x7D, 0x12, 0xE8, 0x55, 0x0F}};

void* const Poison = reinterpret_cast<void*>(static_cast<std::uintptr_t>(0xDEADBEEF));

HRESULT CreateEnumerator(REFIID iid, void** object) {
    return platform::CoCreateInstance(platform::CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL, iid,
                                      object);
}

// Runs body on a new thread, whose apartment state nothing before it has touched.
template <typename Body> void OnNewThread(Body body) {
    std::thread(body).join();
}

// First in the suite: once any thread of a process holds the multithreaded apartment, Windows
// lets every thread create objects in it, so this must run before anything initialises COM.
TEST(ComCreate, WithoutCoInitializeFailsNotInitialized) {
    OnNewThread([] {
        void* object = Poison;
        EXPECT_EQ(CreateEnumerator(platform::IID_IMMDeviceEnumerator, &object),
                  CO_E_NOTINITIALIZED);
        EXPECT_EQ(object, nullptr);
    });
}

TEST(ComApartment, FirstInitializeIsOkFurtherOnesFalse) {
    OnNewThread([] {
        EXPECT_EQ(platform::CoInitialize(nullptr), S_OK);
        EXPECT_EQ(platform::CoInitialize(nullptr), S_FALSE);
        platform::CoUninitialize();
        void* object = Poison;
        // One open call is left, so the apartment still serves.
        ASSERT_EQ(CreateEnumerator(platform::IID_IMMDeviceEnumerator, &object), S_OK);
        static_cast<IUnknown*>(object)->Release();
        platform::CoUninitialize();
        object = Poison;
        EXPECT_EQ(CreateEnumerator(platform::IID_IMMDeviceEnumerator, &object),
                  CO_E_NOTINITIALIZED);
        EXPECT_EQ(object, nullptr);
    });
}

// The stop sequence uninitialises a thread whose apartment the endpoint sync already closed.
TEST(ComApartment, UnmatchedUninitializeDoesNothing) {
    OnNewThread([] {
        platform::CoUninitialize(); // never opened
        EXPECT_EQ(platform::CoInitialize(nullptr), S_OK);
        platform::CoUninitialize();
        platform::CoUninitialize(); // already closed
        platform::CoUninitialize();
        // No balance below zero was kept: the next CoInitialize opens the apartment anew.
        EXPECT_EQ(platform::CoInitialize(nullptr), S_OK);
        void* object = Poison;
        ASSERT_EQ(CreateEnumerator(platform::IID_IMMDeviceEnumerator, &object), S_OK);
        static_cast<IUnknown*>(object)->Release();
        platform::CoUninitialize();
    });
}

class ComCreateEnumerator : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(platform::CoInitialize(nullptr), S_OK); }
    void TearDown() override { platform::CoUninitialize(); }
};

TEST_F(ComCreateEnumerator, EnumeratorInterfaceIsHandedOut) {
    void* object = Poison;
    ASSERT_EQ(CreateEnumerator(platform::IID_IMMDeviceEnumerator, &object), S_OK);
    ASSERT_NE(object, nullptr);
    ASSERT_NE(object, Poison);
    auto* enumerator = static_cast<IMMDeviceEnumerator*>(object);
    // Through its own vtable: the object answers for the interface it was made as.
    void* again = Poison;
    ASSERT_EQ(enumerator->QueryInterface(platform::IID_IMMDeviceEnumerator, &again), S_OK);
    EXPECT_EQ(again, object);
    enumerator->Release();
    enumerator->Release();
}

// A wrong interface id fails and leaves no object behind.
TEST_F(ComCreateEnumerator, OtherInterfaceFailsNoInterface) {
    void* object = Poison;
    EXPECT_EQ(CreateEnumerator(platform::IID_IAudioEndpointVolume, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
}

// Every object gives its identity for IUnknown, and the enumerator interface is reached from it
// only by QueryInterface: COM's identity rule, not a cast.
TEST_F(ComCreateEnumerator, UnknownIsTheObjectsIdentity) {
    void* object = Poison;
    ASSERT_EQ(CreateEnumerator(platform::IID_IUnknown, &object), S_OK);
    auto* unknown = static_cast<IUnknown*>(object);
    void* enumerator = Poison;
    ASSERT_EQ(unknown->QueryInterface(platform::IID_IMMDeviceEnumerator, &enumerator), S_OK);
    void* identity = Poison;
    ASSERT_EQ(static_cast<IMMDeviceEnumerator*>(enumerator)
                  ->QueryInterface(platform::IID_IUnknown, &identity),
              S_OK);
    EXPECT_EQ(identity, object);
    static_cast<IUnknown*>(identity)->Release();
    static_cast<IMMDeviceEnumerator*>(enumerator)->Release();
    unknown->Release();
}

TEST_F(ComCreateEnumerator, UnknownClassIsNotRegistered) {
    void* object = Poison;
    EXPECT_EQ(platform::CoCreateInstance(UnregisteredClass, nullptr, CLSCTX_ALL,
                                         platform::IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
}

} // namespace
