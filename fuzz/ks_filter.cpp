// Render interfaces whose SetupAPI answers and kernel-streaming replies have any size and content:
// the filter match opens only a filter whose component id carries the virtual device's product,
// the lowest such, and every other handle and set is closed again.
#include "driver/ks_channel.h"
#include "fuzz_input.h"
#include "platform/kernel.h"
#include "platform/sim/ks.h"
#include "platform/sim/machine.h"

#include <cstring>
#include <vector>

namespace {

constexpr DWORD Errors[] = {0, ERROR_INSUFFICIENT_BUFFER, ERROR_GEN_FAILURE, ERROR_NOT_FOUND,
                            ERROR_MORE_DATA};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    sim::ResetMachine();
    std::vector<sim::ks::RenderInterface> interfaces;
    std::size_t count = input.Below(5);
    for (std::size_t i = 0; i < count; ++i) {
        auto flags = input.Take<std::uint8_t>();
        auto renderInterface =
            flags & 1 ? sim::ks::VirtualRenderInterface(WIDE("\\\\?\\filter#") +
                                                        platform::WideString(1, u'a' + i))
                      : sim::ks::CodecRenderInterface(WIDE("\\\\?\\filter#") +
                                                      platform::WideString(1, u'a' + i));
        if (flags & 2) {
            auto bytes = input.Below(73);
            std::vector<std::uint8_t> reply(72);
            for (auto& b : reply) {
                b = input.Take<std::uint8_t>();
            }
            std::memcpy(&renderInterface.componentId, reply.data(), 72);
            renderInterface.componentIdBytes = bytes;
        }
        if (flags & 4) {
            renderInterface.requiredSize = input.Take<std::uint16_t>();
        }
        if (flags & 8) {
            renderInterface.sizeQueryError = Errors[input.Below(std::size(Errors))];
            renderInterface.detailError = Errors[input.Below(std::size(Errors))];
        }
        if (flags & 16) {
            renderInterface.openError = Errors[input.Below(std::size(Errors))];
            renderInterface.componentIdError = Errors[input.Below(std::size(Errors))];
            renderInterface.syncActiveError = Errors[input.Below(std::size(Errors))];
        }
        if (flags & 32) {
            renderInterface.enumerateError = ERROR_NO_MORE_ITEMS;
        }
        interfaces.push_back(renderInterface);
        sim::ks::AddInterface(renderInterface);
    }

    HANDLE filter = FindVirtualRenderFilter(VirtualDeviceProductGuid);
    if (filter != INVALID_HANDLE_VALUE) {
        platform::WideString path = sim::ks::HandlePath(filter);
        bool found = false;
        for (auto& candidate : interfaces) {
            if (candidate.path == path) {
                // The product must have come whole in the reply, and must be the virtual one.
                found = candidate.componentIdBytes >= 32 && candidate.componentIdError == 0 &&
                        platform::SameGuid(candidate.componentId.Product, VirtualDeviceProductGuid);
                break;
            }
        }
        if (!found) {
            fuzz::Fail("matched a filter without the virtual device's product");
        }
        platform::CloseHandle(filter);
    }
    NotifyDriverSyncState(1);
    if (sim::ks::OpenFilterHandles() != 0 || sim::ks::OpenDeviceInfoSets() != 0 ||
        !sim::Faults().empty()) {
        fuzz::Fail("a handle or set left open, or a misuse");
    }
    return 0;
}
