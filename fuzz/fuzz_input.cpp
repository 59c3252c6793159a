#include "fuzz_input.h"

#include "platform/sim/machine.h"

#include <cstdio>
#include <cstdlib>

namespace fuzz {

void Fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    for (auto& fault : sim::Faults()) {
        std::fprintf(stderr, "  machine fault: %s\n", fault.c_str());
    }
    std::abort();
}

} // namespace fuzz
