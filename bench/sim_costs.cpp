// What the service's work costs on the simulated machine, printed as Markdown for tools/bench.sh:
// - the platform calls one user change causes, per version and direction, from the journal;
// - the time per mirrored change (a user change until every notification it caused has been
//   handled), against the same change reaching an empty handler, with the difference;
// - one device event's rebuild of the endpoint sync, and the driver-flag scan, as the number of
//   render interfaces grows, with the slope of a least-squares line through the figures.
// Times come from Google Benchmark as CPU time of the whole process per change (the work runs on
// the machine's threads too), which a busy shared machine disturbs far less than real time; the
// real time is printed beside it.
#include "driver/ks_channel.h"
#include "endpoint/endpoint_device.h"
#include "endpoint/endpoint_sync.h"
#include "platform/com.h"
#include "platform/sim/audio.h"
#include "platform/sim/ks.h"
#include "platform/sim/machine.h"
#include "platform/sim/scm.h"
#include "platform/sim/user32.h"
#include "platform/sim/winmm.h"
#include "platform/user32.h"
#include "platform/winmm.h"
#include "service/service.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

const platform::WideString CodecId = WIDE("{0.0.0.00000000}.{codec-speakers}");
const platform::WideString OrvaneId = WIDE("{0.0.0.00000000}.{orvane-speakers}");
const platform::WideString OrvanePath = WIDE("\\\\?\\root#media#0000#orvane#{render}");
constexpr DWORD MasterVolume = 1, MasterMute = 2, WaveVolume = 10, WaveMute = 11;

[[noreturn]] void Abort(const char* what) {
    std::fprintf(stderr, "sim_costs: %s\n", what);
    std::exit(1);
}

// The service's process, started as the service manager starts it.
class ServiceProcess {
  public:
    ServiceProcess() {
        sim::scm::SetStartedByScm(true);
        std::size_t run = sim::scm::DispatcherRuns() + 1;
        main_ = std::thread([] {
            sim::SetThreadName("main");
            WCHAR program[] = WIDE("C:\\Program Files\\Quenvar\\QuenvarService.exe");
            WCHAR* argv[] = {program, nullptr};
            WCHAR* envp[] = {nullptr};
            ProcessEntry(1, argv, envp);
        });
        if (!sim::scm::WaitForDispatcherRuns(run) || !sim::scm::WaitForState(SERVICE_RUNNING)) {
            Abort("the service did not start");
        }
    }
    ~ServiceProcess() {
        sim::scm::Control(SERVICE_CONTROL_STOP);
        main_.join();
    }

  private:
    std::thread main_;
};

sim::audio::RenderDevice Device(const WCHAR* description, const platform::WideString& id) {
    sim::audio::RenderDevice device;
    device.description = platform::WideString(description);
    device.module = id;
    device.masterLevel = 0.5f;
    return device;
}

// Windows 6.1 with `others` decoy render devices (DirectSound entries with endpoints, and KS
// interfaces of another product) listed before the codec's speakers and the virtual device; the
// virtual device's KS interface is the last of others + 1.
void EndpointMachine(int others = 0) {
    sim::ResetMachine();
    sim::SetWindowsVersion(6, 1);
    for (int i = 0; i < others; ++i) {
        auto id = sim::Widen("{0.0.0.00000000}.{decoy-" + std::to_string(i) + "}");
        sim::audio::AddRenderDevice(Device(WIDE("Speakers (Decoy Audio)"), id));
        sim::ks::AddInterface(sim::ks::CodecRenderInterface(
            sim::Widen("\\\\?\\hdaudio#decoy" + std::to_string(i) + "#{render}")));
    }
    sim::audio::AddRenderDevice(Device(WIDE("Speakers (Realtek High Definition Audio)"), CodecId));
    sim::audio::AddRenderDevice(Device(WIDE("Speakers (Orvane)"), OrvaneId));
    sim::ks::AddInterface(sim::ks::VirtualRenderInterface(OrvanePath));
}

sim::winmm::Mixer MixerDevice(const WCHAR* name, const GUID& product) {
    using sim::winmm::Control;
    sim::winmm::Line waveOut;
    waveOut.componentType = MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT;
    waveOut.lineId = 0x1000;
    waveOut.controls = {Control{WaveVolume, MIXERCONTROL_CONTROLTYPE_VOLUME, {20000, 20000}},
                        Control{WaveMute, MIXERCONTROL_CONTROLTYPE_MUTE, {0, 0}}};
    sim::winmm::Line speakers;
    speakers.componentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    speakers.lineId = 0xFFFF0000;
    speakers.controls = {Control{MasterVolume, MIXERCONTROL_CONTROLTYPE_VOLUME, {30000, 30000}},
                         Control{MasterMute, MIXERCONTROL_CONTROLTYPE_MUTE, {0, 0}}};
    speakers.sources = {waveOut};
    sim::winmm::Mixer mixer;
    mixer.name = name;
    mixer.productGuid = product;
    mixer.destinations = {speakers};
    return mixer;
}

// Windows 5.1 with the codec's mixer (device 0) and the virtual device's (device 1).
void MixerMachine() {
    sim::ResetMachine();
    sim::SetWindowsVersion(5, 1);
    sim::winmm::AddMixer(MixerDevice(WIDE("Realtek HD Audio output"), platform::GUID_NULL));
    sim::winmm::AddMixer(MixerDevice(WIDE("Orvane Audio"), VirtualDeviceProductGuid));
    sim::ks::AddInterface(sim::ks::VirtualRenderInterface(OrvanePath));
}

// One user change of a master level: alternating values, so that each is a change.
float NextLevel() {
    static int turn = 0;
    return (++turn % 2) ? 0.25f : 0.75f;
}

DWORD NextMixerValue() {
    static int turn = 0;
    return (++turn % 2) ? 40000 : 10000;
}

// The handler of the baselines: told of every change, does nothing.
struct EmptyCallback final : IAudioEndpointVolumeCallback {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA) override { return S_OK; }
};

// Both endpoints bound through the platform's calls, each with an empty callback registered.
class EmptyEndpointHandlers {
  public:
    EmptyEndpointHandlers() {
        platform::CoInitialize(nullptr);
        platform::ComPtr<IMMDeviceEnumerator> enumerator;
        platform::CoCreateInstance(platform::CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL,
                                   platform::IID_IMMDeviceEnumerator, enumerator.put_void());
        codec_ = BindEndpoint(HardwarePrimaryName, HardwareSecondaryName, enumerator.get());
        orvane_ = BindEndpoint(VirtualPrimaryName, VirtualSecondaryName, enumerator.get());
        codec_->endpointVolume->RegisterControlChangeNotify(&codecHandler_);
        orvane_->endpointVolume->RegisterControlChangeNotify(&orvaneHandler_);
    }
    ~EmptyEndpointHandlers() {
        codec_->endpointVolume->UnregisterControlChangeNotify(&codecHandler_);
        orvane_->endpointVolume->UnregisterControlChangeNotify(&orvaneHandler_);
        DestroyEndpointDevice(codec_);
        DestroyEndpointDevice(orvane_);
        platform::CoUninitialize();
    }

  private:
    EmptyCallback codecHandler_, orvaneHandler_;
    EndpointDevice* codec_ = nullptr;
    EndpointDevice* orvane_ = nullptr;
};

// A window thread that opens both mixers for change messages and ignores every one.
constexpr UINT QuitEmptyWindow = WM_USER + 7;
LRESULT CALLBACK EmptyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case MM_MIXM_CONTROL_CHANGE:
        return 0;
    case QuitEmptyWindow:
        platform::DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        platform::PostQuitMessage(0);
        return 0;
    default:
        return platform::DefWindowProcW(window, message, wParam, lParam);
    }
}

class EmptyMixerWindow {
  public:
    EmptyMixerWindow() {
        thread_ = std::thread([] {
            sim::SetThreadName("empty-window");
            WNDCLASSEXW windowClass{};
            windowClass.cbSize = sizeof(WNDCLASSEXW);
            windowClass.lpfnWndProc = EmptyWindowProc;
            windowClass.lpszClassName = WIDE("EmptyWnd");
            platform::RegisterClassExW(&windowClass);
            HWND window = platform::CreateWindowExW(0, WIDE("EmptyWnd"), WIDE("EmptyWnd"), 0, 0, 0,
                                                    0, 0, nullptr, nullptr, nullptr, nullptr);
            HMIXER mixers[2] = {};
            for (UINT device = 0; device < 2; ++device) {
                platform::mixerOpen(&mixers[device], device, reinterpret_cast<DWORD_PTR>(window), 0,
                                    CALLBACK_WINDOW);
            }
            MSG message;
            while (platform::GetMessageW(&message, nullptr, 0, 0) > 0) {
                platform::DispatchMessageW(&message);
            }
            for (HMIXER mixer : mixers) {
                platform::mixerClose(mixer);
            }
        });
        window_ = sim::user32::WaitForWindow("EmptyWnd", 10000);
        if (window_ == nullptr) {
            Abort("the empty window did not come");
        }
        sim::user32::WaitUntilIdle(window_, 10000);
    }
    ~EmptyMixerWindow() {
        platform::PostMessageW(window_, QuitEmptyWindow, 0, 0);
        thread_.join();
    }
    HWND window() const { return window_; }

  private:
    std::thread thread_;
    HWND window_ = nullptr;
};

// --- Per change -----------------------------------------------------------------------------

void EndpointChange(benchmark::State& state, bool fromCodec, bool service) {
    EndpointMachine();
    std::optional<ServiceProcess> process;
    std::optional<EmptyEndpointHandlers> handlers;
    if (service) {
        process.emplace();
    } else {
        handlers.emplace();
    }
    const platform::WideString& source = fromCodec ? CodecId : OrvaneId;
    sim::audio::WaitIdle();
    for (auto _ : state) {
        sim::audio::UserSetMasterLevel(source, NextLevel());
        sim::audio::WaitIdle();
        state.PauseTiming();
        sim::ClearJournal(); // keeps the journal from growing over the run
        state.ResumeTiming();
    }
}

void MixerChange(benchmark::State& state, bool fromCodec, bool service) {
    MixerMachine();
    std::optional<ServiceProcess> process;
    std::optional<EmptyMixerWindow> empty;
    HWND window = nullptr;
    if (service) {
        process.emplace();
        window = sim::user32::WaitForWindow("QuenvarWnd", 10000);
    } else {
        empty.emplace();
        window = empty->window();
    }
    sim::user32::WaitUntilIdle(window, 10000);
    UINT source = fromCodec ? 0 : 1;
    DWORD control = fromCodec ? WaveVolume : MasterVolume;
    for (auto _ : state) {
        DWORD value = NextMixerValue();
        sim::winmm::UserSetControl(source, control, {value, value});
        sim::user32::WaitUntilIdle(window, 10000);
        state.PauseTiming();
        sim::ClearJournal();
        state.ResumeTiming();
    }
}

// --- Rebuild cost ---------------------------------------------------------------------------

// One device event's rebuild: the endpoint sync stopped and started again, on a thread with COM.
void Rebuild(benchmark::State& state) {
    EndpointMachine(static_cast<int>(state.range(0)) - 1);
    platform::CoInitialize(nullptr);
    StartEndpointSync();
    if (HardwareEndpoint == nullptr || VirtualEndpoint == nullptr) {
        Abort("the endpoint sync did not bind");
    }
    for (auto _ : state) {
        RestartEndpointSync();
        state.PauseTiming();
        sim::audio::WaitIdle();
        sim::ClearJournal();
        state.ResumeTiming();
    }
    StopEndpointSync();
    platform::CoUninitialize();
}

void FlagScan(benchmark::State& state) {
    EndpointMachine(static_cast<int>(state.range(0)) - 1);
    for (auto _ : state) {
        NotifyDriverSyncState(1);
        state.PauseTiming();
        sim::ClearJournal();
        state.ResumeTiming();
    }
    if (sim::ks::SyncActive(OrvanePath) != 1u) {
        Abort("the flag scan did not reach the virtual device");
    }
}

// --- Calls per change ------------------------------------------------------------------------

struct CallCount {
    int reads = 0, writes = 0, echoWrites = 0, notifications = 0, other = 0;
    std::vector<std::string> otherNames;
};

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The journal of one user change on the source endpoint: reads and writes of the service, writes
// back to the source (echo writes), and the notifications the machine delivered.
CallCount CountEndpointChange(bool fromCodec) {
    EndpointMachine();
    ServiceProcess process;
    sim::audio::WaitIdle();
    const platform::WideString& source = fromCodec ? CodecId : OrvaneId;
    std::string sourceId = sim::Narrow(source);
    sim::ClearJournal();
    sim::audio::UserSetMasterLevel(source, NextLevel());
    sim::audio::WaitIdle();
    CallCount count;
    for (auto& entry : sim::Journal()) {
        if (StartsWith(entry, "User ")) {
            continue;
        }
        if (StartsWith(entry, "OnNotify ")) {
            ++count.notifications;
        } else if (StartsWith(entry, "Get")) {
            ++count.reads;
        } else if (StartsWith(entry, "Set")) {
            ++count.writes;
            if (entry.find(sourceId) != std::string::npos) {
                ++count.echoWrites;
            }
        } else {
            ++count.other;
            count.otherNames.push_back(entry);
        }
    }
    return count;
}

CallCount CountMixerChange(bool fromCodec) {
    MixerMachine();
    ServiceProcess process;
    HWND window = sim::user32::WaitForWindow("QuenvarWnd", 10000);
    sim::user32::WaitUntilIdle(window, 10000);
    UINT source = fromCodec ? 0 : 1;
    std::string sourceMixer = "mixer=" + std::to_string(source) + " ";
    sim::ClearJournal();
    DWORD value = NextMixerValue();
    sim::winmm::UserSetControl(source, fromCodec ? WaveVolume : MasterVolume, {value, value});
    sim::user32::WaitUntilIdle(window, 10000);
    CallCount count;
    for (auto& entry : sim::Journal()) {
        if (StartsWith(entry, "UserSetControl ") || StartsWith(entry, "PostMessageW ")) {
            continue; // the user's change and the machine's messages about it
        }
        if (StartsWith(entry, "DispatchMessageW ")) {
            ++count.notifications;
        } else if (StartsWith(entry, "mixerGetControlDetailsW ")) {
            ++count.reads;
        } else if (StartsWith(entry, "mixerSetControlDetails ")) {
            ++count.writes;
            if (entry.find(sourceMixer) != std::string::npos) {
                ++count.echoWrites;
            }
        } else if (StartsWith(entry, "GetMessageW") || StartsWith(entry, "WM_")) {
            continue;
        } else {
            ++count.other;
            count.otherNames.push_back(entry);
        }
    }
    return count;
}

// --- Results ----------------------------------------------------------------------------------

// Keeps every repetition's process CPU time and real time per iteration, in nanoseconds, by name
// (real time under the name with "@real" appended); prints nothing.
class Collector : public benchmark::BenchmarkReporter {
  public:
    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& runs) override {
        for (auto& run : runs) {
            if (run.run_type == Run::RT_Iteration) {
                double perSecond = benchmark::GetTimeUnitMultiplier(run.time_unit);
                nanoseconds[run.run_name.str()].push_back(run.GetAdjustedCPUTime() * 1e9 /
                                                          perSecond);
                nanoseconds[run.run_name.str() + "@real"].push_back(run.GetAdjustedRealTime() *
                                                                    1e9 / perSecond);
            }
        }
    }
    std::map<std::string, std::vector<double>> nanoseconds;
};

// The median of the repetitions: on a shared machine single runs stray far.
double Find(const Collector& collector, const std::string& name, bool real = false) {
    for (auto [runName, times] : collector.nanoseconds) {
        bool realTime = runName.size() > 5 && runName.compare(runName.size() - 5, 5, "@real") == 0;
        if (StartsWith(runName, name) && realTime == real) {
            std::sort(times.begin(), times.end());
            return times[times.size() / 2];
        }
    }
    Abort(("no result for " + name).c_str());
}

// Least-squares line through (n, y).
struct Line {
    double intercept, slope;
};
Line Fit(const std::vector<double>& n, const std::vector<double>& y) {
    double mn = 0, my = 0;
    for (std::size_t i = 0; i < n.size(); ++i) {
        mn += n[i] / n.size();
        my += y[i] / n.size();
    }
    double sxy = 0, sxx = 0;
    for (std::size_t i = 0; i < n.size(); ++i) {
        sxy += (n[i] - mn) * (y[i] - my);
        sxx += (n[i] - mn) * (n[i] - mn);
    }
    return {my - sxy / sxx * mn, sxy / sxx};
}

const std::vector<int> InterfaceCounts = {1, 8, 64};
constexpr int ChangeIterations = 1000;
constexpr int RebuildIterations = 200;
constexpr int Repetitions = 7;

void Register() {
    struct Direction {
        const char* name;
        bool fromCodec;
    };
    for (Direction d :
         {Direction{"codec_to_virtual", true}, Direction{"virtual_to_codec", false}}) {
        for (bool service : {true, false}) {
            std::string suffix = std::string(d.name) + (service ? "/service" : "/empty");
            bool from = d.fromCodec;
            benchmark::RegisterBenchmark(
                ("v6/" + suffix).c_str(),
                [from, service](benchmark::State& state) { EndpointChange(state, from, service); })
                ->Iterations(ChangeIterations)
                ->Repetitions(Repetitions)
                ->MeasureProcessCPUTime();
            benchmark::RegisterBenchmark(
                ("v5/" + suffix).c_str(),
                [from, service](benchmark::State& state) { MixerChange(state, from, service); })
                ->Iterations(ChangeIterations)
                ->Repetitions(Repetitions)
                ->MeasureProcessCPUTime();
        }
    }
    auto* rebuild = benchmark::RegisterBenchmark("rebuild", Rebuild);
    auto* scan = benchmark::RegisterBenchmark("flag_scan", FlagScan);
    for (auto* b : {rebuild, scan}) {
        for (int n : InterfaceCounts) {
            b->Arg(n);
        }
        b->Iterations(RebuildIterations)->Repetitions(Repetitions)->MeasureProcessCPUTime();
    }
}

void PrintCounts() {
    std::printf("### Platform calls per user change (simulated machine)\n\n");
    std::printf("| version | direction | reads | writes | echo writes | notifications handled | "
                "other calls |\n|---|---|---|---|---|---|---|\n");
    struct Row {
        const char* version;
        const char* direction;
        CallCount count;
    };
    std::vector<Row> rows = {
        {"6 (endpoints)", "codec to virtual", CountEndpointChange(true)},
        {"6 (endpoints)", "virtual to codec", CountEndpointChange(false)},
        {"5 (mixers)", "codec to virtual", CountMixerChange(true)},
        {"5 (mixers)", "virtual to codec", CountMixerChange(false)},
    };
    for (auto& row : rows) {
        std::printf("| %s | %s | %d | %d | %d | %d | %d |\n", row.version, row.direction,
                    row.count.reads, row.count.writes, row.count.echoWrites,
                    row.count.notifications, row.count.other);
        for (auto& name : row.count.otherNames) {
            std::fprintf(stderr, "  other call: %s\n", name.c_str());
        }
    }
    std::printf("\nAt version 6 one change of the master level is written as mute, master level "
                "and each channel level (the notification carries them all, and all are "
                "written); each write comes back as a notification marked with the service's "
                "context and is dropped without a call. At version 5 the changed control is "
                "read and written once; the write's echo is read, compares equal and writes "
                "nothing.\n\n");
}

void PrintTimes(const Collector& c) {
    std::printf("### CPU time per mirrored change (simulated machine, all threads)\n\n");
    std::printf("| version | direction | with the service | with an empty handler | "
                "difference | real time with the service |\n|---|---|---|---|---|---|\n");
    for (const char* version : {"v6", "v5"}) {
        for (const char* direction : {"codec_to_virtual", "virtual_to_codec"}) {
            std::string base = std::string(version) + "/" + direction;
            double service = Find(c, base + "/service");
            double empty = Find(c, base + "/empty");
            std::printf("| %s | %s | %.1f us | %.1f us | %.1f us | %.1f us |\n", version + 1,
                        direction, service / 1000, empty / 1000, (service - empty) / 1000,
                        Find(c, base + "/service", true) / 1000);
        }
    }
    std::printf("\nA change is timed from the user's call until the machine has delivered every "
                "notification or message it caused; the median of %d runs of %d changes. The "
                "difference is the service's own code together with the simulated machine's "
                "handling of the calls that code makes (its writes, and the echoes they cause); "
                "the machine's work for the user's change itself is in both columns. Real time "
                "includes waiting for the machine's threads to be scheduled.\n\n",
                Repetitions, ChangeIterations);

    std::printf("### Rebuild cost as render interfaces grow (simulated machine, CPU time)\n\n");
    std::printf("| render interfaces | device event (stop and start of the endpoint sync) | "
                "driver-flag scan |\n|---|---|---|\n");
    std::vector<double> n, rebuild, scan;
    for (int count : InterfaceCounts) {
        n.push_back(count);
        rebuild.push_back(Find(c, "rebuild/" + std::to_string(count) + "/"));
        scan.push_back(Find(c, "flag_scan/" + std::to_string(count) + "/"));
        std::printf("| %d | %.1f us | %.1f us |\n", count, rebuild.back() / 1000,
                    scan.back() / 1000);
    }
    Line r = Fit(n, rebuild), f = Fit(n, scan);
    std::printf("| fitted line (least squares) | %.1f us + %.2f us per interface | %.1f us + %.2f "
                "us per interface |\n",
                r.intercept / 1000, r.slope / 1000, f.intercept / 1000, f.slope / 1000);
    std::printf("\nWith n interfaces, DirectSound lists n - 1 other devices before the codec's "
                "speakers and the virtual device, and the virtual device's KS interface is the "
                "last of n.\n");
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    PrintCounts();
    Register();
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    PrintTimes(collector);
    if (!sim::Faults().empty()) {
        for (auto& fault : sim::Faults()) {
            std::fprintf(stderr, "fault: %s\n", fault.c_str());
        }
        return 1;
    }
    return 0;
}
