// The whole service on a simulated Windows XP machine (version 5.1) with the codec's mixer, the
// virtual device's mixer and its kernel-streaming filter: the mixer sync as the service runs it.
#pragma once

#include "mixer/mixer_sync.h"
#include "mixer/mixer_thread.h"
#include "mixer/mixer_window.h"
#include "mixer_sync_devices.h"
#include "platform/guids.h"
#include "platform/sim/user32.h"
#include "service/state.h"
#include "support/service_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace scenario_mixer {

using namespace mixer_sync_devices;

inline std::string HexOf(const void* value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(value)));
    return text;
}

class MixerService : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::SetWindowsVersion(5, 1);
        // A fresh process: the tables hold their first state.
        HardwareControlTable = EmptyMixerControlTable();
        VirtualControlTable = EmptyMixerControlTable();
        sim::ks::AddInterface(sim::ks::VirtualRenderInterface(FilterPath));
        threadHandlesBefore_ = sim::OpenHandles(sim::HandleKind::Thread);
    }

    void TearDown() override {
        if (started_ && !runner_.Finished()) {
            EXPECT_TRUE(runner_.Stop());
        }
        ExpectEverythingClosed();
        EXPECT_THAT(sim::Faults(), ::testing::IsEmpty());
    }

    // What every stop leaves behind.
    void ExpectEverythingClosed() {
        EXPECT_EQ(ServiceState.MixerThreadHandle, nullptr);
        EXPECT_EQ(sim::OpenHandles(sim::HandleKind::Thread), threadHandlesBefore_);
        EXPECT_EQ(sim::winmm::OpenMixerHandles(), 0u);
        EXPECT_EQ(sim::DeviceNotificationCount(), 0u);
        EXPECT_EQ(sim::user32::LiveWindowCount(), 0u);
    }

    // A name that only looks like the codec's, the virtual device, then the codec, which only
    // the third of the codec's names finds.
    void AddDevices(bool withVirtual = true) {
        sim::winmm::AddMixer(CodecMixer("Realtek HD Audio rear output 2"));
        if (withVirtual) {
            virtual_ = sim::winmm::AddMixer(VirtualMixerDevice());
        }
        codec_ = sim::winmm::AddMixer(CodecMixer("Realtek HD Audio rear output"));
    }

    // Starts the service without waiting for the sync window.
    void Launch() {
        started_ = true;
        runner_.Start();
        ASSERT_TRUE(runner_.WaitForRunning());
    }

    // Starts the service and waits until its sync window serves its queue.
    void StartService() {
        Launch();
        window_ = sim::user32::WaitForWindow("QuenvarWnd", 10000);
        ASSERT_NE(window_, nullptr);
        Settle();
        for (auto& info : sim::user32::Windows()) {
            if (info.hwnd == window_) {
                mixerThread_ = info.threadName;
            }
        }
    }

    // Waits until the mixer thread has handled everything posted to it.
    void Settle() { ASSERT_TRUE(sim::user32::WaitUntilIdle(window_, 10000)); }

    std::vector<std::string> Writes(UINT device) {
        return JournalWithText("mixerSetControlDetails", "mixer=" + std::to_string(device) + " ");
    }

    support::ServiceRunner runner_;
    bool started_ = false;
    HWND window_ = nullptr;
    std::string mixerThread_;
    UINT virtual_ = 0xFFFF;
    UINT codec_ = 0xFFFF;
    std::size_t threadHandlesBefore_ = 0;
};

} // namespace scenario_mixer
