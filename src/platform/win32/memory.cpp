// Heap storage forward: the C++ runtime's allocator, which reports exhaustion by null here.
#include "platform/memory.h"

#include <new>

void* platform::AllocateObject(std::size_t size) noexcept {
    return ::operator new(size, std::nothrow);
}
