// The sync window on one thread: the test creates it and pumps its messages, so every effect of
// each message can be checked between two messages.
#include "mixer/mixer_sync.h"
#include "mixer/mixer_window.h"
#include "mixer_sync_devices.h"
#include "platform/guids.h"
#include "platform/kernel.h"
#include "platform/sim/user32.h"
#include "platform/user32.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using namespace mixer_sync_devices;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

class SyncWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        HardwareControlTable = EmptyMixerControlTable();
        VirtualControlTable = EmptyMixerControlTable();
        sim::ks::AddInterface(sim::ks::VirtualRenderInterface(FilterPath));
    }

    void TearDown() override {
        if (window_ && IsAlive(window_)) {
            platform::DestroyWindow(window_);
        }
        DrainUntilQuit();
        EXPECT_EQ(VirtualMixer, nullptr);
        EXPECT_EQ(HardwareMixer, nullptr);
        EXPECT_EQ(MixerDeviceNotification, nullptr);
        EXPECT_EQ(sim::winmm::OpenMixerHandles(), 0u);
        EXPECT_EQ(sim::DeviceNotificationCount(), 0u);
        EXPECT_THAT(sim::Faults(), IsEmpty());
    }

    // A name that only looks like the codec's, then the virtual device, then the codec.
    void AddDevices(bool withVirtual = true,
                    const std::string& codecName = "Realtek HD Audio rear output") {
        sim::winmm::AddMixer(CodecMixer("Realtek HD Audio rear output 2"));
        if (withVirtual) {
            virtual_ = sim::winmm::AddMixer(VirtualMixerDevice());
        }
        codec_ = sim::winmm::AddMixer(CodecMixer(codecName));
    }

    void Create() {
        window_ = CreateSyncWindow();
        ASSERT_NE(window_, nullptr);
    }

    // Dispatches every message waiting in this thread's queue, and those they cause; a flood that
    // does not end (two mixers echoing each other) fails.
    void Pump() {
        for (int handled = 0; sim::user32::QueueLength(platform::GetCurrentThreadId()) > 0;
             ++handled) {
            ASSERT_LT(handled, 100) << "the messages do not end";
            MSG msg;
            ASSERT_GT(platform::GetMessageW(&msg, nullptr, 0, 0), 0);
            platform::TranslateMessage(&msg);
            platform::DispatchMessageW(&msg);
        }
    }

    void DrainUntilQuit() {
        if (!quitExpected_) {
            return;
        }
        MSG msg;
        while (platform::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        }
    }

    static bool IsAlive(HWND window) {
        for (auto& info : sim::user32::Windows()) {
            if (info.hwnd == window) {
                return info.alive;
            }
        }
        return false;
    }

    std::vector<std::string> Writes(UINT device) {
        return JournalWithText("mixerSetControlDetails", "mixer=" + std::to_string(device) + " ");
    }

    HWND window_ = nullptr;
    bool quitExpected_ = true; // a created window posts WM_QUIT when destroyed
    UINT virtual_ = 0xFFFF;
    UINT codec_ = 0xFFFF;
};

TEST_F(SyncWindow, CreationOpensBothMixersScansThemAndCopiesTheCodecOntoTheVirtualDevice) {
    AddDevices();
    Create();

    auto opens = sim::winmm::Opens();
    ASSERT_THAT(opens, SizeIs(2));
    EXPECT_EQ(opens[0].device, virtual_);
    EXPECT_EQ(opens[1].device, codec_);
    for (auto& open : opens) {
        EXPECT_EQ(open.callback, reinterpret_cast<DWORD_PTR>(window_));
        EXPECT_EQ(open.instance, 0u);
        EXPECT_EQ(open.flags, static_cast<DWORD>(CALLBACK_WINDOW));
        EXPECT_FALSE(open.closed);
    }
    EXPECT_EQ(VirtualMixer, opens[0].handle);
    EXPECT_EQ(HardwareMixer, opens[1].handle);
    // One search by GUID, then all three names: the third is the one this codec has.
    EXPECT_THAT(sim::JournalWith("mixerGetNumDevs"), SizeIs(4));

    for (int i = 0; i < MixerSlotCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(HardwareControlTable[i].controlId, CodecIds[i]);
        EXPECT_EQ(HardwareControlTable[i].value0, CodecValues[i][0]);
        EXPECT_EQ(HardwareControlTable[i].value1, CodecValues[i][1]);
        // The copy stores what it wrote in the virtual table too.
        EXPECT_EQ(VirtualControlTable[i].controlId, VirtualIds[i]);
        EXPECT_EQ(VirtualControlTable[i].value0, CodecValues[i][0]);
        EXPECT_EQ(VirtualControlTable[i].value1, CodecValues[i][1]);
        EXPECT_EQ(Values(virtual_, i, false), CodecValues[i]);
        EXPECT_EQ(Values(codec_, i, true), CodecValues[i]);
    }
    EXPECT_THAT(Writes(virtual_), SizeIs(8));
    EXPECT_THAT(Writes(codec_), IsEmpty());

    // The driver hears of the sync once the copy is done, and the window registers for device
    // events only after the whole start.
    EXPECT_THAT(DriverFlags(), ElementsAre("1"));
    auto journal = sim::Journal();
    std::size_t lastWrite = 0;
    std::size_t flag = 0;
    std::size_t registration = 0;
    for (std::size_t i = 0; i < journal.size(); ++i) {
        if (journal[i].rfind("mixerSetControlDetails", 0) == 0) {
            lastWrite = i;
        }
        if (journal[i].rfind("KsSet", 0) == 0) {
            flag = i;
        }
        if (journal[i].rfind("RegisterDeviceNotificationW", 0) == 0) {
            registration = i;
        }
    }
    EXPECT_LT(lastWrite, flag);
    EXPECT_LT(flag, registration);

    auto registrations = sim::DeviceRegistrations();
    ASSERT_THAT(registrations, SizeIs(1));
    EXPECT_EQ(registrations[0].recipient, window_);
    EXPECT_EQ(registrations[0].flags, static_cast<DWORD>(DEVICE_NOTIFY_WINDOW_HANDLE));
    EXPECT_EQ(registrations[0].filter.dbcc_size, 32u);
    EXPECT_EQ(registrations[0].filter.dbcc_devicetype,
              static_cast<DWORD>(DBT_DEVTYP_DEVICEINTERFACE));
    EXPECT_EQ(registrations[0].filter.dbcc_reserved, 0u);
    EXPECT_TRUE(
        platform::SameGuid(registrations[0].filter.dbcc_classguid, platform::KSCATEGORY_RENDER));
    EXPECT_EQ(registrations[0].filter.dbcc_name[0], 0);
}

TEST_F(SyncWindow, TheWindowIsAHiddenTopLevelWindowOfItsOwnClass) {
    AddDevices();
    Create();
    EXPECT_TRUE(sim::user32::ClassRegistered("QuenvarWnd"));
    auto windows = sim::user32::Windows();
    ASSERT_THAT(windows, SizeIs(1));
    EXPECT_EQ(windows[0].className, "QuenvarWnd");
    EXPECT_EQ(windows[0].title, "QuenvarWnd");
    EXPECT_EQ(windows[0].style, 0x00CF0000u); // WS_OVERLAPPEDWINDOW
    EXPECT_EQ(windows[0].x, 0);
    EXPECT_EQ(windows[0].y, 0);
    EXPECT_EQ(windows[0].width, 100);
    EXPECT_EQ(windows[0].height, 100);
    EXPECT_TRUE(windows[0].topLevel);

    auto windowClass = sim::user32::RegisteredClass("QuenvarWnd");
    ASSERT_TRUE(windowClass);
    EXPECT_EQ(windowClass->style, 3u); // CS_HREDRAW | CS_VREDRAW
    EXPECT_EQ(windowClass->lpfnWndProc, MixerSyncWindowProc);
    EXPECT_EQ(windowClass->cbClsExtra, 0);
    EXPECT_EQ(windowClass->cbWndExtra, 0);
    EXPECT_EQ(windowClass->hInstance, platform::GetModuleHandleW(nullptr));
    // IDI_APPLICATION and IDC_ARROW are both resource 32512; WHITE_BRUSH is stock object 0.
    EXPECT_EQ(windowClass->hIcon, platform::LoadIconW(nullptr, MAKEINTRESOURCEW(32512)));
    EXPECT_EQ(windowClass->hCursor, platform::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)));
    EXPECT_EQ(windowClass->hbrBackground, static_cast<HBRUSH>(platform::GetStockObject(0)));
    EXPECT_EQ(windowClass->hIconSm, nullptr);
}

TEST_F(SyncWindow, AnyNameOfTheCodecFindsIt) {
    // A driver's 39-character name, reported cut to 31 characters, matches the second name.
    AddDevices(true, "Speakers (Realtek High Definition Audio)");
    Create();
    ASSERT_NE(HardwareMixer, nullptr);
    EXPECT_EQ(sim::winmm::Opens().back().device, codec_);
    EXPECT_THAT(sim::JournalWith("mixerGetNumDevs"), SizeIs(3));
    EXPECT_THAT(DriverFlags(), ElementsAre("1"));
}

TEST_F(SyncWindow, ACodecThatFailsToOpenUnderOneNameIsLookedForUnderTheNext) {
    UINT first = sim::winmm::AddMixer(CodecMixer("Realtek HD Audio output"));
    sim::winmm::FailMixerCall(first, "mixerOpen");
    AddDevices();
    Create();
    EXPECT_EQ(HardwareMixer, sim::winmm::Opens().back().handle);
    EXPECT_EQ(sim::winmm::Opens().back().device, codec_);
    EXPECT_THAT(JournalWithText("mixerOpen", "id=" + std::to_string(first) + " "), SizeIs(1));
}

TEST_F(SyncWindow, WithoutTheVirtualMixerTheCodecIsOpenedAndClosedAgain) {
    AddDevices(false);
    Create();
    auto opens = sim::winmm::Opens();
    ASSERT_THAT(opens, SizeIs(1));
    EXPECT_EQ(opens[0].device, codec_);
    EXPECT_TRUE(opens[0].closed);
    EXPECT_EQ(HardwareMixer, nullptr);
    EXPECT_EQ(VirtualMixer, nullptr);
    EXPECT_THAT(DriverFlags(), ElementsAre("0"));
    EXPECT_THAT(sim::JournalWith("mixerSetControlDetails"), IsEmpty());
    EXPECT_EQ(HardwareControlTable, EmptyMixerControlTable()); // nothing scanned
}

TEST_F(SyncWindow, WithoutTheCodecTheVirtualMixerIsOpenedAndClosedAgain) {
    virtual_ = sim::winmm::AddMixer(VirtualMixerDevice());
    Create();
    auto opens = sim::winmm::Opens();
    ASSERT_THAT(opens, SizeIs(1));
    EXPECT_EQ(opens[0].device, virtual_);
    EXPECT_TRUE(opens[0].closed);
    EXPECT_THAT(DriverFlags(), ElementsAre("0"));
}

TEST_F(SyncWindow, TheCopysEchoesEndAtTheVirtualDevice) {
    AddDevices();
    Create();
    Pump();
    EXPECT_THAT(Writes(codec_), IsEmpty());
    EXPECT_THAT(Writes(virtual_), SizeIs(8));
    for (int i = 0; i < MixerSlotCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Values(codec_, i, true), CodecValues[i]);
        EXPECT_EQ(VirtualControlTable[i].value0, CodecValues[i][0]);
        EXPECT_EQ(VirtualControlTable[i].value1, CodecValues[i][1]);
        EXPECT_EQ(HardwareControlTable[i].value0, CodecValues[i][0]);
    }
}

class MirroringWindow : public SyncWindow {
  protected:
    void SetUp() override {
        SyncWindow::SetUp();
        AddDevices();
        Create();
        Pump(); // the copy and its echoes
        sim::ClearJournal();
    }
};

TEST_F(MirroringWindow, AWaveVolumeChangeOnTheCodecReachesTheVirtualDeviceAndItsEchoEnds) {
    sim::winmm::UserSetControl(codec_, CodecIds[0], {111, 222});
    Pump();
    EXPECT_EQ(Values(virtual_, 0, false), (std::vector<DWORD>{111, 222}));
    EXPECT_EQ(HardwareControlTable[0].value0, 111u);
    EXPECT_EQ(HardwareControlTable[0].value1, 222u);
    EXPECT_EQ(VirtualControlTable[0].value0, 111u);
    EXPECT_EQ(VirtualControlTable[0].value1, 222u);
    auto writes = sim::JournalWith("mixerSetControlDetails");
    ASSERT_THAT(writes, SizeIs(1));
    EXPECT_NE(writes[0].find("mixer=" + std::to_string(virtual_) + " "), std::string::npos);
    // The codec's change, the virtual device after the write, and its echo were read.
    EXPECT_THAT(sim::JournalWith("mixerGetControlDetailsW"), SizeIs(3));
}

TEST_F(MirroringWindow, AVolumeChangeOnTheVirtualDeviceReachesTheCodec) {
    sim::winmm::UserSetControl(virtual_, VirtualIds[6], {5, 6});
    Pump();
    EXPECT_EQ(Values(codec_, 6, true), (std::vector<DWORD>{5, 6}));
    EXPECT_THAT(Writes(codec_), SizeIs(1));
    EXPECT_THAT(Writes(virtual_), IsEmpty());
}

TEST_F(MirroringWindow, ARawMuteValueIsStoredAsOneAndWrittenAsRead) {
    sim::winmm::UserSetControl(virtual_, VirtualIds[1], {0xFFFFFFFF, 0xFFFFFFFF});
    Pump();
    EXPECT_EQ(Values(codec_, 1, true), (std::vector<DWORD>{0xFFFFFFFF, 0xFFFFFFFF}));
    EXPECT_EQ(VirtualControlTable[1].value0, 1u);
    EXPECT_EQ(VirtualControlTable[1].value1, 1u);
    EXPECT_EQ(HardwareControlTable[1].value0, 1u);
    EXPECT_EQ(HardwareControlTable[1].value1, 1u);
    // The codec's echo reads the raw value, reduces it to 1 and stops.
    EXPECT_THAT(sim::JournalWith("mixerSetControlDetails"), SizeIs(1));
    EXPECT_THAT(sim::JournalWith("mixerGetControlDetailsW"), SizeIs(3));

    // Another nonzero raw value is no change at all.
    sim::ClearJournal();
    sim::winmm::UserSetControl(codec_, CodecIds[1], {0x80000000, 7});
    Pump();
    EXPECT_THAT(sim::JournalWith("mixerSetControlDetails"), IsEmpty());
}

// The codec's mute could not be read at the scan, so its slot has no type: the raw value is
// stored there as read, and the codec's echo ends at once.
TEST_F(MirroringWindow, ARawMuteEchoEndsWhenOneSlotsTypeWasNeverRead) {
    HardwareControlTable[1].controlType = 0;
    sim::winmm::UserSetControl(virtual_, VirtualIds[1], {0xFFFFFFFF, 0xFFFFFFFF});
    Pump();
    EXPECT_EQ(VirtualControlTable[1].value0, 1u);
    EXPECT_EQ(HardwareControlTable[1].value0, 0xFFFFFFFFu);
    EXPECT_THAT(sim::JournalWith("mixerSetControlDetails"), SizeIs(1));
}

// The values are stored before the write, so a write that fails does not make the next change of
// the same values look new.
TEST_F(MirroringWindow, AFailedWriteStillStoresTheValues) {
    sim::winmm::FailMixerCall(virtual_, "mixerSetControlDetails", VirtualIds[0]);
    sim::winmm::UserSetControl(codec_, CodecIds[0], {111, 222});
    Pump();
    EXPECT_EQ(Values(virtual_, 0, false), CodecValues[0]);
    EXPECT_EQ(HardwareControlTable[0], (MixerControlSlot{CodecIds[0], VolumeType, 111, 222}));
    EXPECT_EQ(VirtualControlTable[0], (MixerControlSlot{VirtualIds[0], VolumeType, 111, 222}));
}

TEST_F(MirroringWindow, AChangeToTheStoredValuesWritesNothing) {
    sim::winmm::UserSetControl(codec_, CodecIds[4], CodecValues[4]);
    Pump();
    EXPECT_THAT(sim::JournalWith("mixerGetControlDetailsW"), SizeIs(1));
    EXPECT_THAT(sim::JournalWith("mixerSetControlDetails"), IsEmpty());
}

TEST_F(MirroringWindow, AControlOutsideTheEightSlotsIsNeitherReadNorWritten) {
    sim::winmm::UserSetControl(codec_, CodecLineInVolume, {1, 2});
    Pump();
    EXPECT_THAT(JournalWithText("DispatchMessageW", "msg=0x3D1 "), SizeIs(1));
    EXPECT_THAT(sim::JournalWith("mixerGetControlDetailsW"), IsEmpty());
    EXPECT_THAT(sim::JournalWith("mixerSetControlDetails"), IsEmpty());
}

// A line change is no control change: even one whose identifier is also a mirrored control's is
// neither read nor written, and rebuilds nothing.
TEST_F(MirroringWindow, LineChangesAreIgnored) {
    EXPECT_EQ(MixerSyncWindowProc(window_, MM_MIXM_LINE_CHANGE,
                                  reinterpret_cast<WPARAM>(HardwareMixer), CodecIds[0]),
              0);
    EXPECT_THAT(sim::JournalWith("mixer"), IsEmpty());
    EXPECT_THAT(sim::JournalWith("KsSet"), IsEmpty());
}

TEST_F(MirroringWindow, DeviceArrivalAndCompletedRemovalRebuildTheMirroring) {
    HMIXER oldCodec = HardwareMixer;
    sim::RaiseDeviceInterfaceEvent(DBT_DEVICEARRIVAL, platform::KSCATEGORY_RENDER);
    Pump();
    sim::RaiseDeviceInterfaceEvent(DBT_DEVICEREMOVECOMPLETE, platform::KSCATEGORY_RENDER);
    Pump();
    EXPECT_THAT(DriverFlags(), ElementsAre("0", "1", "0", "1"));
    EXPECT_THAT(sim::JournalWith("mixerClose"), SizeIs(4));
    EXPECT_THAT(sim::winmm::Opens(), SizeIs(6));
    EXPECT_EQ(sim::winmm::OpenMixerHandles(), 2u);
    EXPECT_NE(HardwareMixer, oldCodec);

    // A change reported by the closed handle is dropped: its read fails.
    sim::ClearJournal();
    platform::PostMessageW(window_, MM_MIXM_CONTROL_CHANGE, reinterpret_cast<WPARAM>(oldCodec),
                           CodecIds[0]);
    Pump();
    EXPECT_THAT(sim::JournalWith("mixerSetControlDetails"), IsEmpty());
}

TEST_F(MirroringWindow, OtherDeviceEventsChangeNothing) {
    sim::user32::BroadcastDeviceChange(DBT_DEVNODES_CHANGED);
    sim::RaiseDeviceInterfaceEvent(DBT_DEVICEQUERYREMOVE, platform::KSCATEGORY_RENDER);
    Pump();
    EXPECT_THAT(JournalWithText("DispatchMessageW", "msg=0x219 "), SizeIs(2));
    EXPECT_THAT(sim::JournalWith("mixer"), IsEmpty());
    EXPECT_THAT(DriverFlags(), IsEmpty());
    EXPECT_EQ(MixerSyncWindowProc(window_, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0), TRUE);
    EXPECT_EQ(HandleMixerDeviceChange(window_, DBT_DEVICEQUERYREMOVE, 0), TRUE);
    EXPECT_THAT(sim::JournalWith("mixer"), IsEmpty());
}

TEST_F(SyncWindow, AnArrivingVirtualDeviceStartsAnIdleMirroringAndItsRemovalStopsIt) {
    AddDevices(false);
    Create();
    EXPECT_EQ(MixerSyncWindowProc(window_, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0), TRUE);
    EXPECT_EQ(VirtualMixer, nullptr);
    virtual_ = sim::winmm::AddMixer(VirtualMixerDevice());
    sim::RaiseDeviceInterfaceEvent(DBT_DEVICEARRIVAL, platform::KSCATEGORY_RENDER);
    Pump();
    EXPECT_NE(VirtualMixer, nullptr);
    EXPECT_NE(HardwareMixer, nullptr);
    EXPECT_EQ(Values(virtual_, 6, false), CodecValues[6]);
    sim::winmm::RemoveMixer(virtual_);
    sim::RaiseDeviceInterfaceEvent(DBT_DEVICEREMOVECOMPLETE, platform::KSCATEGORY_RENDER);
    Pump();
    EXPECT_EQ(VirtualMixer, nullptr);
    EXPECT_EQ(HardwareMixer, nullptr);
    // The tables outlive the stop and the idle start.
    EXPECT_EQ(HardwareControlTable[6].controlId, CodecIds[6]);
    EXPECT_EQ(VirtualControlTable[6].controlId, VirtualIds[6]);
    // Start (idle), direct arrival (0 and idle 0), arrival (0, 1), removal (0 and idle 0).
    EXPECT_THAT(DriverFlags(), ElementsAre("0", "0", "0", "0", "1", "0", "0"));
}

TEST_F(MirroringWindow, DestructionClosesEverythingAndEndsTheLoop) {
    ASSERT_TRUE(platform::PostMessageW(window_, StopSyncWindowMessage, 0, 0));
    Pump();
    EXPECT_FALSE(IsAlive(window_));
    EXPECT_EQ(VirtualMixer, nullptr);
    EXPECT_EQ(HardwareMixer, nullptr);
    EXPECT_EQ(sim::winmm::OpenMixerHandles(), 0u);
    EXPECT_EQ(sim::DeviceNotificationCount(), 0u);
    EXPECT_THAT(DriverFlags(), ElementsAre("0"));
    EXPECT_THAT(sim::JournalWith("PostQuitMessage 0"), SizeIs(1));
    MSG msg;
    EXPECT_EQ(platform::GetMessageW(&msg, nullptr, 0, 0), FALSE);
    quitExpected_ = false;
}

TEST_F(SyncWindow, AFailedDeviceRegistrationIsNotUnregistered) {
    AddDevices();
    sim::FailCall("RegisterDeviceNotificationW");
    Create();
    EXPECT_EQ(MixerDeviceNotification, nullptr);
    EXPECT_NE(HardwareMixer, nullptr); // the mirroring runs all the same
    platform::DestroyWindow(window_);
    EXPECT_THAT(sim::JournalWith("UnregisterDeviceNotification"), IsEmpty());
    EXPECT_THAT(DriverFlags(), ElementsAre("1", "0"));
}

// The codec's wave volume cannot be read during the scan and the copy: the copy skips that slot
// and goes on with the next, and the slot, whose type was never read, is later mirrored as a
// volume (raw values, not reduced to 0 or 1).
TEST_F(SyncWindow, ASlotThatCannotBeReadIsSkippedByTheCopyAndLaterMirroredAsAVolume) {
    AddDevices();
    sim::winmm::FailMixerCall(codec_, "mixerGetControlDetailsW", CodecIds[0], MMSYSERR_ERROR, 2);
    Create();
    EXPECT_EQ(HardwareControlTable[0], (MixerControlSlot{CodecIds[0], 0, 0, 0}));
    EXPECT_THAT(Writes(virtual_), SizeIs(7));
    EXPECT_EQ(Values(virtual_, 0, false), VirtualValues[0]);
    for (int i = 1; i < MixerSlotCount; ++i) {
        EXPECT_EQ(Values(virtual_, i, false), CodecValues[i]) << i;
    }
    Pump();
    // The change alone, not its echo: a slot reduced like a mute would echo without end.
    sim::winmm::UserSetControl(codec_, CodecIds[0], {0, 5});
    MSG msg;
    ASSERT_GT(platform::GetMessageW(&msg, nullptr, 0, 0), 0);
    platform::DispatchMessageW(&msg);
    EXPECT_EQ(HardwareControlTable[0].value1, 5u);
    EXPECT_EQ(Values(virtual_, 0, false), (std::vector<DWORD>{0, 5}));
}

} // namespace
