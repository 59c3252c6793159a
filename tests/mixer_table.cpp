// The control tables' first state.
#include "mixer/mixer_table.h"
#include "mixer_devices.h"

#include <gtest/gtest.h>

namespace {

// Copied during the dynamic initialisation of this file, before any test (or service) runs:
// the tables must already hold their empty state then.
const MixerControlTable HardwareAtStart = HardwareControlTable;
const MixerControlTable VirtualAtStart = VirtualControlTable;

TEST(MixerControlTables, HoldNoControlBeforeTheProcessRuns) {
    for (const auto* table : {&HardwareAtStart, &VirtualAtStart}) {
        ASSERT_EQ(table->size(), 8u);
        for (const auto& slot : *table) {
            EXPECT_EQ(slot, (MixerControlSlot{0xFFFFFFFF, 0, 0, 0}));
        }
    }
}

} // namespace
