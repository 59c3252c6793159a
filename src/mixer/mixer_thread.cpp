#include "mixer/mixer_thread.h"
#include "mixer/mixer_window.h"
#include "platform/kernel.h"
#include "platform/user32.h"

DWORD MixerThreadId = 0;

namespace {

// How long a stop waits for the thread's end between attempts to reach a thread that has no
// message queue yet.
constexpr DWORD QueueRetryMilliseconds = 10;

// A stop that reached the thread as a thread message: destroy the window, whose WM_DESTROY ends
// everything; without a window (its creation failed) end everything here.
void StopSyncWindow(HWND window) {
    if (!window || !platform::DestroyWindow(window)) {
        EndMixerSync();
    }
}

} // namespace

void StartMixerThread(ServiceStateRecord& state) {
    DWORD threadId = 0;
    state.MixerThreadHandle =
        platform::CreateThread(nullptr, 0, MixerThreadMain, &state, 0, &threadId);
    MixerThreadId = state.MixerThreadHandle ? threadId : 0;
}

// The stop goes to the thread's queue, not to SyncWindowHandle: the window may not exist yet
// (its WM_CREATE still opening the mixers) or may never exist, and a post to a null window would
// land in this thread's own queue and leave the wait below without end. A message posted to the
// thread waits in its queue until the loop takes it, after the window's creation has finished.
void StopMixerThread(ServiceStateRecord& state) {
    if (!state.MixerThreadHandle) {
        return;
    }
    // A thread gets its queue at its first user32 call; until then the post fails. Retry until
    // it takes, or until the thread has ended without ever making a queue.
    while (!platform::PostThreadMessageW(MixerThreadId, StopSyncWindowMessage, 0, 0)) {
        if (platform::WaitForSingleObject(state.MixerThreadHandle, QueueRetryMilliseconds) !=
            WAIT_TIMEOUT) {
            break;
        }
    }
    platform::WaitForSingleObject(state.MixerThreadHandle, INFINITE);
    platform::CloseHandle(state.MixerThreadHandle);
    state.MixerThreadHandle = nullptr;
    MixerThreadId = 0;
}

DWORD WINAPI MixerThreadMain(LPVOID parameter) {
    auto& state = *static_cast<ServiceStateRecord*>(parameter);
    // The mirroring has started by now, in the window's WM_CREATE.
    state.SyncWindowHandle = CreateSyncWindow();
    MSG msg;
    // GetMessageW answers -1 on a failure; that ends the loop too rather than spinning on it.
    while (platform::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!msg.hwnd && msg.message == StopSyncWindowMessage) {
            StopSyncWindow(state.SyncWindowHandle);
            continue;
        }
        platform::TranslateMessage(&msg);
        platform::DispatchMessageW(&msg);
    }
    return 0;
}
