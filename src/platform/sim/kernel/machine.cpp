// Simulated machine: journal, thread names, failure injection, faults and resets.
#include "platform/sim/machine.h"

#include <chrono>
#include <condition_variable>
#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>

namespace sim {
namespace {

struct Shared {
    std::mutex lock;
    std::vector<std::string> journal;
    std::vector<std::string> faults;
    struct Failure {
        int times;
        int skip;
    };
    std::map<std::string, Failure> failures;
    std::vector<std::function<void()>> resets;
};

Shared& State() {
    static Shared* shared = new Shared; // outlives every thread of the process
    return *shared;
}

// A plain array: mingw-w64's emulated thread-local storage frees a thread's storage before it
// runs thread_local destructors, so nothing thread-local here may own heap memory.
thread_local char CurrentThreadName[32];

// Pause points keep a lock of their own: a held thread waits on it while the rest of the machine
// (the journal included) goes on working.
struct Pauses {
    struct Point {
        bool armed = false;
        bool holding = false;
        bool release = false;
    };
    std::mutex lock;
    std::condition_variable changed;
    std::map<std::string, Point> points;
};

Pauses& PauseState() {
    static Pauses* pauses = new Pauses;
    return *pauses;
}

void ReleaseAllPauses() {
    auto& pauses = PauseState();
    std::unique_lock<std::mutex> guard(pauses.lock);
    bool held = false;
    for (auto& [call, point] : pauses.points) {
        point.armed = false;
        if (point.holding) {
            point.release = true;
            held = true;
        }
    }
    if (!held) {
        return;
    }
    pauses.changed.notify_all();
    // As with Resume: the next test must not see a hold of this one.
    pauses.changed.wait(guard, [&] {
        for (const auto& [call, point] : pauses.points) {
            if (point.holding) {
                return false;
            }
        }
        return true;
    });
}

} // namespace

void OnReset(std::function<void()> reset) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().resets.push_back(std::move(reset));
}

void ResetMachine() {
    std::vector<std::function<void()>> resets;
    {
        std::lock_guard<std::mutex> guard(State().lock);
        resets = State().resets;
        State().journal.clear();
        State().faults.clear();
        State().failures.clear();
    }
    ReleaseAllPauses();
    for (auto& reset : resets) {
        reset();
    }
    SetWindowsVersion(6, 1);
    SetModulePath(WIDE("C:\\Program Files\\Quenvar\\QuenvarService.exe"));
    SetDefaultDllDirectoriesExported(true);
}

void Record(const std::string& entry) {
    std::string line = entry + " [" + ThreadName() + "]";
    std::lock_guard<std::mutex> guard(State().lock);
    State().journal.push_back(std::move(line));
}

std::vector<std::string> Journal() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().journal;
}

void ClearJournal() {
    std::lock_guard<std::mutex> guard(State().lock);
    State().journal.clear();
}

std::vector<std::string> JournalWith(const std::string& prefix) {
    std::vector<std::string> found;
    for (auto& entry : Journal()) {
        if (entry.compare(0, prefix.size(), prefix) == 0) {
            found.push_back(entry);
        }
    }
    return found;
}

void SetThreadName(const std::string& name) {
    std::size_t length = std::min(name.size(), sizeof CurrentThreadName - 1);
    name.copy(CurrentThreadName, length);
    CurrentThreadName[length] = 0;
}

std::string ThreadName() {
    return CurrentThreadName[0] ? std::string(CurrentThreadName) : std::string("test");
}

void FailCall(const std::string& call, int times, int skip) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().failures[call] = {times, skip};
}

void ClearFailures() {
    std::lock_guard<std::mutex> guard(State().lock);
    State().failures.clear();
}

bool ShouldFail(const std::string& call) {
    std::lock_guard<std::mutex> guard(State().lock);
    auto found = State().failures.find(call);
    if (found == State().failures.end()) {
        return false;
    }
    auto& failure = found->second;
    if (failure.skip > 0) {
        --failure.skip;
        return false;
    }
    if (failure.times == 0) {
        return false;
    }
    if (failure.times > 0) {
        --failure.times;
    }
    return true;
}

void PauseAt(const std::string& call) {
    std::lock_guard<std::mutex> guard(PauseState().lock);
    PauseState().points[call].armed = true;
}

bool WaitUntilPaused(const std::string& call, DWORD timeoutMs) {
    auto& pauses = PauseState();
    std::unique_lock<std::mutex> guard(pauses.lock);
    return pauses.changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                   [&] { return pauses.points[call].holding; });
}

void Resume(const std::string& call) {
    auto& pauses = PauseState();
    std::unique_lock<std::mutex> guard(pauses.lock);
    auto& point = pauses.points[call];
    point.armed = false;
    if (!point.holding) {
        return;
    }
    point.release = true;
    pauses.changed.notify_all();
    // Returns only once the held thread has gone on, so a PauseAt and WaitUntilPaused that follow
    // cannot mistake the hold just released for a new one.
    pauses.changed.wait(guard, [&] { return !point.holding; });
}

void PausePoint(const std::string& call) {
    auto& pauses = PauseState();
    std::unique_lock<std::mutex> guard(pauses.lock);
    auto found = pauses.points.find(call);
    if (found == pauses.points.end() || !found->second.armed || found->second.holding) {
        return;
    }
    // Map nodes stay put, so the reference outlives other calls' insertions.
    auto& point = found->second;
    point.armed = false;
    point.holding = true;
    pauses.changed.notify_all();
    pauses.changed.wait(guard, [&] { return point.release; });
    point.holding = false;
    point.release = false;
    pauses.changed.notify_all();
}

void ReportFault(const std::string& fault) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().faults.push_back(fault);
}

std::vector<std::string> Faults() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().faults;
}

std::string Narrow(const WCHAR* text) {
    std::string out;
    for (; text && *text; ++text) {
        out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
    }
    return out;
}

std::string Narrow(const platform::WideString& text) {
    return Narrow(text.c_str());
}

platform::WideString Widen(const std::string& text) {
    platform::WideString out;
    for (unsigned char c : text) {
        out.push_back(static_cast<WCHAR>(c));
    }
    return out;
}

platform::WideString FoldCase(const WCHAR* text) {
    platform::WideString folded;
    for (; text && *text; ++text) {
        WCHAR c = *text;
        folded.push_back(c >= u'A' && c <= u'Z' ? static_cast<WCHAR>(c + 0x20) : c);
    }
    return folded;
}

std::string FormatGuid(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

} // namespace sim
