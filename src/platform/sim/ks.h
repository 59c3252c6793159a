// The simulated kernel-streaming render devices: the present KS render device interfaces
// (SetupAPI), the filter behind each (CreateFileW, DeviceIoControl with IOCTL_KS_PROPERTY), and
// the virtual device's driver that keeps the sync-active flag.
//
// Each interface is listed in the order it was added: its member index in a device information
// set is its position among the present interfaces when the set was built. A filter answers
//   GET  KSPROPSETID_General / KSPROPERTY_GENERAL_COMPONENTID  with its KSCOMPONENTID (72 bytes)
//   SET  SyncPropertySet / SyncActiveProperty                  with a 4-byte value, 0 or 1
//   GET  SyncPropertySet / SyncActiveProperty                  with the flag kept
// and fails every other property with ERROR_NOT_FOUND and every other control code with
// ERROR_INVALID_FUNCTION. A reply buffer smaller than the value fails with
// ERROR_INSUFFICIENT_BUFFER (ERROR_MORE_DATA and the size needed when it is empty), as KS does.
//
// Journal entries (each followed by " [thread]"); "-> ok" or "-> error N" is the call's result:
//   SetupDiGetClassDevsW <class GUID> flags=0x12 -> ok
//   SetupDiEnumDeviceInterfaces index=0 -> <path>            (or -> error 259 past the last)
//   SetupDiGetDeviceInterfaceDetailW <path> size=0 -> error 122 required=<bytes>
//   SetupDiGetDeviceInterfaceDetailW <path> size=<bytes> -> ok
//   SetupDiDestroyDeviceInfoList
//   CreateFileW <path> access=0x80000000 share=0x3 disposition=3 attributes=0x80 -> ok
//   DeviceIoControl <path> GET General id=0 in=24 out=72 -> ok
//   DeviceIoControl <path> SET Sync id=17 in=24 out=4 -> ok
//   KsSet <path> SyncActive=1                                 (the driver took the flag)
//   CloseHandle <path>                                        (a filter handle was closed)
// The property set is "General", "Sync" or its GUID; the verb "GET", "SET" or "flags=N"; an
// input shorter than a KSPROPERTY shows "code=0x<code>" instead of the property.
//
// Failure injection: besides the per-interface error fields of RenderInterface, sim::FailCall
// with "SetupDiGetClassDevsW", "SetupDiEnumDeviceInterfaces", "SetupDiGetDeviceInterfaceDetailW",
// "CreateFileW" or "DeviceIoControl" fails that call with ERROR_GEN_FAILURE
// (ERROR_NOT_ENOUGH_MEMORY for SetupDiGetClassDevsW). Misuse (unknown or closed handles, wrong
// cbSize, sizes that do not fit the buffers) is reported with sim::ReportFault. The machine reads
// and probes every buffer over its whole claimed size, so a buffer smaller than claimed shows under
// AddressSanitizer.
#pragma once

#include "platform/ks.h"
#include "platform/types.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace sim::ks {

// The virtual device's driver: its product and its private property set.
inline constexpr GUID VirtualDeviceProduct = {
    0x63BC331B, 0x0DC7, 0x441F, {0x85, 0x90, 0x2E, 0xA9, 0x31, 0x96, 0x29, 0xB3}};
inline constexpr GUID SyncPropertySet = {
    0x03CEE026, 0xE4B7, 0x4BDF, {0x8F, 0x62, 0x93, 0xA0, 0xE6, 0xE3, 0x2E, 0x40}};
inline constexpr ULONG SyncActiveProperty = 17;

// One KS render device interface and the filter behind it. Each error field is 0 when that step
// succeeds; otherwise the step fails with that error code.
struct RenderInterface {
    platform::WideString path;
    platform::KSCOMPONENTID componentId{};
    DWORD enumerateError = 0; // SetupDiEnumDeviceInterfaces at this interface's index
    // The first detail call (no buffer) normally fails with ERROR_INSUFFICIENT_BUFFER and stores
    // the size; 0 makes it succeed, anything else fails it with that error (the size is stored
    // in every case, so that only the answer tells the caller to stop).
    DWORD sizeQueryError = ERROR_INSUFFICIENT_BUFFER;
    DWORD requiredSize = 0; // 0: the true size of the detail record; else reported instead
    DWORD detailError = 0;  // the second detail call (with a buffer)
    DWORD openError = 0;    // CreateFileW
    DWORD componentIdError = 0;
    // Bytes of the component id the filter writes into the reply (at most the reply's size), also
    // when it then fails the request: IOCTL_KS_PROPERTY hands the driver the caller's buffer.
    DWORD componentIdBytes = sizeof(platform::KSCOMPONENTID);
    DWORD syncActiveError = 0; // the SET of the sync-active flag
};

// A component id with the given product; the other fields are fixed values of this machine.
platform::KSCOMPONENTID ComponentId(const GUID& product);
// The virtual device's render interface, and the codec's (another product).
RenderInterface VirtualRenderInterface(const platform::WideString& path);
RenderInterface CodecRenderInterface(const platform::WideString& path);

// Arrival: the interface becomes present, after the present ones (one with the same path, compared
// without case, is replaced and keeps its place). Removal: it is no longer present; open
// handles to its filter then fail every request with ERROR_DEVICE_REMOVED. False when unknown.
void AddInterface(const RenderInterface& renderInterface);
bool RemoveInterface(const platform::WideString& path);

// One IOCTL request as the filter received it.
struct Request {
    std::string path;
    DWORD controlCode;
    std::vector<BYTE> input; // the input buffer, byte for byte (inputSize bytes)
    DWORD inputSize;
    DWORD outputSize;
    std::vector<BYTE> output; // for a SET, the output buffer as sent (the value), byte for byte
    DWORD error;              // 0 when the request succeeded
};
std::vector<Request> Requests();

// The last sync-active value the filter took; none before the first.
std::optional<ULONG> SyncActive(const platform::WideString& path);
// How many times the filter was opened.
std::size_t OpenCount(const platform::WideString& path);
// The path of the filter an open handle refers to, or empty.
platform::WideString HandlePath(HANDLE handle);
// Open filter handles and device information sets created since the last reset.
std::size_t OpenFilterHandles();
std::size_t OpenDeviceInfoSets();

} // namespace sim::ks
