// Test entry: every test starts on a freshly reset simulated machine.
#include "platform/sim/machine.h"

#include <gtest/gtest.h>

namespace {

class ResetMachine : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { sim::ResetMachine(); }
};

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new ResetMachine);
    return RUN_ALL_TESTS();
}
