// The state the simulated KS devices share between SetupAPI, the filters and the control API.
#pragma once

#include "platform/sim/ks.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace sim::ks {

// One registered interface and the filter (and driver state) behind it.
struct Filter {
    RenderInterface config;
    bool present = true;
    std::optional<ULONG> syncActive;
    std::size_t opens = 0;
};

// A device information set holds the interfaces present when it was built, as Windows does.
struct SetMember {
    RenderInterface config;
    ULONG_PTR token; // what SP_DEVICE_INTERFACE_DATA.Reserved carries back to the set
};

struct Devices {
    std::mutex lock;
    std::vector<std::shared_ptr<Filter>> filters; // in order of arrival
    std::map<std::uintptr_t, std::vector<SetMember>> sets;
    std::uintptr_t nextSet = 0x5E7000;
    ULONG_PTR nextToken = 1;
    std::size_t openHandles = 0;
    // Handles left open by an earlier test must not count against the next one.
    unsigned generation = 0;
    std::vector<Request> requests;
};

Devices& State();
// The registered filter with that path (compared without case), or null. Lock held.
std::shared_ptr<Filter> FindFilter(Devices& devices, const WCHAR* path);
std::string Outcome(DWORD error);
std::string Hex(DWORD value);

} // namespace sim::ks
