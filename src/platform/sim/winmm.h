// The simulated winmm mixers: what tests and the demo use to set up mixer devices, act as the user
// on their controls, make calls fail and see what the code under test did with them.
//
// Devices are numbered by their position (0 to mixerGetNumDevs() - 1), as winmm numbers them.
// Handles are never reused, also across machine resets, so a stale handle always fails.
//
// Journal entries (sim::Record, each followed by the thread tag " [name]"); numbers are decimal
// unless shown with 0x; <rc> is the MMRESULT returned; mixer=<n> names the device identifier a
// handle was opened with (mixer=? for a handle the machine never gave out):
//   mixerGetNumDevs -> <count>
//   mixerGetDevCapsW id=<uMxId> cb=<cbmxcaps> -> <rc>
//   mixerGetDevCapsW mixer=<n> cb=<cbmxcaps> -> <rc>        (an open handle in place of the id)
//   mixerOpen id=<uMxId> callback=0x<dwCallback> instance=<dwInstance> flags=0x<fdwOpen> -> <rc>
//   mixerClose mixer=<n> -> <rc>
//   mixerGetLineInfoW mixer=<n> cb=<cbStruct> flags=0x<fdwInfo> dst=<d> src=<s> -> <rc>
//   mixerGetLineControlsW mixer=<n> cb=<cbStruct> flags=0x<f> line=0x<dwLineID>
//       controls=<cControls> cbmxctrl=<cbmxctrl> -> <rc>
//   mixerGetControlDetailsW mixer=<n> cb=<cbStruct> flags=0x<f> control=<dwControlID>
//       channels=<cChannels> items=<cMultipleItems> cbDetails=<cbDetails> -> <rc>
//   mixerSetControlDetails (the fields of mixerGetControlDetailsW) values=<v0>[,<v1>] -> <rc>
//   UserSetControl id=<device> control=<controlId> values=<v0>,<v1>...
// (Each entry is one line; a null record pointer shows as cb=null; a write shows its values
// when it passes one or two channels of 4 bytes.)
//
// Control details take one channel (as if uniform: a read gives channel 0, a write sets every
// channel), the line's channel count, or two; channels beyond the line's read as channel 0 and
// are dropped on writes. Where the pages are silent the machine takes each answer of its variants
// (sim/variants.h): mixer-own-notice, mixer-unchanged-notice, mixer-read-back and mixer-uniform
// (the mixer's first volume control reports MIXERCONTROL_CONTROLF_UNIFORM; a larger channel count
// on it reads only the first channel and writes the first value to every channel).
//
// Misuse by the code under test goes to sim::ReportFault: a record size or flag the platform
// refuses, a zero channel count, an empty control request, a missing buffer, a second close.
#pragma once

#include "platform/types.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sim::winmm {

// One control of a line. values holds one 32-bit value per channel of the line (volume: the
// unsigned level; mute: the boolean, kept raw as written); channels not given read as 0.
struct Control {
    DWORD id = 0;
    DWORD type = MIXERCONTROL_CONTROLTYPE_VOLUME;
    std::vector<DWORD> values;
};

// A destination line, or a source line when it is an element of a destination's sources.
struct Line {
    DWORD componentType = 0;
    DWORD channels = 2;
    DWORD lineId = 0;
    std::vector<Control> controls;
    std::vector<Line> sources; // destinations only
    platform::WideString name;
};

// One mixer device. A name longer than 31 characters is reported cut to 31, as a driver's
// szPname is. Control identifiers must be unique within the mixer.
struct Mixer {
    platform::WideString name;
    GUID productGuid{};
    GUID manufacturerGuid{};
    GUID nameGuid{};
    std::vector<Line> destinations;
};

// Adds a device after the existing ones and returns its identifier.
UINT AddMixer(Mixer mixer);
// The device's lines and controls change (a driver update, a codec reconfigured); its handles
// stay open.
void ReplaceMixer(UINT device, Mixer mixer);
// The device goes away: later devices move down by one; its open handles fail every call with
// MMSYSERR_NODRIVER, but can still be closed.
void RemoveMixer(UINT device);

// Current values of a control, one per channel of its line; empty when there is no such control.
std::vector<DWORD> ControlValues(UINT device, DWORD controlId);
// The user moves a control: the values are stored (channels beyond the line's are dropped) and
// every window that opened the device with CALLBACK_WINDOW is told.
void UserSetControl(UINT device, DWORD controlId, const std::vector<DWORD>& values);

// Failure injection for one device: the call named (mixerGetDevCapsW, mixerOpen,
// mixerGetLineInfoW, mixerGetLineControlsW, mixerGetControlDetailsW, mixerSetControlDetails)
// returns result for the next `times` calls on that device (-1: until the machine is reset).
// target narrows it: the line identifier for mixerGetLineInfoW and mixerGetLineControlsW, the
// control identifier for the two details calls. sim::FailCall(name) fails a call on any device
// with MMSYSERR_ERROR (mixerGetNumDevs then answers 0).
void FailMixerCall(UINT device, const std::string& call, std::optional<DWORD> target = {},
                   MMRESULT result = MMSYSERR_ERROR, int times = -1);

// Every successful mixerOpen since the last reset, in order.
struct OpenRecord {
    HMIXER handle;
    UINT device;
    DWORD_PTR callback;
    DWORD_PTR instance;
    DWORD flags;
    bool closed;
};
std::vector<OpenRecord> Opens();
// Handles opened and not yet closed (leak checks).
std::size_t OpenMixerHandles();

// Told of every control change, by any handle's successful mixerSetControlDetails or by the user:
// once per open handle of that device whose open named a window (CALLBACK_WINDOW), in the order
// of the opens, with that handle, outside the machine's locks. The window side posts
// MM_MIXM_CONTROL_CHANGE from here. The sink survives machine resets; setting one returns the
// one it replaces, so a test can put it back.
using ControlChangeSink = std::function<void(HWND window, HMIXER mixer, DWORD controlId)>;
ControlChangeSink SetControlChangeSink(ControlChangeSink sink);

// Answers whether a window exists; set by the window side, kept across resets. mixerOpen with
// CALLBACK_WINDOW refuses a callback that is neither null nor a window (MMSYSERR_INVALPARAM).
using WindowCheck = std::function<bool(HWND window)>;
void SetWindowCheck(WindowCheck check);

} // namespace sim::winmm
