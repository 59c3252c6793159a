// Simulated KS render devices: the interface registry, its reset and the control API.
#include "platform/sim/ks/state.h"

#include "platform/kernel.h"
#include "platform/sim/machine.h"

#include <cstdio>

namespace sim::ks {

Devices& State() {
    return AreaState<Devices>([](Devices& state) {
        state.filters.clear();
        state.sets.clear();
        state.requests.clear();
        state.openHandles = 0;
        ++state.generation;
    });
}

namespace {

WCHAR FoldCase(WCHAR c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<WCHAR>(c + 0x20) : c;
}

bool SamePath(const platform::WideString& a, const WCHAR* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != 0; ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) {
            return false;
        }
    }
    return i == a.size() && b[i] == 0;
}

} // namespace

std::shared_ptr<Filter> FindFilter(Devices& devices, const WCHAR* path) {
    for (auto& filter : devices.filters) {
        if (SamePath(filter->config.path, path)) {
            return filter;
        }
    }
    return nullptr;
}

std::string Outcome(DWORD error) {
    return error == 0 ? "-> ok" : "-> error " + std::to_string(error);
}

std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

platform::KSCOMPONENTID ComponentId(const GUID& product) {
    platform::KSCOMPONENTID id{};
    id.Manufacturer = {
        0x5A1E0001, 0x71C2, 0x4E0B, {0x9D, 0x13, 0x40, 0x6B, 0x2F, 0x88, 0x01, 0x11}};
    id.Product = product;
    id.Component = {0x5A1E0002, 0x71C2, 0x4E0B, {0x9D, 0x13, 0x40, 0x6B, 0x2F, 0x88, 0x02, 0x22}};
    id.Name = {0x5A1E0003, 0x71C2, 0x4E0B, {0x9D, 0x13, 0x40, 0x6B, 0x2F, 0x88, 0x03, 0x33}};
    id.Version = 1;
    id.Revision = 0;
    return id;
}

RenderInterface VirtualRenderInterface(const platform::WideString& path) {
    RenderInterface renderInterface;
    renderInterface.path = path;
    renderInterface.componentId = ComponentId(VirtualDeviceProduct);
    return renderInterface;
}

RenderInterface CodecRenderInterface(const platform::WideString& path) {
    RenderInterface renderInterface;
    renderInterface.path = path;
    renderInterface.componentId =
        ComponentId({0x0C0DEC00, 0x10EC, 0x0888, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}});
    return renderInterface;
}

void AddInterface(const RenderInterface& renderInterface) {
    auto& devices = State();
    std::lock_guard<std::mutex> guard(devices.lock);
    if (auto known = FindFilter(devices, renderInterface.path.c_str())) {
        known->config = renderInterface;
        known->present = true;
        return;
    }
    auto filter = std::make_shared<Filter>();
    filter->config = renderInterface;
    devices.filters.push_back(std::move(filter));
}

bool RemoveInterface(const platform::WideString& path) {
    auto& devices = State();
    std::lock_guard<std::mutex> guard(devices.lock);
    auto filter = FindFilter(devices, path.c_str());
    if (!filter || !filter->present) {
        return false;
    }
    filter->present = false;
    return true;
}

std::vector<Request> Requests() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().requests;
}

std::optional<ULONG> SyncActive(const platform::WideString& path) {
    std::lock_guard<std::mutex> guard(State().lock);
    auto filter = FindFilter(State(), path.c_str());
    return filter ? filter->syncActive : std::nullopt;
}

std::size_t OpenCount(const platform::WideString& path) {
    std::lock_guard<std::mutex> guard(State().lock);
    auto filter = FindFilter(State(), path.c_str());
    return filter ? filter->opens : 0;
}

std::size_t OpenFilterHandles() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().openHandles;
}

std::size_t OpenDeviceInfoSets() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().sets.size();
}

} // namespace sim::ks
