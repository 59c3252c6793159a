#include "endpoint/endpoint_sync.h"

#include "driver/ks_channel.h"
#include "platform/com.h"
#include "platform/guids.h"
#include "platform/handle.h"
#include "platform/memory.h"

#include <new>
#include <utility>

EndpointDevice* HardwareEndpoint = nullptr;
EndpointDevice* VirtualEndpoint = nullptr;
VolumeChange* VirtualToHardwareChange = nullptr;
VolumeChange* HardwareToVirtualChange = nullptr;

namespace {

// Constructs an object in storage of the platform's heap. Exhaustion arrives as std::bad_alloc,
// like any failed allocation in the constructors; storage whose construction throws (a failed
// binding throws its HRESULT) is freed before the exception goes on. The object is freed by an
// ordinary delete-expression, which DestroyEndpointDevice and the callbacks' owner use.
template <typename Object, typename... Arguments> Object* Allocate(Arguments&&... arguments) {
    void* storage = platform::AllocateObject(sizeof(Object));
    if (storage == nullptr) {
        throw std::bad_alloc();
    }
    try {
        return new (storage) Object(std::forward<Arguments>(arguments)...);
    } catch (...) {
        ::operator delete(storage);
        throw;
    }
}

// Both callbacks go before any endpoint is released, so no callback can write to, or unregister
// from, a released endpoint; each unregistration returns only when its callback is not running.
void DestroyEndpointSync() {
    if (VirtualToHardwareChange) {
        delete std::exchange(VirtualToHardwareChange, nullptr);
    }
    if (HardwareToVirtualChange) {
        delete std::exchange(HardwareToVirtualChange, nullptr);
    }
    if (HardwareEndpoint) {
        DestroyEndpointDevice(std::exchange(HardwareEndpoint, nullptr));
    }
    if (VirtualEndpoint) {
        DestroyEndpointDevice(std::exchange(VirtualEndpoint, nullptr));
    }
}

// Steps that may throw: a failed binding throws its HRESULT, an exhausted heap std::bad_alloc.
// Every allocation comes before the driver flag, so a throw leaves the flag unwritten.
void BuildEndpointSync(IMMDeviceEnumerator* enumerator) {
    // The hardware endpoint first: when it is missing, the virtual one is not even tried.
    HardwareEndpoint =
        Allocate<EndpointDevice>(HardwarePrimaryName, HardwareSecondaryName, enumerator);
    VirtualEndpoint =
        Allocate<EndpointDevice>(VirtualPrimaryName, VirtualSecondaryName, enumerator);
    // Both callbacks before the copy: no change between binding and copy is lost, and the copy's
    // writes come back to the virtual-to-hardware callback marked as ours and are dropped.
    VirtualToHardwareChange = Allocate<VolumeChange>(VirtualEndpoint, HardwareEndpoint);
    HardwareToVirtualChange = Allocate<VolumeChange>(HardwareEndpoint, VirtualEndpoint);
    NotifyDriverSyncState(1);
    CopyEndpointVolume(HardwareEndpoint, VirtualEndpoint);
}

} // namespace

void StartEndpointSync() {
    platform::ComPtr<IMMDeviceEnumerator> enumerator;
    HRESULT hr =
        platform::CoCreateInstance(platform::CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL,
                                   platform::IID_IMMDeviceEnumerator, enumerator.put_void());
    if (FAILED(hr)) {
        return;
    }
    // A sync that cannot be built stays idle until the next device event; the failure itself is
    // dropped. Whatever was built is taken down again, so no half-built sync survives.
    try {
        BuildEndpointSync(enumerator.get());
    } catch (HRESULT) {
        DestroyEndpointSync();
    } catch (const std::bad_alloc&) {
        DestroyEndpointSync();
    }
    // The enumerator is released last, whatever the outcome (ComPtr).
}

void StopEndpointSync() {
    DestroyEndpointSync();
    NotifyDriverSyncState(0);
}

void RestartEndpointSync() {
    StopEndpointSync();
    StartEndpointSync();
}

void BeginEndpointSync() {
    // Result not looked at: S_FALSE or a failure leave the start to find out for itself.
    platform::CoInitialize(nullptr);
    StartEndpointSync();
}

void EndEndpointSync() {
    StopEndpointSync();
    platform::CoUninitialize();
}
