// QuenvarCheck on the simulated machine: a machine where the service would mirror, each reason it
// would not, and the report's lines that tell them apart.
#include "check/check.h"
#include "endpoint_sync_devices.h"
#include "mixer_sync_devices.h"
#include "platform/com.h"
#include "platform/scm.h"
#include "platform/sim/scm.h"
#include "platform/sim/variants.h"
#include "service/install.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

struct Outcome {
    int status;
    std::vector<std::string> lines;
    std::string last;
};

Outcome Check() {
    std::string report;
    Outcome outcome;
    outcome.status = CheckMachine(report);
    std::istringstream in(report);
    for (std::string line; std::getline(in, line);) {
        outcome.lines.push_back(line);
    }
    outcome.last = outcome.lines.empty() ? "" : outcome.lines.back();
    return outcome;
}

const std::string NotMirroring = "Would mirror: no: ";
const platform::WideString Folder = WIDE("C:\\Program Files\\Quenvar");

// A machine where the service would mirror above version 5: both devices with their endpoints,
// the virtual device's filter, the service installed by its own -install.
void EndpointMachine() {
    sync_test::PlugHardware();
    sync_test::PlugVirtual();
    InstallService();
}

// Nothing the check did may change the machine or stay open.
void ExpectUntouched() {
    EXPECT_TRUE(sim::JournalWith("SetMute").empty());
    EXPECT_TRUE(sim::JournalWith("SetMasterVolumeLevelScalar").empty());
    EXPECT_TRUE(sim::JournalWith("SetChannelVolumeLevelScalar").empty());
    EXPECT_TRUE(sim::JournalWith("mixerSetControlDetails").empty());
    EXPECT_TRUE(sim::JournalWith("KsSet").empty());
    EXPECT_EQ(sim::audio::LiveObjects(), 0u);
    EXPECT_EQ(sim::ks::OpenFilterHandles(), 0u);
    EXPECT_EQ(sim::winmm::OpenMixerHandles(), 0u);
    EXPECT_EQ(sim::scm::OpenScHandles(), 0u);
    EXPECT_TRUE(sim::Faults().empty());
}

// Before anything else, as the service does: here on a kernel32 without SetDefaultDllDirectories.
TEST(CheckReport, RestrictsTheDllSearchFirst) {
    sim::SetDefaultDllDirectoriesExported(false);
    Check();
    std::vector<std::string> first = sim::Journal();
    first.resize(3);
    EXPECT_EQ(first,
              (std::vector<std::string>{"GetModuleHandleW kernel32.dll [test]",
                                        "GetProcAddress SetDefaultDllDirectories failed 127 [test]",
                                        "SetDllDirectoryW \"\" [test]"}));
}

TEST(CheckReport, AboveVersion5EverythingFound) {
    EndpointMachine();
    Outcome outcome = Check();
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.last, "Would mirror: yes");
    EXPECT_THAT(outcome.lines, Contains("Windows version: 6.1 (build 2600)"));
    EXPECT_THAT(outcome.lines, Contains("  1 \"Speakers (Realtek High Definition Audio)\", module "
                                        "\"{0.0.0.00000000}.{5e1d-codec}\"  <- codec's speakers"));
    EXPECT_THAT(outcome.lines, Contains("  2 \"Speakers (Orvane)\", module "
                                        "\"{0.0.0.00000000}.{5e1d-orvane}\"  <- virtual device"));
    EXPECT_THAT(outcome.lines, Contains("  endpoint opens, volume activates: master 0.750, "
                                        "mute on, channels 0.500 0.750"));
    EXPECT_THAT(outcome.lines, Contains("  endpoint opens, volume activates: master 0.875, "
                                        "mute off, channels 0.109 0.875"));
    EXPECT_THAT(outcome.lines, Contains(HasSubstr("): found, \"\\\\?\\root#orvane#0000#render\"")));
    EXPECT_THAT(outcome.lines, Contains("Service \"Quenvar_Service\": installed, stopped"));
    EXPECT_THAT(outcome.lines,
                Contains("  command line: \"C:\\Program Files\\Quenvar\\QuenvarService.exe\" "
                         "(quoted)"));
    EXPECT_THAT(outcome.lines,
                Contains("  program \"C:\\Program Files\\Quenvar\\QuenvarService.exe\": "
                         "replaceable by administrators only"));
    ExpectUntouched();
}

// The check binds with the service's own words and test: a decoy listed first is passed over by
// both, and both take the same endpoint.
TEST(CheckReport, DecoysAreSkippedAsTheServiceSkipsThem) {
    sim::audio::RenderDevice decoy = sync_test::HardwareDevice();
    decoy.description = WIDE("Digital Output (Realtek High Definition Audio)");
    decoy.module = WIDE("{0.0.0.00000000}.{5e1d-spdif}");
    sim::audio::AddRenderDevice(decoy);
    EndpointMachine();
    Outcome outcome = Check();
    EXPECT_EQ(outcome.status, 0);
    EXPECT_THAT(outcome.lines,
                Contains("Codec's speakers (description holds \"Realtek High Definition Audio\" "
                         "and \"Speakers\"): device 2"));

    ASSERT_EQ(platform::CoInitialize(nullptr), S_OK);
    StartEndpointSync();
    ASSERT_TRUE(HardwareEndpoint);
    EXPECT_EQ(HardwareEndpoint->endpointId, sync_test::HardwareId);
    StopEndpointSync();
    platform::CoUninitialize();
}

struct Reason {
    const char* name;
    void (*machine)();
    const char* line;   // a line of the report that shows the fault
    const char* reason; // the verdict's reason
};

void PrintTo(const Reason& test, std::ostream* out) {
    *out << test.name;
}

class CheckReason : public ::testing::TestWithParam<Reason> {};

TEST_P(CheckReason, IsTheVerdict) {
    GetParam().machine();
    Outcome outcome = Check();
    EXPECT_EQ(outcome.status, 1);
    EXPECT_THAT(outcome.lines, Contains(GetParam().line));
    EXPECT_EQ(outcome.last, NotMirroring + GetParam().reason);
    ExpectUntouched();
}

sim::audio::RenderDevice Named(const WCHAR* description, const WCHAR* module,
                               bool endpoint = true) {
    sim::audio::RenderDevice device = sync_test::HardwareDevice();
    device.description = description;
    device.module = module;
    device.endpoint = endpoint;
    return device;
}

INSTANTIATE_TEST_SUITE_P(
    EachFault, CheckReason,
    ::testing::Values(
        Reason{"NoVirtualDevice",
               [] {
                   sync_test::PlugHardware();
                   InstallService();
               },
               "Virtual device (description holds \"Speakers (Orvane)\"): no device",
               "Virtual device: no render device's description holds \"Speakers (Orvane)\""},
        Reason{"VirtualEndpointDisabled",
               [] {
                   EndpointMachine();
                   sim::audio::SetEndpointState(sync_test::VirtualId, DEVICE_STATE_DISABLED);
               },
               "Virtual device (description holds \"Speakers (Orvane)\"): no device: the "
               "endpoint \"Speakers (Orvane)\" is disabled in the Sound panel",
               "Virtual device: the endpoint \"Speakers (Orvane)\" is disabled in the Sound panel"},
        Reason{"DecoyNamesOnly",
               [] {
                   sim::audio::AddRenderDevice(
                       Named(WIDE("Realtek HD Audio 2nd output (Realtek High Definition Audio)"),
                             WIDE("a")));
                   sim::audio::AddRenderDevice(
                       Named(WIDE("speakers (realtek high definition audio)"), WIDE("b")));
                   sim::audio::AddRenderDevice(
                       Named(WIDE("Headphones (Orvane Virtual)"), WIDE("c")));
                   sync_test::PlugVirtual(sync_test::VirtualDevice());
                   InstallService();
               },
               "Codec's speakers (description holds \"Realtek High Definition Audio\" and "
               "\"Speakers\"): no device",
               "Codec's speakers: no render device's description holds \"Realtek High "
               "Definition Audio\" and \"Speakers\""},
        Reason{"EmptyModuleString",
               [] {
                   sim::audio::AddRenderDevice(
                       Named(WIDE("Speakers (Realtek High Definition Audio)"), WIDE(""), false));
                   sync_test::PlugVirtual();
                   InstallService();
               },
               "  module string empty: no endpoint id to open",
               "Codec's speakers: the module string of device 1 is empty"},
        Reason{"ModuleStringIsNoEndpointId",
               [] {
                   sync_test::PlugHardware();
                   sim::audio::AddRenderDevice(
                       Named(WIDE("Speakers (Orvane)"), WIDE("winemm.vxd"), false));
                   sim::ks::AddInterface(sim::ks::VirtualRenderInterface(sync_test::VirtualPath));
                   InstallService();
               },
               "  endpoint does not open (GetDevice 0x80070490): module string \"winemm.vxd\" is "
               "no endpoint id",
               "Virtual device: module string \"winemm.vxd\" of device 2 is no endpoint id"},
        Reason{"NoFilter",
               [] {
                   sync_test::PlugHardware();
                   sim::audio::AddRenderDevice(sync_test::VirtualDevice());
                   InstallService();
               },
               "Kernel-streaming filter (product GUID {63BC331B-0DC7-441F-8590-2EA9319629B3}): "
               "not found",
               "the virtual device's kernel-streaming filter is not found"},
        Reason{"ServiceNotInstalled",
               [] {
                   sync_test::PlugHardware();
                   sync_test::PlugVirtual();
               },
               "Service \"Quenvar_Service\": not installed", "the service is not installed"},
        Reason{"UnquotedCommandLine",
               [] {
                   sync_test::PlugHardware();
                   sync_test::PlugVirtual();
                   SC_HANDLE manager =
                       platform::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
                   platform::CloseServiceHandle(platform::CreateServiceW(
                       manager, WIDE("Quenvar_Service"), WIDE("Quenvar Service"),
                       SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                       SERVICE_ERROR_NORMAL, WIDE("C:\\Program Files\\Quenvar\\QuenvarService.exe"),
                       nullptr, nullptr, nullptr, nullptr, nullptr));
                   platform::CloseServiceHandle(manager);
               },
               "  command line: C:\\Program Files\\Quenvar\\QuenvarService.exe (NOT quoted)",
               "the registered command line is not quoted: with a space in its path, Windows may "
               "start another program"},
        Reason{"WritableFolder",
               [] {
                   EndpointMachine();
                   auto access = sim::ProgramFilesAccess();
                   // Inherit-only but passed to no file, and denied before it is allowed: neither
                   // counts.
                   access.push_back({ACCESS_ALLOWED_ACE_TYPE, INHERIT_ONLY_ACE,
                                     static_cast<DWORD>(GENERIC_ALL), "S-1-5-32-545"});
                   access.insert(access.begin(),
                                 {ACCESS_DENIED_ACE_TYPE, 0, FILE_ADD_FILE, "S-1-1-0"});
                   access.push_back({ACCESS_ALLOWED_ACE_TYPE, 0, FILE_ADD_FILE, "S-1-1-0"});
                   access.push_back(
                       {ACCESS_ALLOWED_ACE_TYPE, 0, FILE_ADD_FILE | WRITE_DAC, "S-1-5-11"});
                   sim::SetFileSecurity(Folder, sim::SecurityDescriptor(access));
               },
               "  (a program or DLL put there runs as LocalSystem when the service starts)",
               "the service's program \"C:\\Program Files\\Quenvar\\QuenvarService.exe\" can be "
               "replaced by others than administrators: \"C:\\Program Files\\Quenvar\": S-1-5-11 "
               "(Authenticated Users) may add files, change permissions"}),
    [](const auto& info) { return std::string(info.param.name); });

// Version 5: the mixers as the mixer sync finds and scans them, opened only while read.
TEST(CheckReport, AtVersion5TheMixersAndTheirControls) {
    using namespace mixer_sync_devices;
    sim::SetWindowsVersion(5, 1);
    sim::winmm::AddMixer(CodecMixer("Realtek HD Audio rear output"));
    sim::winmm::AddMixer(VirtualMixerDevice());
    sim::ks::AddInterface(sim::ks::VirtualRenderInterface(FilterPath));
    InstallService();
    Outcome outcome = Check();
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.last, "Would mirror: yes");
    EXPECT_THAT(outcome.lines, Contains("Mechanism: mixers (winmm), as at version 5 and below"));
    EXPECT_THAT(outcome.lines,
                Contains("  0 \"Realtek HD Audio rear output\", product GUID "
                         "{00000000-0000-0000-0000-000000000000}  <- codec's mixer"));
    EXPECT_THAT(outcome.lines,
                Contains("  1 \"Orvane Audio\", product GUID "
                         "{63BC331B-0DC7-441F-8590-2EA9319629B3}  <- virtual mixer"));
    EXPECT_THAT(outcome.lines, Contains(HasSubstr("mixer 0, by the name \"Realtek HD Audio rear "
                                                  "output\"")));
    // Both tables, slot by slot: the codec's ids in the tens, the virtual device's above 200.
    for (int slot = 0; slot < 8; ++slot) {
        for (auto [ids, values] : {std::pair{CodecIds, CodecValues}, {VirtualIds, VirtualValues}}) {
            EXPECT_THAT(outcome.lines,
                        Contains(AllOf(StartsWith("  " + std::to_string(slot) + " "),
                                       EndsWith(": control " + std::to_string(ids[slot]) +
                                                ", values " + std::to_string(values[slot][0]) +
                                                " " + std::to_string(values[slot][1])))));
        }
    }
    ExpectUntouched();
}

TEST(CheckReport, AtVersion5MixersWithoutProductGuid) {
    using namespace mixer_sync_devices;
    sim::SetWindowsVersion(5, 1);
    Mixer virtualWithoutGuid = VirtualMixerDevice();
    virtualWithoutGuid.productGuid = GUID{};
    sim::winmm::AddMixer(CodecMixer("Realtek HD Audio output"));
    sim::winmm::AddMixer(virtualWithoutGuid);
    sim::ks::AddInterface(sim::ks::VirtualRenderInterface(FilterPath));
    InstallService();
    Outcome outcome = Check();
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.last, NotMirroring + "no mixer carries the virtual device's product GUID "
                                           "{63BC331B-0DC7-441F-8590-2EA9319629B3}");
    EXPECT_THAT(outcome.lines, Contains("  6 speakers volume: control 1, values 40000 30000"));
    ExpectUntouched();
}

// A uniform control at a slot is named, since the service reads and writes it with two channels.
TEST(CheckReport, AtVersion5AUniformControlAtASlotIsNamed) {
    using namespace mixer_sync_devices;
    sim::SetWindowsVersion(5, 1);
    ASSERT_TRUE(sim::SetVariant("mixer-uniform", "on"));
    sim::winmm::AddMixer(CodecMixer("Realtek HD Audio output"));
    Outcome outcome = Check();
    EXPECT_THAT(outcome.lines, Contains(HasSubstr("uniform")).Times(1));
    EXPECT_THAT(outcome.lines, Contains("  6 speakers volume: control 1, values 40000 0, uniform: "
                                        "its two-channel reads and writes may be wrong"));
    ExpectUntouched();
}

} // namespace
