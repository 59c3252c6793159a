// Contract cases: the behaviours of Windows that the logic relies on, written against the seam's
// platform:: names alone. The same source is built against the simulated machine (host) and
// against platform/win32 (windows preset, run under Wine on Wine's own DLLs), so the simulated
// machine is held to what the real platform does.
#pragma once

#include <gtest/gtest.h>

namespace contract {

// True when the cases run against the simulated machine, false when against the real platform.
#ifdef QUENVAR_CONTRACT_SIM
inline constexpr bool OnSim = true;
#else
inline constexpr bool OnSim = false;
#endif

// The expectation for the backend: Windows' answer on the simulated machine, which follows
// Windows, and Wine's own answer under Wine, so that a change in Wine is noticed.
template <typename T> T WindowsOrWine(T windows, T wine) {
    return OnSim ? windows : wine;
}

// Called by a case that misuses the platform on purpose to see its answer (a closed handle, a
// record with a wrong size): the simulated machine must then notice the misuse as a fault of the
// code under test, and the case does not fail for it. Against the real platform it does nothing.
void ExpectMisuse();

} // namespace contract

// A behaviour the real platform cannot show under Wine (no kernel-streaming filter, no endpoint
// notification, ...): the case runs on the simulated machine alone. `source` names the public
// page or Windows-run conformance test the simulated behaviour follows.
#define CONTRACT_SIM_ONLY(source)                                                                  \
    do {                                                                                           \
        if (!contract::OnSim)                                                                      \
            GTEST_SKIP() << "simulated machine only; source: " source;                             \
    } while (0)

// A behaviour where Wine differs from Windows: the simulated machine follows Windows, and the case
// runs on both backends, taking its expectations from contract::WindowsOrWine (or a branch on
// contract::OnSim). `fact` states what Windows does and where that is documented.
#define CONTRACT_WINE_DIFFERS(fact) ::testing::Test::RecordProperty("windows", fact)

// A behaviour of Windows that no public source states: the simulated machine's first answer (its
// others are variants the soak draws). The case runs on the simulated machine alone and is not
// counted as verified; `assumption` says what is assumed.
#define CONTRACT_UNVERIFIED(assumption)                                                            \
    do {                                                                                           \
        if (!contract::OnSim)                                                                      \
            GTEST_SKIP() << "unverified: " assumption;                                             \
    } while (0)
