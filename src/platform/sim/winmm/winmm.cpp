// Simulated winmm: mixer devices, their handles, lines, controls and values, and the mixer calls.
#include "platform/sim/winmm.h"
#include "platform/sim/machine.h"
#include "platform/sim/variants.h"
#include "platform/winmm.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>
#include <utility>

// The records cross the seam byte for byte: the same sizes as the platform's on both builds.
static_assert(sizeof(MIXERCAPS2W) == 128);
static_assert(sizeof(MIXERCAPSW) == 80);
static_assert(sizeof(MIXERLINEW) == 284);
static_assert(sizeof(MIXERLINECONTROLSW) == 28);
static_assert(sizeof(MIXERCONTROLW) == 228);
static_assert(sizeof(MIXERCONTROLDETAILS) == 32);

namespace sim::winmm {
namespace {

// Parts of the flag words, as mmsystem.h splits them.
constexpr DWORD ObjectKindMask = 0xF0000000;
constexpr DWORD QueryMask = 0x0000000F;
constexpr DWORD CallbackKindMask = 0x00070000;
constexpr DWORD CallbackNull = 0x00000000;
constexpr DWORD LineActive = 0x00000001;
constexpr DWORD LineSource = 0x80000000;
constexpr DWORD VolumeMaximum = 0xFFFF;
constexpr DWORD DetailSize = sizeof(DWORD);

struct Failure {
    std::string call;
    std::optional<DWORD> target;
    MMRESULT result;
    int times;
};

struct Device {
    Mixer mixer;
    std::vector<Failure> failures; // newest first
    bool removed = false;
    DWORD stepPhase = 0; // under mixer-read-back=rounded, volumes keep this parity
};

struct HandleEntry {
    std::shared_ptr<Device> device;
    OpenRecord record;
};

struct State {
    std::mutex lock;
    std::vector<std::shared_ptr<Device>> devices;
    // Closed handles stay listed: they keep their journal name and a second close is noticed.
    std::map<std::uintptr_t, HandleEntry> handles;
    std::vector<std::uintptr_t> opens;
    std::uintptr_t next = 0xA000; // far above any device identifier
    DWORD added = 0;              // devices added since the reset
    ControlChangeSink sink;
    WindowCheck windowCheck;
};

State& Mixers() {
    return AreaState<State>([](State& state) {
        state.devices.clear();
        state.handles.clear();
        state.opens.clear();
        state.added = 0;
    });
}

std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string Number(std::uint64_t value) {
    return std::to_string(value);
}

std::uintptr_t Key(HMIXER mixer) {
    return reinterpret_cast<std::uintptr_t>(mixer);
}

void CopyName(WCHAR* destination, std::size_t capacity, const platform::WideString& name) {
    std::size_t length = std::min(name.size(), capacity - 1);
    std::copy_n(name.begin(), length, destination);
    destination[length] = 0;
}

// Every control gets one value per channel of its line.
void Normalize(Line& line) {
    for (auto& control : line.controls) {
        control.values.resize(line.channels, 0);
    }
    for (auto& source : line.sources) {
        Normalize(source);
    }
}

Mixer Normalized(Mixer mixer) {
    for (auto& destination : mixer.destinations) {
        Normalize(destination);
    }
    return mixer;
}

Line* LineById(Line& line, DWORD lineId) {
    if (line.lineId == lineId) {
        return &line;
    }
    for (auto& source : line.sources) {
        if (Line* found = LineById(source, lineId)) {
            return found;
        }
    }
    return nullptr;
}

Line* LineById(Mixer& mixer, DWORD lineId) {
    for (auto& destination : mixer.destinations) {
        if (Line* found = LineById(destination, lineId)) {
            return found;
        }
    }
    return nullptr;
}

std::pair<Line*, Control*> ControlById(Line& line, DWORD controlId) {
    for (auto& control : line.controls) {
        if (control.id == controlId) {
            return {&line, &control};
        }
    }
    for (auto& source : line.sources) {
        auto found = ControlById(source, controlId);
        if (found.second) {
            return found;
        }
    }
    return {nullptr, nullptr};
}

std::pair<Line*, Control*> ControlById(Mixer& mixer, DWORD controlId) {
    for (auto& destination : mixer.destinations) {
        auto found = ControlById(destination, controlId);
        if (found.second) {
            return found;
        }
    }
    return {nullptr, nullptr};
}

// Under mixer-uniform=on: the mixer's first volume control, destinations before their sources.
const Control* FirstVolume(const Line& line) {
    for (const auto& control : line.controls) {
        if (control.type == static_cast<DWORD>(MIXERCONTROL_CONTROLTYPE_VOLUME)) {
            return &control;
        }
    }
    for (const auto& source : line.sources) {
        if (const Control* found = FirstVolume(source)) {
            return found;
        }
    }
    return nullptr;
}

bool Uniform(const Mixer& mixer, const Control& control) {
    if (!VariantIs("mixer-uniform", "on")) {
        return false;
    }
    for (const auto& destination : mixer.destinations) {
        if (const Control* first = FirstVolume(destination)) {
            return first == &control;
        }
    }
    return false;
}

// Stores written values as the device holds them and answers whether the control changed. Under
// mixer-read-back=rounded a volume keeps the device's step of 2, so it may read back 1 off.
bool Store(const Device& device, Control& control, const std::vector<DWORD>& written) {
    bool rounded = control.type == static_cast<DWORD>(MIXERCONTROL_CONTROLTYPE_VOLUME) &&
                   VariantIs("mixer-read-back", "rounded");
    bool changed = false;
    for (std::size_t channel = 0; channel < control.values.size(); ++channel) {
        DWORD value = written[channel];
        if (rounded && ((value ^ device.stepPhase) & 1) != 0) {
            value = value > device.stepPhase ? value - 1 : value + 1;
            CountVariantEffect("mixer-read-back");
        }
        changed = changed || value != control.values[channel];
        control.values[channel] = value;
    }
    return changed;
}

// Injected failures: the machine-wide one by call name first, then the device's own rules.
std::optional<MMRESULT> Injected(Device& device, const std::string& call,
                                 std::optional<DWORD> target) {
    if (ShouldFail(call)) {
        return MMSYSERR_ERROR;
    }
    for (auto& failure : device.failures) {
        if (failure.call != call || failure.times == 0) {
            continue;
        }
        if (failure.target && (!target || *failure.target != *target)) {
            continue;
        }
        if (failure.times > 0) {
            --failure.times;
        }
        return failure.result;
    }
    return std::nullopt;
}

std::string HandleName(State& state, HMIXER mixer) {
    auto found = state.handles.find(Key(mixer));
    if (found == state.handles.end()) {
        return "mixer=?";
    }
    return "mixer=" + Number(found->second.record.device);
}

// A handle the calls can use: open, and its device still present. A closed one answers
// MMSYSERR_INVALHANDLE (learn.microsoft.com, the mixer calls); Wine's stay usable.
MMRESULT Resolve(State& state, HMIXER mixer, HandleEntry*& entry) {
    auto found = state.handles.find(Key(mixer));
    if (found == state.handles.end() || found->second.record.closed) {
        return MMSYSERR_INVALHANDLE;
    }
    if (found->second.device->removed) {
        return MMSYSERR_NODRIVER;
    }
    entry = &found->second;
    return MMSYSERR_NOERROR;
}

MMRESULT Refuse(MMRESULT result, const std::string& fault) {
    ReportFault(fault);
    return result;
}

// Flags of a handle-addressed query: the object must be an HMIXER, the query one of `queries`.
MMRESULT CheckFlags(const std::string& call, DWORD flags, DWORD queries) {
    if ((flags & ObjectKindMask) != static_cast<DWORD>(MIXER_OBJECTF_HMIXER) ||
        (flags & ~(ObjectKindMask | QueryMask)) != 0 || (flags & QueryMask) > queries) {
        return Refuse(MMSYSERR_INVALFLAG, call + ": flags " + Hex(flags) + " not supported");
    }
    return MMSYSERR_NOERROR;
}

using Notice = std::pair<HWND, HMIXER>;

// The windows to tell of a change on the device, one per open handle with a window callback.
// Source: mixerOpen and MM_MIXM_CONTROL_CHANGE (learn.microsoft.com); Wine posts none. The pages
// are silent on a write that changes nothing and on the handle that made the change (author):
// both are variants.
std::vector<Notice> Recipients(State& state, const Device* device, bool changed,
                               HMIXER author = nullptr) {
    std::vector<Notice> recipients;
    bool others = VariantIs("mixer-own-notice", "others");
    for (auto key : state.opens) {
        const auto& entry = state.handles.at(key);
        const auto& record = entry.record;
        if (entry.device.get() == device && !record.closed &&
            (record.flags & CallbackKindMask) == static_cast<DWORD>(CALLBACK_WINDOW) &&
            record.callback != 0) {
            if (others && record.handle == author) {
                CountVariantEffect("mixer-own-notice");
                continue;
            }
            recipients.emplace_back(reinterpret_cast<HWND>(record.callback), record.handle);
        }
    }
    if (!changed && !recipients.empty() && VariantIs("mixer-unchanged-notice", "changed")) {
        CountVariantEffect("mixer-unchanged-notice");
        recipients.clear();
    }
    return recipients;
}

void Tell(std::unique_lock<std::mutex>& guard, const std::vector<Notice>& recipients,
          DWORD controlId) {
    ControlChangeSink sink = Mixers().sink;
    guard.unlock();
    if (sink) {
        for (const auto& [window, mixer] : recipients) {
            sink(window, mixer, controlId);
        }
    }
}

std::string Values(const DWORD* values, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        if (i) {
            text += ',';
        }
        text += Number(values[i]);
    }
    return text;
}

enum class Direction { Get, Set };

// The shared body of mixerGetControlDetailsW and mixerSetControlDetails.
MMRESULT ControlDetails(Direction direction, HMIXER hmxobj, LPMIXERCONTROLDETAILS pmxcd,
                        DWORD flags) {
    const std::string call =
        direction == Direction::Get ? "mixerGetControlDetailsW" : "mixerSetControlDetails";
    auto& state = Mixers();
    std::unique_lock<std::mutex> guard(state.lock);
    std::string entry = call + " " + HandleName(state, hmxobj);
    HandleEntry* handle = nullptr;
    Line* line = nullptr;
    Control* control = nullptr;
    MMRESULT rc = Resolve(state, hmxobj, handle);
    if (rc == MMSYSERR_NOERROR && !pmxcd) {
        rc = Refuse(MMSYSERR_INVALPARAM, call + ": no MIXERCONTROLDETAILS");
    }
    if (rc == MMSYSERR_NOERROR && pmxcd->cbStruct < sizeof(MIXERCONTROLDETAILS)) {
        rc = Refuse(MMSYSERR_INVALPARAM, call + ": cbStruct " + Number(pmxcd->cbStruct) +
                                             " is smaller than MIXERCONTROLDETAILS (32)");
    }
    if (rc == MMSYSERR_NOERROR) {
        rc = CheckFlags(call, flags, 0);
    }
    if (rc == MMSYSERR_NOERROR) {
        std::tie(line, control) = ControlById(handle->device->mixer, pmxcd->dwControlID);
        if (!control) {
            rc = MIXERR_INVALCONTROL;
        }
    }
    if (rc == MMSYSERR_NOERROR) {
        // One channel (all as if uniform), the line's count, or two, which the mirroring of
        // stereo and mono lines alike passes.
        DWORD channels = pmxcd->cChannels;
        if (channels == 0) {
            rc = Refuse(MMSYSERR_INVALPARAM, call + ": zero channels");
        } else if (channels != 1 && channels != 2 && channels != line->channels) {
            rc =
                Refuse(MMSYSERR_INVALPARAM, call + ": " + Number(channels) +
                                                " channels on a line of " + Number(line->channels));
        } else if (pmxcd->cMultipleItems != 0) {
            rc = Refuse(MMSYSERR_INVALPARAM, call + ": multiple items on a single-item control");
        } else if (pmxcd->cbDetails != DetailSize) {
            rc = Refuse(MMSYSERR_INVALPARAM,
                        call + ": cbDetails " + Number(pmxcd->cbDetails) + " instead of 4");
        } else if (!pmxcd->paDetails) {
            rc = Refuse(MMSYSERR_INVALPARAM, call + ": no value buffer");
        }
    }
    if (rc == MMSYSERR_NOERROR) {
        if (auto failed = Injected(*handle->device, call, pmxcd->dwControlID)) {
            rc = *failed;
        }
    }
    if (pmxcd) {
        entry +=
            " cb=" + Number(pmxcd->cbStruct) + " flags=" + Hex(flags) +
            " control=" + Number(pmxcd->dwControlID) + " channels=" + Number(pmxcd->cChannels) +
            " items=" + Number(pmxcd->cMultipleItems) + " cbDetails=" + Number(pmxcd->cbDetails);
    } else {
        entry += " cb=null flags=" + Hex(flags);
    }
    auto* details = pmxcd ? static_cast<DWORD*>(pmxcd->paDetails) : nullptr;
    if (direction == Direction::Set && details && pmxcd->cbDetails == DetailSize &&
        pmxcd->cChannels <= 2) {
        entry += " values=" + Values(details, pmxcd->cChannels);
    }
    entry += " -> " + Number(rc);
    Record(entry);
    if (rc != MMSYSERR_NOERROR) {
        return rc;
    }
    auto& values = control->values;
    // A uniform control has one value, for every channel: of a larger count only the first is
    // read or written (the details page asks for one channel and says no more).
    bool uniform = Uniform(handle->device->mixer, *control);
    if (uniform && pmxcd->cChannels > 1) {
        CountVariantEffect("mixer-uniform");
    }
    if (direction == Direction::Get) {
        // Channels beyond the line's read as its first channel.
        DWORD channels = uniform ? 1 : pmxcd->cChannels;
        for (DWORD channel = 0; channel < channels; ++channel) {
            details[channel] =
                channel < values.size() ? values[channel] : (values.empty() ? 0 : values[0]);
        }
        return rc;
    }
    std::vector<DWORD> written = values;
    if (pmxcd->cChannels == 1 || uniform) {
        std::fill(written.begin(), written.end(), details[0]);
    } else {
        std::copy_n(details, std::min<std::size_t>(pmxcd->cChannels, written.size()),
                    written.begin());
    }
    bool changed = Store(*handle->device, *control, written);
    auto recipients = Recipients(state, handle->device.get(), changed, hmxobj);
    DWORD controlId = pmxcd->dwControlID;
    Tell(guard, recipients, controlId);
    return rc;
}

} // namespace

UINT AddMixer(Mixer mixer) {
    auto& state = Mixers();
    std::lock_guard<std::mutex> guard(state.lock);
    auto device = std::make_shared<Device>();
    device->mixer = Normalized(std::move(mixer));
    device->stepPhase = state.added++ % 2;
    state.devices.push_back(std::move(device));
    return static_cast<UINT>(state.devices.size() - 1);
}

void ReplaceMixer(UINT device, Mixer mixer) {
    auto& state = Mixers();
    std::lock_guard<std::mutex> guard(state.lock);
    if (device >= state.devices.size()) {
        ReportFault("ReplaceMixer: no device " + Number(device));
        return;
    }
    state.devices[device]->mixer = Normalized(std::move(mixer));
}

void RemoveMixer(UINT device) {
    auto& state = Mixers();
    std::lock_guard<std::mutex> guard(state.lock);
    if (device >= state.devices.size()) {
        ReportFault("RemoveMixer: no device " + Number(device));
        return;
    }
    state.devices[device]->removed = true;
    state.devices.erase(state.devices.begin() + device);
}

std::vector<DWORD> ControlValues(UINT device, DWORD controlId) {
    auto& state = Mixers();
    std::lock_guard<std::mutex> guard(state.lock);
    if (device >= state.devices.size()) {
        return {};
    }
    auto found = ControlById(state.devices[device]->mixer, controlId);
    return found.second ? found.second->values : std::vector<DWORD>{};
}

void UserSetControl(UINT device, DWORD controlId, const std::vector<DWORD>& values) {
    auto& state = Mixers();
    std::unique_lock<std::mutex> guard(state.lock);
    Control* control = nullptr;
    if (device < state.devices.size()) {
        control = ControlById(state.devices[device]->mixer, controlId).second;
    }
    if (!control) {
        ReportFault("UserSetControl: no control " + Number(controlId) + " on device " +
                    Number(device));
        return;
    }
    std::vector<DWORD> written = control->values;
    std::copy_n(values.begin(), std::min(values.size(), written.size()), written.begin());
    bool changed = Store(*state.devices[device], *control, written);
    Record("UserSetControl id=" + Number(device) + " control=" + Number(controlId) +
           " values=" + Values(values.data(), values.size()));
    auto recipients = Recipients(state, state.devices[device].get(), changed);
    Tell(guard, recipients, controlId);
}

void FailMixerCall(UINT device, const std::string& call, std::optional<DWORD> target,
                   MMRESULT result, int times) {
    auto& state = Mixers();
    std::lock_guard<std::mutex> guard(state.lock);
    if (device >= state.devices.size()) {
        ReportFault("FailMixerCall: no device " + Number(device));
        return;
    }
    auto& failures = state.devices[device]->failures;
    failures.insert(failures.begin(), Failure{call, target, result, times});
}

std::vector<OpenRecord> Opens() {
    auto& state = Mixers();
    std::lock_guard<std::mutex> guard(state.lock);
    std::vector<OpenRecord> records;
    for (auto key : state.opens) {
        records.push_back(state.handles.at(key).record);
    }
    return records;
}

std::size_t OpenMixerHandles() {
    auto& state = Mixers();
    std::lock_guard<std::mutex> guard(state.lock);
    return static_cast<std::size_t>(
        std::count_if(state.handles.begin(), state.handles.end(),
                      [](const auto& entry) { return !entry.second.record.closed; }));
}

void SetWindowCheck(WindowCheck check) {
    auto& state = Mixers();
    std::lock_guard<std::mutex> guard(state.lock);
    state.windowCheck = std::move(check);
}

ControlChangeSink SetControlChangeSink(ControlChangeSink sink) {
    auto& state = Mixers();
    std::lock_guard<std::mutex> guard(state.lock);
    return std::exchange(state.sink, std::move(sink));
}

} // namespace sim::winmm

namespace platform {

using namespace sim::winmm;

UINT WINAPI mixerGetNumDevs() {
    auto& state = Mixers();
    UINT count = 0;
    if (!sim::ShouldFail("mixerGetNumDevs")) {
        std::lock_guard<std::mutex> guard(state.lock);
        count = static_cast<UINT>(state.devices.size());
    }
    sim::Record("mixerGetNumDevs -> " + Number(count));
    return count;
}

// uMxId is a device identifier or, as winmm allows, an open handle in its place.
MMRESULT WINAPI mixerGetDevCapsW(UINT_PTR uMxId, LPMIXERCAPSW pmxcaps, UINT cbmxcaps) {
    auto& state = Mixers();
    std::lock_guard<std::mutex> guard(state.lock);
    std::shared_ptr<Device> device;
    std::string target;
    MMRESULT rc = MMSYSERR_NOERROR;
    if (uMxId < state.devices.size()) {
        device = state.devices[uMxId];
        target = "id=" + Number(uMxId);
    } else if (state.handles.count(uMxId)) {
        HMIXER mixer = reinterpret_cast<HMIXER>(uMxId);
        target = HandleName(state, mixer);
        HandleEntry* entry = nullptr;
        rc = Resolve(state, mixer, entry);
        if (entry) {
            device = entry->device;
        }
    } else {
        target = "id=" + Number(uMxId);
        rc = MMSYSERR_BADDEVICEID;
    }
    if (rc == MMSYSERR_NOERROR && !pmxcaps) {
        rc = sim::winmm::Refuse(MMSYSERR_INVALPARAM, "mixerGetDevCapsW: no record");
    }
    if (rc == MMSYSERR_NOERROR) {
        if (auto failed = Injected(*device, "mixerGetDevCapsW", std::nullopt)) {
            rc = *failed;
        }
    }
    if (rc == MMSYSERR_NOERROR) {
        // The whole record is built and as much of it copied as the caller asked for; the GUIDs
        // of MIXERCAPS2W (learn.microsoft.com) only when the size covers them. Wine sets none.
        MIXERCAPS2W caps{};
        caps.wMid = 1;
        caps.wPid = 104;
        caps.vDriverVersion = 0x0500;
        CopyName(caps.szPname, MAXPNAMELEN, device->mixer.name);
        caps.cDestinations = static_cast<DWORD>(device->mixer.destinations.size());
        caps.ManufacturerGuid = device->mixer.manufacturerGuid;
        caps.ProductGuid = device->mixer.productGuid;
        caps.NameGuid = device->mixer.nameGuid;
        std::memcpy(pmxcaps, &caps, std::min<std::size_t>(cbmxcaps, sizeof caps));
    }
    sim::Record("mixerGetDevCapsW " + target + " cb=" + Number(cbmxcaps) + " -> " + Number(rc));
    return rc;
}

MMRESULT WINAPI mixerOpen(HMIXER* phmx, UINT uMxId, DWORD_PTR dwCallback, DWORD_PTR dwInstance,
                          DWORD fdwOpen) {
    auto& state = Mixers();
    DWORD callbackKind = fdwOpen & CallbackKindMask;
    WindowCheck isWindow;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        isWindow = state.windowCheck;
    }
    // Wine's winmm conformance test (mixer.c, test_mixerOpen), run on Windows: a window callback
    // that is no window fails with MMSYSERR_INVALPARAM; a null one is accepted.
    bool badWindow = callbackKind == static_cast<DWORD>(CALLBACK_WINDOW) && dwCallback != 0 &&
                     isWindow && !isWindow(reinterpret_cast<HWND>(dwCallback));
    std::lock_guard<std::mutex> guard(state.lock);
    MMRESULT rc = MMSYSERR_NOERROR;
    if (!phmx) {
        rc = sim::winmm::Refuse(MMSYSERR_INVALPARAM, "mixerOpen: no handle variable");
    } else if (uMxId >= state.devices.size()) {
        rc = MMSYSERR_BADDEVICEID;
    } else if ((fdwOpen & ~CallbackKindMask) != 0 ||
               (callbackKind != CallbackNull &&
                callbackKind != static_cast<DWORD>(CALLBACK_WINDOW))) {
        rc = sim::winmm::Refuse(MMSYSERR_INVALFLAG,
                                "mixerOpen: flags " + Hex(fdwOpen) + " not supported");
    } else if (badWindow) {
        rc = MMSYSERR_INVALPARAM;
    } else if (auto failed = Injected(*state.devices[uMxId], "mixerOpen", std::nullopt)) {
        rc = *failed;
    }
    std::uintptr_t key = 0;
    if (rc == MMSYSERR_NOERROR) {
        key = state.next;
        state.next += 0x10;
        HMIXER handle = reinterpret_cast<HMIXER>(key);
        state.handles[key] =
            HandleEntry{state.devices[uMxId],
                        OpenRecord{handle, uMxId, dwCallback, dwInstance, fdwOpen, false}};
        state.opens.push_back(key);
    }
    if (phmx) {
        *phmx = reinterpret_cast<HMIXER>(key); // null when the open fails, as winmm writes it
    }
    sim::Record("mixerOpen id=" + Number(uMxId) + " callback=" + Hex(dwCallback) +
                " instance=" + Number(dwInstance) + " flags=" + Hex(fdwOpen) + " -> " + Number(rc));
    return rc;
}

MMRESULT WINAPI mixerClose(HMIXER hmx) {
    auto& state = Mixers();
    std::lock_guard<std::mutex> guard(state.lock);
    MMRESULT rc = MMSYSERR_NOERROR;
    auto found = state.handles.find(Key(hmx));
    if (found == state.handles.end()) {
        rc = MMSYSERR_INVALHANDLE;
    } else if (found->second.record.closed) {
        rc = sim::winmm::Refuse(MMSYSERR_INVALHANDLE, "mixerClose: handle closed twice");
    } else {
        found->second.record.closed = true;
    }
    sim::Record("mixerClose " + HandleName(state, hmx) + " -> " + Number(rc));
    return rc;
}

MMRESULT WINAPI mixerGetLineInfoW(HMIXER hmxobj, LPMIXERLINEW pmxl, DWORD fdwInfo) {
    auto& state = Mixers();
    std::lock_guard<std::mutex> guard(state.lock);
    std::string entry = "mixerGetLineInfoW " + HandleName(state, hmxobj);
    HandleEntry* handle = nullptr;
    Line* line = nullptr;
    bool source = (fdwInfo & QueryMask) == static_cast<DWORD>(MIXER_GETLINEINFOF_SOURCE);
    MMRESULT rc = Resolve(state, hmxobj, handle);
    if (rc == MMSYSERR_NOERROR && !pmxl) {
        rc = sim::winmm::Refuse(MMSYSERR_INVALPARAM, "mixerGetLineInfoW: no MIXERLINEW");
    }
    if (rc == MMSYSERR_NOERROR && pmxl->cbStruct < sizeof(MIXERLINEW)) {
        rc = sim::winmm::Refuse(MMSYSERR_INVALPARAM, "mixerGetLineInfoW: cbStruct " +
                                                         Number(pmxl->cbStruct) +
                                                         " is smaller than MIXERLINEW (284)");
    }
    if (rc == MMSYSERR_NOERROR) {
        rc = CheckFlags("mixerGetLineInfoW", fdwInfo, MIXER_GETLINEINFOF_SOURCE);
    }
    if (rc == MMSYSERR_NOERROR) {
        auto& destinations = handle->device->mixer.destinations;
        if (pmxl->dwDestination < destinations.size()) {
            auto& destination = destinations[pmxl->dwDestination];
            if (!source) {
                line = &destination;
            } else if (pmxl->dwSource < destination.sources.size()) {
                line = &destination.sources[pmxl->dwSource];
            }
        }
        if (!line) {
            rc = MIXERR_INVALLINE;
        }
    }
    if (rc == MMSYSERR_NOERROR) {
        if (auto failed = Injected(*handle->device, "mixerGetLineInfoW", line->lineId)) {
            rc = *failed;
        }
    }
    if (rc == MMSYSERR_NOERROR) {
        pmxl->dwLineID = line->lineId;
        pmxl->fdwLine = source ? (LineSource | LineActive) : LineActive;
        pmxl->dwUser = 0;
        pmxl->dwComponentType = line->componentType;
        pmxl->cChannels = line->channels;
        pmxl->cConnections = source ? 0 : static_cast<DWORD>(line->sources.size());
        pmxl->cControls = static_cast<DWORD>(line->controls.size());
        CopyName(pmxl->szShortName, MIXER_SHORT_NAME_CHARS, line->name);
        CopyName(pmxl->szName, MIXER_LONG_NAME_CHARS, line->name);
        std::memset(&pmxl->Target, 0, sizeof pmxl->Target);
    }
    if (pmxl) {
        entry += " cb=" + Number(pmxl->cbStruct) + " flags=" + Hex(fdwInfo) +
                 " dst=" + Number(pmxl->dwDestination) + " src=" + Number(pmxl->dwSource);
    } else {
        entry += " cb=null flags=" + Hex(fdwInfo);
    }
    sim::Record(entry + " -> " + Number(rc));
    return rc;
}

MMRESULT WINAPI mixerGetLineControlsW(HMIXER hmxobj, LPMIXERLINECONTROLSW pmxlc,
                                      DWORD fdwControls) {
    const std::string call = "mixerGetLineControlsW";
    auto& state = Mixers();
    std::lock_guard<std::mutex> guard(state.lock);
    std::string entry = call + " " + HandleName(state, hmxobj);
    HandleEntry* handle = nullptr;
    Line* line = nullptr;
    MMRESULT rc = Resolve(state, hmxobj, handle);
    if (rc == MMSYSERR_NOERROR && !pmxlc) {
        rc = sim::winmm::Refuse(MMSYSERR_INVALPARAM, call + ": no MIXERLINECONTROLSW");
    }
    if (rc == MMSYSERR_NOERROR && pmxlc->cbStruct < sizeof(MIXERLINECONTROLSW)) {
        rc =
            sim::winmm::Refuse(MMSYSERR_INVALPARAM, call + ": cbStruct " + Number(pmxlc->cbStruct) +
                                                        " is smaller than MIXERLINECONTROLSW (28)");
    }
    if (rc == MMSYSERR_NOERROR) {
        rc = CheckFlags(call, fdwControls, MIXER_GETLINECONTROLSF_ALL);
    }
    if (rc == MMSYSERR_NOERROR) {
        line = LineById(handle->device->mixer, pmxlc->dwLineID);
        if (!line) {
            rc = MIXERR_INVALLINE;
        }
    }
    if (rc == MMSYSERR_NOERROR) {
        // Windows wants exactly the line's control count, and never an empty request.
        if (pmxlc->cControls == 0) {
            rc = sim::winmm::Refuse(MMSYSERR_INVALPARAM, call + ": empty control request");
        } else if (pmxlc->cControls != line->controls.size()) {
            rc = sim::winmm::Refuse(MMSYSERR_INVALPARAM, call + ": " + Number(pmxlc->cControls) +
                                                             " controls asked of a line with " +
                                                             Number(line->controls.size()));
        } else if (pmxlc->cbmxctrl < sizeof(MIXERCONTROLW)) {
            rc = sim::winmm::Refuse(MMSYSERR_INVALPARAM,
                                    call + ": cbmxctrl " + Number(pmxlc->cbmxctrl) +
                                        " is smaller than MIXERCONTROLW (228)");
        } else if (!pmxlc->pamxctrl) {
            rc = sim::winmm::Refuse(MMSYSERR_INVALPARAM, call + ": no control array");
        }
    }
    if (rc == MMSYSERR_NOERROR) {
        if (auto failed = Injected(*handle->device, call, line->lineId)) {
            rc = *failed;
        }
    }
    if (rc == MMSYSERR_NOERROR) {
        auto* array = reinterpret_cast<BYTE*>(pmxlc->pamxctrl);
        for (std::size_t i = 0; i < line->controls.size(); ++i) {
            const Control& source = line->controls[i];
            MIXERCONTROLW control{};
            control.cbStruct = sizeof control;
            control.dwControlID = source.id;
            control.dwControlType = source.type;
            control.fdwControl =
                Uniform(handle->device->mixer, source) ? MIXERCONTROL_CONTROLF_UNIFORM : 0;
            bool volume = source.type == static_cast<DWORD>(MIXERCONTROL_CONTROLTYPE_VOLUME);
            control.Bounds.dwReserved[1] = volume ? VolumeMaximum : 1;
            control.Metrics.cSteps = volume ? VolumeMaximum + 1 : 0;
            CopyName(control.szShortName, MIXER_SHORT_NAME_CHARS,
                     volume ? WIDE("Volume") : WIDE("Mute"));
            CopyName(control.szName, MIXER_LONG_NAME_CHARS, line->name);
            std::memcpy(array + i * pmxlc->cbmxctrl, &control, sizeof control);
        }
    }
    if (pmxlc) {
        entry += " cb=" + Number(pmxlc->cbStruct) + " flags=" + Hex(fdwControls) +
                 " line=" + Hex(pmxlc->dwLineID) + " controls=" + Number(pmxlc->cControls) +
                 " cbmxctrl=" + Number(pmxlc->cbmxctrl);
    } else {
        entry += " cb=null flags=" + Hex(fdwControls);
    }
    sim::Record(entry + " -> " + Number(rc));
    return rc;
}

MMRESULT WINAPI mixerGetControlDetailsW(HMIXER hmxobj, LPMIXERCONTROLDETAILS pmxcd,
                                        DWORD fdwDetails) {
    return ControlDetails(Direction::Get, hmxobj, pmxcd, fdwDetails);
}

MMRESULT WINAPI mixerSetControlDetails(HMIXER hmxobj, LPMIXERCONTROLDETAILS pmxcd,
                                       DWORD fdwDetails) {
    return ControlDetails(Direction::Set, hmxobj, pmxcd, fdwDetails);
}

} // namespace platform
