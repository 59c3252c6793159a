// Contract suite entry: against the simulated machine, every case starts on a freshly reset
// machine and fails if the machine noticed a fault (a call Windows would answer with a crash or
// undefined behaviour), unless the case misuses the platform on purpose; against the real platform
// there is nothing to reset.
#include "contract.h"

#include <gtest/gtest.h>

#ifdef QUENVAR_CONTRACT_SIM
#include "platform/sim/machine.h"

#include <string>

namespace {

bool MisuseExpected = false;

class ResetMachine : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override {
        sim::ResetMachine();
        MisuseExpected = false;
    }
    void OnTestEnd(const ::testing::TestInfo&) override {
        if (MisuseExpected) {
            if (sim::Faults().empty()) {
                ADD_FAILURE() << "the simulated machine did not notice the case's misuse";
            }
            return;
        }
        for (const std::string& fault : sim::Faults()) {
            ADD_FAILURE() << "simulated machine fault: " << fault;
        }
    }
};

} // namespace

void contract::ExpectMisuse() {
    MisuseExpected = true;
}
#else
void contract::ExpectMisuse() {}
#endif

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
#ifdef QUENVAR_CONTRACT_SIM
    ::testing::UnitTest::GetInstance()->listeners().Append(new ResetMachine);
#endif
    return RUN_ALL_TESTS();
}
