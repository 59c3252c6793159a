// The user keeps changing volumes while device events rebuild the endpoint sync: a notification
// that arrives during a teardown never reaches a destroyed callback or a released endpoint.
// Meant for the AddressSanitizer and ThreadSanitizer builds too; every loop is bounded.
#include "scenario_endpoint_service.h"

#include <atomic>
#include <thread>

namespace {

using namespace scenario_endpoint;

constexpr int Events = 200;
constexpr int Replugs = 40;
constexpr long UserChangesAtMost = 2000000;

// A user changing mute, master and channel levels of the given endpoints, in turn, until told to
// stop. Counts the changes made.
class User {
  public:
    explicit User(std::vector<platform::WideString> endpoints)
        : endpoints_(std::move(endpoints)), thread_([this] { Run(); }) {}
    ~User() { Finish(); }

    long Finish() {
        done_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        return changes_;
    }

  private:
    void Run() {
        sim::SetThreadName("user");
        for (long i = 0; !done_ && i < UserChangesAtMost; ++i) {
            const auto& id = endpoints_[static_cast<std::size_t>(i) % endpoints_.size()];
            float level = static_cast<float>(i % 97) / 96.0f;
            switch (i % 3) {
            case 0:
                sim::audio::UserSetMasterLevel(id, level);
                break;
            case 1:
                sim::audio::UserSetMute(id, (i / 3) % 2 ? TRUE : FALSE);
                break;
            default:
                sim::audio::UserSetChannelLevel(id, static_cast<UINT>(i % 2), level);
                break;
            }
            changes_ = i + 1;
        }
    }

    std::vector<platform::WideString> endpoints_;
    std::atomic<bool> done_{false};
    std::atomic<long> changes_{0};
    std::thread thread_;
};

// After the storm the sync still mirrors: one change on the hardware brings the virtual endpoint
// to the same settings.
void ExpectMirroringAfterwards() {
    ASSERT_TRUE(sim::audio::WaitIdle());
    ASSERT_TRUE(Running());
    ASSERT_EQ(sim::audio::UserSetMasterLevel(HardwareId, 0.4375f), S_OK);
    ASSERT_TRUE(sim::audio::WaitIdle());
    EXPECT_TRUE(
        SameSettings(sim::audio::ReadEndpoint(VirtualId), sim::audio::ReadEndpoint(HardwareId)));
}

TEST_F(EndpointService, UserChangesDuringRebuilds) {
    PlugHardware();
    PlugVirtual();
    StartService();
    {
        User user({HardwareId, VirtualId});
        const DWORD eventTypes[] = {DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE,
                                    DBT_DEVICEQUERYREMOVE};
        for (int event = 0; event < Events; ++event) {
            RaiseRenderEvent(eventTypes[event % 3]);
        }
        EXPECT_GT(user.Finish(), 0);
    }
    EXPECT_EQ(sim::scm::Controls().size(), static_cast<std::size_t>(Events));
    // A callback or endpoint used after its release shows here (and under the sanitizers).
    EXPECT_THAT(sim::Faults(), ::testing::IsEmpty());
    ExpectMirroringAfterwards();
}

// The virtual device is pulled out and plugged back again and again while the user changes the
// hardware's volume: mirrored writes meet an invalidated endpoint, rebuilds come and go.
TEST_F(EndpointService, UserChangesWhileVirtualDeviceComesAndGoes) {
    PlugHardware();
    PlugVirtual();
    StartService();
    {
        User user({HardwareId});
        for (int replug = 0; replug < Replugs; ++replug) {
            ASSERT_TRUE(sim::audio::UnplugRenderDevice(VirtualId));
            ASSERT_TRUE(Idle());
            PlugVirtual();
            ASSERT_TRUE(Running());
        }
        EXPECT_GT(user.Finish(), 0);
    }
    EXPECT_THAT(sim::Faults(), ::testing::IsEmpty());
    ExpectMirroringAfterwards();
}

} // namespace
