// Simulated heap storage for the logic's objects: the runtime's allocator, with exhaustion on
// demand.
#include "platform/memory.h"
#include "platform/sim/machine.h"

#include <new>
#include <string>

void* platform::AllocateObject(std::size_t size) noexcept {
    if (sim::ShouldFail("AllocateObject")) {
        sim::Record("AllocateObject " + std::to_string(size) + " -> null");
        return nullptr;
    }
    sim::Record("AllocateObject " + std::to_string(size));
    return ::operator new(size, std::nothrow);
}
