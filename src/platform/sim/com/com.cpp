// Simulated ole32 apartment calls: CoInitialize and CoUninitialize with their per-thread balance.
#include "platform/com.h"
#include "platform/sim/com.h"
#include "platform/sim/machine.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

namespace sim::com {
namespace {

struct Apartments {
    std::mutex lock;
    // Balance per thread (a thread name can be reused by a later thread), counts per name.
    std::map<std::thread::id, int> balance;
    std::map<std::string, ThreadCounts> counts;
};

Apartments& State() {
    return AreaState<Apartments>([](Apartments& state) {
        state.balance.clear();
        state.counts.clear();
    });
}

} // namespace

ThreadCounts Counts(const std::string& threadName) {
    std::lock_guard<std::mutex> guard(State().lock);
    auto found = State().counts.find(threadName);
    return found == State().counts.end() ? ThreadCounts{} : found->second;
}

bool Initialized() {
    std::lock_guard<std::mutex> guard(State().lock);
    auto found = State().balance.find(std::this_thread::get_id());
    return found != State().balance.end() && found->second > 0;
}

} // namespace sim::com

namespace platform {

// As ole32: S_OK for the first call of a thread, S_FALSE for each further one; every successful
// call needs its own CoUninitialize.
HRESULT WINAPI CoInitialize(LPVOID pvReserved) {
    sim::Record("CoInitialize");
    if (pvReserved) {
        sim::ReportFault("CoInitialize with a non-null reserved argument");
        return E_INVALIDARG;
    }
    if (sim::ShouldFail("CoInitialize")) {
        return E_OUTOFMEMORY;
    }
    auto& state = sim::com::State();
    std::lock_guard<std::mutex> guard(state.lock);
    ++state.counts[sim::ThreadName()].initialize;
    int& balance = state.balance[std::this_thread::get_id()];
    return balance++ == 0 ? S_OK : S_FALSE;
}

void WINAPI CoUninitialize() {
    sim::Record("CoUninitialize");
    auto& state = sim::com::State();
    std::lock_guard<std::mutex> guard(state.lock);
    ++state.counts[sim::ThreadName()].uninitialize;
    // As ole32: only the call that matches an open CoInitialize closes anything; a further one
    // (the thread's apartment already closed, or never opened) does nothing.
    int& balance = state.balance[std::this_thread::get_id()];
    if (balance > 0) {
        --balance;
    }
}

} // namespace platform

namespace platform {

// The machine's property strings are allocated with std::malloc (sim/audio.h).
HRESULT WINAPI PropVariantClear(PROPVARIANT* pvar) {
    if (!pvar) {
        return E_INVALIDARG;
    }
    if (pvar->vt == VT_LPWSTR) {
        std::free(pvar->pwszVal);
    }
    *pvar = {};
    return S_OK;
}

} // namespace platform
