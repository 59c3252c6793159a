// The mixer sync end to end at Windows version 5: the service starts the mirroring, mirrors
// changes in both directions, rebuilds on device events, and handles every message on its mixer
// thread in posting order.
#include "platform/sim/variants.h"
#include "scenario_mixer_service.h"

#include <thread>

namespace {

using namespace scenario_mixer;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

TEST_F(MixerService, StartFindsBothMixersCopiesTheCodecAndSetsTheDriverFlag) {
    AddDevices();
    StartService();

    auto opens = sim::winmm::Opens();
    ASSERT_THAT(opens, SizeIs(2));
    EXPECT_EQ(opens[0].device, virtual_); // by its product GUID
    EXPECT_EQ(opens[1].device, codec_);   // by the third name, after two that find nothing
    EXPECT_THAT(sim::JournalWith("mixerOpen"), SizeIs(2));
    for (int i = 0; i < MixerSlotCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Values(virtual_, i, false), CodecValues[i]);
        EXPECT_EQ(Values(codec_, i, true), CodecValues[i]);
    }
    // Both mixers were scanned: every slot names its control on its mixer.
    for (int i = 0; i < MixerSlotCount; ++i) {
        EXPECT_EQ(HardwareControlTable[i].controlId, CodecIds[i]);
        EXPECT_EQ(VirtualControlTable[i].controlId, VirtualIds[i]);
    }
    EXPECT_THAT(DriverFlags(), ElementsAre("1"));
    EXPECT_EQ(sim::ks::SyncActive(FilterPath), 1u);

    // The mixer thread is the one the service's start created; it did all the mixer work.
    EXPECT_THAT(sim::JournalWith("CreateThread " + mixerThread_ + " [service]"), SizeIs(1));
    for (auto& entry : sim::JournalWith("mixer")) {
        EXPECT_NE(entry.find("[" + mixerThread_ + "]"), std::string::npos) << entry;
    }
}

TEST_F(MixerService, WithoutTheVirtualMixerTheCodecIsOpenedAndClosedAndTheFlagCleared) {
    AddDevices(false);
    StartService();
    auto opens = sim::winmm::Opens();
    ASSERT_THAT(opens, SizeIs(1));
    EXPECT_EQ(opens[0].device, codec_);
    EXPECT_TRUE(opens[0].closed);
    EXPECT_THAT(DriverFlags(), ElementsAre("0"));
    EXPECT_THAT(sim::JournalWith("mixerSetControlDetails"), IsEmpty());
    ASSERT_TRUE(runner_.Stop());
    EXPECT_THAT(DriverFlags(), ElementsAre("0", "0"));
}

class RunningMixerService : public MixerService {
  protected:
    void SetUp() override {
        MixerService::SetUp();
        AddDevices();
        StartService();
        sim::ClearJournal();
    }
};

TEST_F(RunningMixerService, AWaveVolumeChangeOnTheCodecReachesTheVirtualMixerAndItsEchoEnds) {
    sim::winmm::UserSetControl(codec_, CodecIds[0], {21000, 22000});
    Settle();
    EXPECT_EQ(Values(virtual_, 0, false), (std::vector<DWORD>{21000, 22000}));
    EXPECT_THAT(Writes(virtual_), SizeIs(1));
    EXPECT_THAT(Writes(codec_), IsEmpty()); // the virtual mixer's echo found its values stored
    // The read-back after the write, and the echo's read.
    EXPECT_THAT(JournalWithText("mixerGetControlDetailsW", "control=210 "), SizeIs(2));
}

TEST_F(RunningMixerService, AMuteChangeWithARawValueIsStoredAsOneAndWrittenRaw) {
    sim::winmm::UserSetControl(codec_, CodecIds[7], {0xFFFFFFFF, 0xFFFFFFFF});
    Settle();
    EXPECT_EQ(Values(virtual_, 7, false), (std::vector<DWORD>{0xFFFFFFFF, 0xFFFFFFFF}));
    EXPECT_THAT(Writes(virtual_), SizeIs(1));
    EXPECT_THAT(Writes(codec_), IsEmpty());
    ASSERT_TRUE(runner_.Stop()); // the tables are the mixer thread's until it has ended
    EXPECT_EQ(HardwareControlTable[7].value0, 1u);
    EXPECT_EQ(HardwareControlTable[7].value1, 1u);
    EXPECT_EQ(VirtualControlTable[7].value0, 1u);
    EXPECT_EQ(VirtualControlTable[7].value1, 1u);
}

TEST_F(RunningMixerService, EqualValuesWriteNothing) {
    sim::winmm::UserSetControl(virtual_, VirtualIds[2], CodecValues[2]);
    sim::winmm::UserSetControl(codec_, CodecIds[3], {0x55, 0x66}); // mute: stored as 1, 1
    Settle();
    EXPECT_THAT(Writes(codec_), IsEmpty());
    EXPECT_THAT(Writes(virtual_), SizeIs(1)); // only the mute change, which was one
    sim::ClearJournal();
    sim::winmm::UserSetControl(virtual_, VirtualIds[3], {1, 1});
    Settle();
    EXPECT_THAT(sim::JournalWith("mixerSetControlDetails"), IsEmpty());
}

TEST_F(RunningMixerService, AControlOutsideTheEightSlotsCausesNoReadAndNoWrite) {
    sim::winmm::UserSetControl(codec_, CodecLineInVolume, {1, 2});
    Settle();
    EXPECT_THAT(JournalWithText("DispatchMessageW", "msg=0x3D1 wParam="), SizeIs(1));
    EXPECT_THAT(sim::JournalWith("mixerGetControlDetailsW"), IsEmpty());
    EXPECT_THAT(sim::JournalWith("mixerSetControlDetails"), IsEmpty());
}

// The virtual device rounds each volume the copy writes by one step: the tables hold what each
// device holds, so the copy's echoes end at the virtual device and nothing goes to the codec.
TEST_F(MixerService, TheCopysEchoesEndAtTheVirtualDeviceAndTheTablesHoldWhatEachDeviceHolds) {
    ASSERT_TRUE(sim::SetVariant("mixer-read-back", "rounded"));
    AddDevices();
    StartService();
    EXPECT_GT(sim::VariantEffects("mixer-read-back"), 0u);
    EXPECT_THAT(Writes(codec_), IsEmpty());
    EXPECT_THAT(Writes(virtual_), SizeIs(MixerSlotCount));
    ASSERT_TRUE(runner_.Stop()); // the tables are the mixer thread's until it has ended
    for (int i = 0; i < MixerSlotCount; i += 2) {
        SCOPED_TRACE(i);
        auto held = Values(virtual_, i, false);
        EXPECT_EQ(HardwareControlTable[i].value0, CodecValues[i][0]);
        EXPECT_EQ(HardwareControlTable[i].value1, CodecValues[i][1]);
        EXPECT_EQ(VirtualControlTable[i].value0, held[0]);
        EXPECT_EQ(VirtualControlTable[i].value1, held[1]);
    }
}

TEST_F(RunningMixerService, DeviceArrivalAndCompletedRemovalRebuildTheMirroring) {
    sim::RaiseDeviceInterfaceEvent(DBT_DEVICEARRIVAL, platform::KSCATEGORY_RENDER);
    Settle();
    EXPECT_THAT(DriverFlags(), ElementsAre("0", "1"));
    EXPECT_THAT(sim::JournalWith("mixerClose"), SizeIs(2));
    EXPECT_THAT(sim::JournalWith("mixerOpen"), SizeIs(2));

    sim::ClearJournal();
    sim::winmm::RemoveMixer(virtual_); // the virtual device goes: the mirroring goes idle
    sim::RaiseDeviceInterfaceEvent(DBT_DEVICEREMOVECOMPLETE, platform::KSCATEGORY_RENDER);
    Settle();
    EXPECT_THAT(DriverFlags(), ElementsAre("0", "0"));
    EXPECT_EQ(sim::winmm::OpenMixerHandles(), 0u);

    sim::ClearJournal();
    virtual_ = sim::winmm::AddMixer(VirtualMixerDevice());
    codec_ = virtual_ - 1; // the codec moved down when the virtual device went
    sim::RaiseDeviceInterfaceEvent(DBT_DEVICEARRIVAL, platform::KSCATEGORY_RENDER);
    Settle();
    EXPECT_THAT(DriverFlags(), ElementsAre("0", "1"));
    EXPECT_EQ(sim::winmm::OpenMixerHandles(), 2u);
    sim::winmm::UserSetControl(codec_, CodecIds[4], {77, 88});
    Settle();
    EXPECT_EQ(Values(virtual_, 4, false), (std::vector<DWORD>{77, 88}));
}

TEST_F(RunningMixerService, OtherDeviceEventsChangeNothing) {
    sim::user32::BroadcastDeviceChange(DBT_DEVNODES_CHANGED);
    sim::RaiseDeviceInterfaceEvent(DBT_DEVICEQUERYREMOVE, platform::KSCATEGORY_RENDER);
    sim::RaiseDeviceInterfaceEvent(DBT_DEVICEARRIVAL, platform::GUID_NULL); // not registered
    Settle();
    EXPECT_THAT(JournalWithText("DispatchMessageW", "msg=0x219 "), SizeIs(2));
    EXPECT_THAT(sim::JournalWith("mixer"), IsEmpty());
    EXPECT_THAT(DriverFlags(), IsEmpty());
    EXPECT_EQ(sim::winmm::OpenMixerHandles(), 2u);
}

// Changes and device events from two threads at once: the window sees each message once, on
// the mixer thread, in the order it was posted.
TEST_F(RunningMixerService, MessagesAreHandledOnlyOnTheMixerThreadInPostingOrder) {
    std::thread user([this] {
        sim::SetThreadName("user");
        for (DWORD i = 1; i <= 40; ++i) {
            sim::winmm::UserSetControl(codec_, CodecIds[i % 8], {i, i + 1});
        }
    });
    std::thread devices([] {
        sim::SetThreadName("devices");
        for (int i = 0; i < 10; ++i) {
            sim::user32::BroadcastDeviceChange(DBT_DEVNODES_CHANGED);
            sim::RaiseDeviceInterfaceEvent(DBT_DEVICEARRIVAL, platform::KSCATEGORY_RENDER);
        }
    });
    user.join();
    devices.join();
    Settle();

    std::string posted = "PostMessageW " + HexOf(window_) + " ";
    std::string dispatched = "DispatchMessageW " + HexOf(window_) + " ";
    std::vector<std::string> postOrder;
    std::vector<std::string> dispatchOrder;
    for (auto& entry : sim::Journal()) {
        std::string message = entry.substr(entry.find(' ', entry.find(' ') + 1) + 1);
        message = message.substr(0, message.rfind(" ["));
        if (entry.rfind(posted, 0) == 0) {
            ASSERT_EQ(entry.find(" failed"), std::string::npos) << entry;
            postOrder.push_back(message);
        } else if (entry.rfind(dispatched, 0) == 0) {
            EXPECT_NE(entry.find("[" + mixerThread_ + "]"), std::string::npos) << entry;
            dispatchOrder.push_back(message);
        }
    }
    EXPECT_GE(postOrder.size(), 60u);
    EXPECT_EQ(dispatchOrder, postOrder);
    for (auto& entry : sim::Journal()) {
        bool mixerWork = entry.rfind("mixer", 0) == 0 || entry.rfind("KsSet", 0) == 0;
        if (mixerWork) {
            EXPECT_NE(entry.find("[" + mixerThread_ + "]"), std::string::npos) << entry;
        }
    }
    EXPECT_THAT(DriverFlags(), SizeIs(20)); // ten rebuilds: 0 then 1 each
}

} // namespace
