// Reading the speakers destination's and the three sources' volume and mute controls into a table.
#include "mixer/mixer_scan.h"
#include "mixer_devices.h"

#include <gtest/gtest.h>

namespace {

using namespace mixer_devices;

class ScanMixerLinesTest : public ::testing::Test {
  protected:
    HMIXER Open(const Mixer& mixer) {
        UINT device = sim::winmm::AddMixer(mixer);
        HMIXER handle = nullptr;
        EXPECT_EQ(platform::mixerOpen(&handle, device, 0, 0, 0), MMSYSERR_NOERROR);
        handles.push_back(handle);
        sim::ClearJournal();
        return handle;
    }
    void TearDown() override {
        for (HMIXER handle : handles) {
            platform::mixerClose(handle);
        }
        EXPECT_EQ(sim::Faults(), std::vector<std::string>{});
    }
    // Slots the scan must not have touched keep their marks.
    static void ExpectUntouched(const MixerControlTable& table, std::initializer_list<int> slots) {
        for (int slot : slots) {
            EXPECT_EQ(table[slot], MarkedTable()[slot]) << "slot " << slot;
        }
    }

    std::vector<HMIXER> handles;
    MixerControlTable table = MarkedTable();
};

TEST_F(ScanMixerLinesTest, FillsAllEightSlotsFromSpeakersAndItsThreeSources) {
    ScanMixerLines(Open(CodecMixer()), table);

    EXPECT_EQ(table, CodecTable());
}

TEST_F(ScanMixerLinesTest, MixerWithoutSpeakersLeavesTheTableAsItWas) {
    Mixer mixer = CodecMixer();
    mixer.destinations[0].componentType = WaveInDestination;

    ScanMixerLines(Open(mixer), table);

    EXPECT_EQ(table, MarkedTable());
    EXPECT_TRUE(sim::JournalWith("mixerGetLineControlsW").empty());
}

TEST_F(ScanMixerLinesTest, SourcesUnderOtherDestinationsAreIgnored) {
    Mixer mixer = CodecMixer();
    mixer.destinations[0].sources.erase(mixer.destinations[0].sources.begin() + 1); // wave out

    ScanMixerLines(Open(mixer), table);

    ExpectUntouched(table, {0, 1});
    EXPECT_EQ(table[2], CodecTable()[2]);
}

TEST_F(ScanMixerLinesTest, SpeakersWithoutSourcesFillOnlySlotsSixAndSeven) {
    Mixer mixer = CodecMixer();
    mixer.destinations[0].sources.clear();

    ScanMixerLines(Open(mixer), table);

    ExpectUntouched(table, {0, 1, 2, 3, 4, 5});
    EXPECT_EQ(table[6], CodecTable()[6]);
    EXPECT_EQ(table[7], CodecTable()[7]);
}

TEST_F(ScanMixerLinesTest, MonoLinesFillTheFirstValueOnly) {
    ScanMixerLines(
        Open(MakeMixer({MakeLine(
            SpeakersDestination, SpeakersLine, {Volume(1, {700}), Mute(2, {0xFFFFFFFF})},
            {MakeLine(WaveOutSource, WaveOutLine, {Volume(10, {800}), Mute(11, {0})}, {}, 1)},
            1)})),
        table);

    EXPECT_EQ(table[0], (MixerControlSlot{10, VolumeType, 800, 0xD00}));
    EXPECT_EQ(table[1], (MixerControlSlot{11, MuteType, 0, 0xD01}));
    EXPECT_EQ(table[6], (MixerControlSlot{1, VolumeType, 700, 0xD06}));
    EXPECT_EQ(table[7], (MixerControlSlot{2, MuteType, 0xFFFFFFFF, 0xD07}));
    for (const auto& read : sim::JournalWith("mixerGetControlDetailsW")) {
        EXPECT_NE(read.find(" channels=1 "), std::string::npos) << read;
    }
}

TEST_F(ScanMixerLinesTest, FailedValueReadKeepsTheNewIdentifierWithTheOldTypeAndValues) {
    HMIXER mixer = Open(CodecMixer());
    sim::winmm::FailMixerCall(0, "mixerGetControlDetailsW", 20);

    ScanMixerLines(mixer, table);

    MixerControlTable expected = CodecTable();
    expected[2] = {20, 0xB02, 0xC02, 0xD02};
    EXPECT_EQ(table, expected);
}

TEST_F(ScanMixerLinesTest, LastOfTwoControlsOfOneKindFillsTheSlot) {
    Mixer mixer = CodecMixer();
    mixer.destinations[0].sources[1].controls = {Volume(10, {1, 2}), Mute(11, {1, 1}),
                                                 Volume(12, {3, 4}), Mute(13, {0, 0})};

    ScanMixerLines(Open(mixer), table);

    EXPECT_EQ(table[0], (MixerControlSlot{12, VolumeType, 3, 4}));
    EXPECT_EQ(table[1], (MixerControlSlot{13, MuteType, 0, 0}));
}

TEST_F(ScanMixerLinesTest, LastOfTwoSpeakersDestinationsFillsTheMasterSlots) {
    Mixer mixer = CodecMixer();
    mixer.destinations[1] =
        MakeLine(SpeakersDestination, 0xFFFF0002, {Volume(60, {5, 6}), Mute(61, {0, 0})});

    ScanMixerLines(Open(mixer), table);

    EXPECT_EQ(table[6], (MixerControlSlot{60, VolumeType, 5, 6}));
    EXPECT_EQ(table[7], (MixerControlSlot{61, MuteType, 0, 0}));
    EXPECT_EQ(table[0], CodecTable()[0]);
}

TEST_F(ScanMixerLinesTest, SecondScanOfAMixerThatLostALineKeepsItsOldSlots) {
    HMIXER mixer = Open(CodecMixer());
    ScanMixerLines(mixer, table);
    Mixer changed = CodecMixer();
    changed.destinations[0].sources.erase(changed.destinations[0].sources.begin() + 2); // CD
    changed.destinations[0].sources[1].controls = {Volume(14, {111, 222}), Mute(15, {0, 0})};
    sim::winmm::ReplaceMixer(0, changed);

    ScanMixerLines(mixer, table);

    MixerControlTable expected = CodecTable();
    expected[0] = {14, VolumeType, 111, 222};
    expected[1] = {15, MuteType, 0, 0};
    EXPECT_EQ(table, expected);
}

TEST_F(ScanMixerLinesTest, FailedLineQueriesSkipOnlyTheirLines) {
    HMIXER mixer = Open(CodecMixer());
    sim::winmm::FailMixerCall(0, "mixerGetLineInfoW", CompactDiscLine);
    sim::winmm::FailMixerCall(0, "mixerGetLineControlsW", WaveOutLine);

    ScanMixerLines(mixer, table);

    ExpectUntouched(table, {0, 1, 2, 3});
    EXPECT_EQ(table[4], CodecTable()[4]);
    EXPECT_EQ(table[6], CodecTable()[6]);
}

TEST_F(ScanMixerLinesTest, FailedSpeakersQuerySkipsItsSources) {
    HMIXER mixer = Open(CodecMixer());
    sim::winmm::FailMixerCall(0, "mixerGetLineInfoW", SpeakersLine);

    ScanMixerLines(mixer, table);

    EXPECT_EQ(table, MarkedTable());
}

TEST_F(ScanMixerLinesTest, FailedCapabilitiesQueryCountsAsNoDestinations) {
    HMIXER mixer = Open(CodecMixer());
    sim::winmm::FailMixerCall(0, "mixerGetDevCapsW");

    ScanMixerLines(mixer, table);

    EXPECT_EQ(table, MarkedTable());
    EXPECT_TRUE(sim::JournalWith("mixerGetLineInfoW").empty());
}

// Chosen behaviour: a line with no channels gives its controls' identifiers but no value read,
// so no empty value buffer is ever passed; a line with no controls is not asked for any.
TEST_F(ScanMixerLinesTest, LineWithoutChannelsKeepsTypesAndValuesUnderNewIdentifiers) {
    Mixer mixer = CodecMixer();
    mixer.destinations[0].channels = 0;

    ScanMixerLines(Open(mixer), table);

    EXPECT_EQ(table[6], (MixerControlSlot{1, 0xB06, 0xC06, 0xD06}));
    EXPECT_EQ(table[7], (MixerControlSlot{2, 0xB07, 0xC07, 0xD07}));
    EXPECT_EQ(table[0], CodecTable()[0]);
}

TEST_F(ScanMixerLinesTest, LineWithoutControlsIsNotAskedForThem) {
    Mixer mixer = CodecMixer();
    mixer.destinations[0].controls.clear();

    ScanMixerLines(Open(mixer), table);

    ExpectUntouched(table, {6, 7});
    EXPECT_EQ(table[0], CodecTable()[0]);
    EXPECT_EQ(sim::JournalWith("mixerGetLineControlsW").size(), 3u);
}

// Every record passes the size the platform declares for it, with the flags of a handle query.
TEST_F(ScanMixerLinesTest, PassesThePlatformRecordSizesInEveryCall) {
    Mixer mixer = MakeMixer(
        {MakeLine(SpeakersDestination, SpeakersLine, {Volume(1, {5, 6}), Mute(2, {0, 0})},
                  {MakeLine(LineInSource, LineInLine, {Volume(100, {9, 9})}),
                   MakeLine(WaveOutSource, WaveOutLine, {Volume(10, {7}), Mute(11, {1})}, {}, 1)}),
         MakeLine(WaveInDestination, RecordingLine, {Volume(40, {8, 8})})});
    ScanMixerLines(Open(mixer), table);

    std::vector<std::string> expected = {
        "mixerGetDevCapsW mixer=0 cb=80 -> 0",
        "mixerGetLineInfoW mixer=0 cb=284 flags=0x80000000 dst=0 src=0 -> 0",
        "mixerGetLineControlsW mixer=0 cb=28 flags=0x80000000 line=0xFFFF0000 controls=2 "
        "cbmxctrl=228 -> 0",
        "mixerGetControlDetailsW mixer=0 cb=32 flags=0x80000000 control=1 channels=2 items=0 "
        "cbDetails=4 -> 0",
        "mixerGetControlDetailsW mixer=0 cb=32 flags=0x80000000 control=2 channels=2 items=0 "
        "cbDetails=4 -> 0",
        "mixerGetLineInfoW mixer=0 cb=284 flags=0x80000001 dst=0 src=0 -> 0",
        "mixerGetLineInfoW mixer=0 cb=284 flags=0x80000001 dst=0 src=1 -> 0",
        "mixerGetLineControlsW mixer=0 cb=28 flags=0x80000000 line=0x10001 controls=2 "
        "cbmxctrl=228 -> 0",
        "mixerGetControlDetailsW mixer=0 cb=32 flags=0x80000000 control=10 channels=1 items=0 "
        "cbDetails=4 -> 0",
        "mixerGetControlDetailsW mixer=0 cb=32 flags=0x80000000 control=11 channels=1 items=0 "
        "cbDetails=4 -> 0",
        "mixerGetLineInfoW mixer=0 cb=284 flags=0x80000000 dst=1 src=0 -> 0",
    };
    for (auto& entry : expected) {
        entry += " [test]";
    }
    EXPECT_EQ(sim::Journal(), expected);
}

} // namespace
