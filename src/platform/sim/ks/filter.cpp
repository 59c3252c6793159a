// Simulated KS filters: CreateFileW on an interface path, IOCTL_KS_PROPERTY requests through
// DeviceIoControl, and the virtual device's driver behind them.
#include "platform/guids.h"
#include "platform/kernel.h"
#include "platform/sim/ks/state.h"
#include "platform/sim/machine.h"

#include <algorithm>
#include <cstring>

namespace sim::ks {
namespace {

struct FilterHandle : KernelObject {
    std::shared_ptr<Filter> filter;
    platform::WideString path;
    unsigned generation;

    FilterHandle(std::shared_ptr<Filter> opened, unsigned current)
        : filter(std::move(opened)), path(filter->config.path), generation(current) {}

    void Closed() override {
        {
            auto& devices = State();
            std::lock_guard<std::mutex> guard(devices.lock);
            if (generation == devices.generation) {
                --devices.openHandles;
            }
        }
        Record("CloseHandle " + Narrow(path));
    }
};

// What the filter wrote into the reply and what the caller is told.
struct Answer {
    DWORD error = 0;
    DWORD bytesReturned = 0;
    std::string effect;
};

// A fixed-size property value, answered as KS answers a GET: the size needed for an empty
// buffer, too small otherwise. The driver writes `bytes` of it, also when it then fails.
Answer Reply(const void* value, DWORD size, DWORD bytes, DWORD failure, BYTE* out, DWORD outSize) {
    if (outSize == 0) {
        return {ERROR_MORE_DATA, size, {}};
    }
    if (outSize < size) {
        return {ERROR_INSUFFICIENT_BUFFER, 0, {}};
    }
    DWORD written = std::min(bytes, size);
    std::memcpy(out, value, written);
    return {failure, failure == 0 ? written : 0, {}};
}

// The driver's property handler. Lock held.
Answer Dispatch(Filter& filter, const platform::KSPROPERTY& property, BYTE* out, DWORD outSize) {
    if (platform::SameGuid(property.Set, platform::KSPROPSETID_General) &&
        property.Id == platform::KSPROPERTY_GENERAL_COMPONENTID &&
        property.Flags == KSPROPERTY_TYPE_GET) {
        return Reply(&filter.config.componentId, sizeof(platform::KSCOMPONENTID),
                     filter.config.componentIdBytes, filter.config.componentIdError, out, outSize);
    }
    if (!platform::SameGuid(property.Set, SyncPropertySet) || property.Id != SyncActiveProperty) {
        return {ERROR_NOT_FOUND, 0, {}};
    }
    if (property.Flags == KSPROPERTY_TYPE_GET) {
        ULONG value = filter.syncActive.value_or(0);
        return Reply(&value, sizeof(value), sizeof(value), 0, out, outSize);
    }
    if (property.Flags != KSPROPERTY_TYPE_SET) {
        return {ERROR_NOT_FOUND, 0, {}};
    }
    ULONG value = 0;
    if (outSize < sizeof(value)) {
        return {ERROR_INSUFFICIENT_BUFFER, 0, {}};
    }
    if (filter.config.syncActiveError != 0) {
        return {filter.config.syncActiveError, 0, {}};
    }
    std::memcpy(&value, out, sizeof(value));
    if (value > 1) {
        return {ERROR_INVALID_PARAMETER, 0, {}};
    }
    filter.syncActive = value;
    return {0, 0, "KsSet " + Narrow(filter.config.path) + " SyncActive=" + std::to_string(value)};
}

std::string Describe(const platform::KSPROPERTY& property) {
    std::string verb = property.Flags == KSPROPERTY_TYPE_GET ? "GET"
                       : property.Flags == KSPROPERTY_TYPE_SET
                           ? "SET"
                           : "flags=" + std::to_string(property.Flags);
    std::string set = platform::SameGuid(property.Set, platform::KSPROPSETID_General) ? "General"
                      : platform::SameGuid(property.Set, SyncPropertySet)
                          ? "Sync"
                          : FormatGuid(property.Set);
    return verb + " " + set + " id=" + std::to_string(property.Id);
}

HANDLE FailOpen(const std::string& entry, DWORD error) {
    Record(entry + Outcome(error));
    platform::SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

} // namespace

platform::WideString HandlePath(HANDLE handle) {
    auto object = std::dynamic_pointer_cast<FilterHandle>(LookupHandle(handle, HandleKind::File));
    return object ? object->path : platform::WideString();
}

} // namespace sim::ks

namespace platform {

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE) {
    using namespace sim::ks;
    if (!lpFileName) {
        sim::ReportFault("CreateFileW without a path");
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string entry = "CreateFileW " + sim::Narrow(lpFileName) +
                        " access=" + Hex(dwDesiredAccess) + " share=" + Hex(dwShareMode) +
                        " disposition=" + std::to_string(dwCreationDisposition) +
                        " attributes=" + Hex(dwFlagsAndAttributes) + " ";
    if (sim::ShouldFail("CreateFileW")) {
        return FailOpen(entry, ERROR_GEN_FAILURE);
    }
    std::shared_ptr<FilterHandle> handle;
    {
        auto& devices = State();
        std::lock_guard<std::mutex> guard(devices.lock);
        auto filter = FindFilter(devices, lpFileName);
        DWORD error = !filter || !filter->present ? ERROR_FILE_NOT_FOUND : filter->config.openError;
        if (error != 0) {
            return FailOpen(entry, error);
        }
        ++filter->opens;
        ++devices.openHandles;
        handle = std::make_shared<FilterHandle>(filter, devices.generation);
    }
    sim::Record(entry + Outcome(0));
    return sim::InsertHandle(sim::HandleKind::File, handle);
}

BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                            DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                            LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped) {
    using namespace sim::ks;
    auto handle =
        std::dynamic_pointer_cast<FilterHandle>(sim::LookupHandle(hDevice, sim::HandleKind::File));
    std::string fault;
    if (!handle) {
        fault = "a handle that is not an open filter";
    } else if ((!lpInBuffer && nInBufferSize != 0) || (!lpOutBuffer && nOutBufferSize != 0)) {
        fault = "a buffer size but no buffer";
    } else if (!lpBytesReturned && !lpOverlapped) {
        fault = "neither a bytes-returned count nor an OVERLAPPED";
    } else if (dwIoControlCode == IOCTL_KS_PROPERTY && nInBufferSize < sizeof(KSPROPERTY)) {
        fault = "a KSPROPERTY of " + std::to_string(nInBufferSize) + " bytes";
    }
    if (!fault.empty()) {
        sim::ReportFault("DeviceIoControl with " + fault);
        SetLastError(handle ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto* in = static_cast<const BYTE*>(lpInBuffer);
    auto* out = static_cast<BYTE*>(lpOutBuffer);
    Request request{sim::Narrow(handle->path),
                    dwIoControlCode,
                    std::vector<BYTE>(in, in + nInBufferSize),
                    nInBufferSize,
                    nOutBufferSize,
                    {},
                    0};
    // The whole output buffer is probed, as the kernel does for a METHOD_NEITHER request.
    std::vector<BYTE> sent(out, out + nOutBufferSize);
    KSPROPERTY property{};
    std::string entry = "DeviceIoControl " + request.path + " ";
    if (dwIoControlCode == IOCTL_KS_PROPERTY) {
        std::memcpy(&property, in, sizeof(property));
        entry += Describe(property);
        if (property.Flags == KSPROPERTY_TYPE_SET) {
            request.output = sent;
        }
    } else {
        entry += "code=" + Hex(dwIoControlCode);
    }
    entry += " in=" + std::to_string(nInBufferSize) + " out=" + std::to_string(nOutBufferSize);

    Answer answer;
    bool injected = sim::ShouldFail("DeviceIoControl");
    {
        auto& devices = State();
        std::lock_guard<std::mutex> guard(devices.lock);
        if (injected) {
            answer.error = ERROR_GEN_FAILURE;
        } else if (!handle->filter->present) {
            answer.error = ERROR_DEVICE_REMOVED;
        } else if (dwIoControlCode != IOCTL_KS_PROPERTY) {
            answer.error = ERROR_INVALID_FUNCTION;
        } else {
            answer = Dispatch(*handle->filter, property, out, nOutBufferSize);
        }
        request.error = answer.error;
        devices.requests.push_back(std::move(request));
    }
    sim::Record(entry + " " + Outcome(answer.error));
    if (!answer.effect.empty()) {
        sim::Record(answer.effect);
    }
    if (lpBytesReturned) {
        *lpBytesReturned = answer.bytesReturned;
    }
    if (answer.error != 0) {
        SetLastError(answer.error);
        return FALSE;
    }
    return TRUE;
}

} // namespace platform
