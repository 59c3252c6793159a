// Contract suite entry: against the simulated machine, every case starts on a freshly reset
// machine; against the real platform there is nothing to reset.
#include <gtest/gtest.h>

#ifdef QUENVAR_CONTRACT_SIM
#include "platform/sim/machine.h"

namespace {

class ResetMachine : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { sim::ResetMachine(); }
};

} // namespace
#endif

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
#ifdef QUENVAR_CONTRACT_SIM
    ::testing::UnitTest::GetInstance()->listeners().Append(new ResetMachine);
#endif
    return RUN_ALL_TESTS();
}
