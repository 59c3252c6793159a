// The whole service on a simulated Windows machine of version 6 with the codec and the virtual
// render device: the endpoint sync as the service runs it (dispatcher, ServiceMain, handler and
// the audio system's threads).
#pragma once

#include "endpoint_sync_devices.h"
#include "platform/sim/audio.h"
#include "platform/sim/com.h"
#include "platform/sim/scm.h"
#include "service/state.h"
#include "support/service_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace scenario_endpoint {

using namespace sync_test;

// What the service's recovery watcher holds while the service runs: its own enumerator.
constexpr std::size_t WatcherObjects = 1;

class EndpointService : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::SetWindowsVersion(6, 1);
        // These scenarios prove the device-event path alone: the recovery watcher hears no
        // endpoint notice and cannot open a service (EndpointRecovery lifts this), so it neither
        // holds objects of a look at the endpoints nor sends a control while a test counts.
        sim::FailCall("OpenServiceW", -1);
        sim::FailCall("RegisterEndpointNotificationCallback", -1);
        AddOtherRenderDevices();
        threadHandles_ = sim::OpenHandles(sim::HandleKind::Thread);
        eventHandles_ = sim::OpenHandles(sim::HandleKind::Event);
    }

    void TearDown() override {
        if (started_ && !runner_.Finished()) {
            EXPECT_TRUE(runner_.Stop());
        }
        if (started_) {
            ExpectStoppedCleanly();
        }
        EXPECT_THAT(sim::Faults(), ::testing::IsEmpty());
    }

    void StartService() {
        started_ = true;
        runner_.Start();
        ASSERT_TRUE(runner_.WaitForRunning());
    }

    void StopService() { ASSERT_TRUE(runner_.Stop()); }

    // A device event of the render class, as the service receives it from the manager: returns
    // once the handler has rebuilt the sync.
    static void RaiseRenderEvent(DWORD eventType) {
        sim::RaiseDeviceInterfaceEvent(eventType, platform::KSCATEGORY_RENDER);
    }

    // What every stop leaves: the service stopped with exit status 0, nothing of the endpoint sync
    // held, no handle beyond those the test found.
    void ExpectStoppedCleanly() {
        EXPECT_EQ(runner_.ExitCode(), 0);
        EXPECT_EQ(sim::scm::CurrentState(), static_cast<DWORD>(SERVICE_STOPPED));
        EXPECT_TRUE(Idle());
        EXPECT_TRUE(sim::audio::WaitIdle());
        EXPECT_EQ(sim::audio::LiveObjects(), 0u);
        EXPECT_EQ(sim::audio::Registrations(HardwareId), 0u);
        EXPECT_EQ(sim::audio::Registrations(VirtualId), 0u);
        EXPECT_EQ(sim::ks::OpenFilterHandles(), 0u);
        EXPECT_EQ(sim::ks::OpenDeviceInfoSets(), 0u);
        EXPECT_EQ(sim::OpenHandles(sim::HandleKind::File), 0u);
        EXPECT_EQ(sim::OpenHandles(sim::HandleKind::Thread), threadHandles_);
        EXPECT_EQ(sim::OpenHandles(sim::HandleKind::Event), eventHandles_);
        EXPECT_EQ(sim::DeviceNotificationCount(), 0u);
        EXPECT_EQ(ServiceState.ServiceDeviceNotification, nullptr);
    }

    support::ServiceRunner runner_;
    bool started_ = false;
    std::size_t threadHandles_ = 0;
    std::size_t eventHandles_ = 0;
};

} // namespace scenario_endpoint
