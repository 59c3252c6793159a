// Contract suite entry: against the simulated machine, every case starts on a freshly reset
// machine and fails if the machine noticed a fault (a call Windows would answer with a crash or
// undefined behaviour); against the real platform there is nothing to reset.
#include <gtest/gtest.h>

#ifdef QUENVAR_CONTRACT_SIM
#include "platform/sim/machine.h"

#include <string>

namespace {

class ResetMachine : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { sim::ResetMachine(); }
    void OnTestEnd(const ::testing::TestInfo&) override {
        for (const std::string& fault : sim::Faults()) {
            ADD_FAILURE() << "simulated machine fault: " << fault;
        }
    }
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
