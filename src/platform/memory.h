// The heap storage of the logic's long-lived objects (the endpoint sync's records and callbacks).
// Behind the seam so that exhaustion of memory, which the logic must survive, can be simulated.
#pragma once

#include <cstddef>

namespace platform {

// Storage for one object of `size` bytes, or null when memory is exhausted. The storage is the
// C++ runtime's: the object is freed by an ordinary delete-expression.
void* AllocateObject(std::size_t size) noexcept;

} // namespace platform
