// The simulated Windows machine: what tests and the demo use to set it up, drive it and read it.
// Each area of the machine (scm, com, audio, ks, winmm, user32) has a header of its own beside
// this one; this one holds what they share: the journal, thread names, failure injection, the
// kernel handle table, the Windows version, the module path and device notifications.
#pragma once

#include "platform/types.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

// Puts the whole machine back to its first state (every area that has been used registers its
// own reset). Kernel objects that are still open stay open: the service state record lives for
// the whole process, as on Windows.
void ResetMachine();
void OnReset(std::function<void()> reset);

// The process-wide state of one area of the machine: made on first use and never destroyed
// (threads of the machine may outlive static destruction); a machine reset runs reset on it under
// its own mutex, `lock`.
template <typename State, typename Reset> State& AreaState(Reset reset) {
    static State* state = [&reset] {
        auto* created = new State;
        OnReset([created, reset] {
            std::lock_guard<std::mutex> guard(created->lock);
            reset(*created);
        });
        return created;
    }();
    return *state;
}

// One ordered journal of platform calls and effects, each tagged with the calling thread's name.
void Record(const std::string& entry);
std::vector<std::string> Journal();
void ClearJournal();
// The journal entries that start with prefix, in order.
std::vector<std::string> JournalWith(const std::string& prefix);

// Thread names: "main" is the dispatcher's thread, "service" the one running ServiceMain,
// "thread-N" a thread of CreateThread, "audio-N" an audio-system thread.
void SetThreadName(const std::string& name);
std::string ThreadName();

// Failure injection by call name ("GetVersionExW", "CreateEventW", ...): the next `times` calls
// fail (-1: every call until cleared), after `skip` calls that succeed.
// "AllocateObject" (platform/memory.h) answers null, as an exhausted heap; the journal shows
// "AllocateObject <bytes>" for every call, with " -> null" when it failed.
void FailCall(const std::string& call, int times = 1, int skip = 0);
void ClearFailures();
bool ShouldFail(const std::string& call);

// Pause points: a test stops the next thread that reaches a named call of the machine, before the
// call takes effect, looks at the system at that moment, and lets the thread go on. The calls
// with a pause point are "GetVersionExW" and "Sleep". Resume returns once the held thread has
// gone on. A reset lets every held thread go.
void PauseAt(const std::string& call);
bool WaitUntilPaused(const std::string& call, DWORD timeoutMs = 10000);
void Resume(const std::string& call);
// Called by the machine's own calls; holds the thread when the test armed that call.
void PausePoint(const std::string& call);

// Faults the machine noticed in the code under test (an over-released COM object, a call on a
// closed handle, ...). Tests expect this to stay empty.
void ReportFault(const std::string& fault);
std::vector<std::string> Faults();

// Kernel handle table.
enum class HandleKind { Event, Thread, File };
struct KernelObject {
    virtual ~KernelObject() = default;
    // Waitable objects answer whether they are signalled and, when a wait succeeds on them,
    // consume the signal (an auto-reset event). Called with the wait lock held.
    virtual bool Signalled() const { return false; }
    virtual void Consume() {}
    virtual bool Waitable() const { return false; }
    // Called once when the last handle to the object is closed.
    virtual void Closed() {}
};
HANDLE InsertHandle(HandleKind kind, std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle, HandleKind kind);
std::size_t OpenHandles(HandleKind kind);
// Runs change under the wait lock and wakes every waiter: how a waitable object changes state.
void ChangeWaitState(const std::function<void()>& change);

// Asynchronous procedure calls: apc runs on the thread of that id (platform::GetCurrentThreadId)
// inside its next alertable wait (WaitForMultipleObjectsEx with bAlertable TRUE), which then
// answers WAIT_IO_COMPLETION; objects already signalled when the wait starts win over APCs, as in
// the Windows kernel. Never in a wait that is not alertable. APCs of a thread that never waits
// alertably again are dropped at the next reset.
void QueueApc(DWORD threadId, std::function<void()> apc);
// Whether the calling thread is running an APC now.
bool InApc();

// Machine time, in milliseconds since the machine's start. A timed wait (WaitForSingleObject,
// WaitForMultipleObjects(Ex) with a finite, non-zero timeout, or Sleep) that ends by its timeout
// moves it on by that timeout. With UseMachineTime(true) such a wait that finds nothing signalled
// (and, when alertable, no APC) returns WAIT_TIMEOUT at once instead of really waiting, so a retry
// that waits 30 s runs in no real time. Off on a fresh machine: tests wait with timeouts in real
// time for the machine's own threads. A wait on machine time first lets the machine's own work in
// flight end (every busy check false: the audio system's notifications delivered), as that work
// would end within a real wait. AdvanceMachineTime moves it on as such a wait does.
ULONGLONG MachineTime();
void UseMachineTime(bool on);
void AdvanceMachineTime(DWORD milliseconds);
// Runs action once, when machine time reaches now + delay: on the thread that moves it there,
// after that thread's wait and outside every lock of the kernel. A reset drops pending actions.
void AtMachineTime(DWORD delay, std::function<void()> action);
// An area's check of whether it has work in flight; called outside every lock of the kernel.
void AddBusyCheck(std::function<bool()> busy);
// An area's look for WaitQuiet: 0 while it has work in flight, otherwise a stamp that moves on
// whenever it takes up new work; called outside every lock of the kernel.
void AddQuietCheck(std::function<std::uint64_t()> idle);

// Waits until the machine is quiet, at one moment: every live thread of CreateThread blocked in an
// infinite WaitForSingleObject or WaitForMultipleObjects(Ex) with nothing it waits for signalled
// (all of it for a wait-all) and, when alertable, no APC queued for it; no control queued for the
// service's handler or running in it; the audio system idle (every busy check false). False after
// timeoutMs. A timed wait is never quiet: it ends by itself (on machine time as soon as the
// machine's work in flight has ended), and what follows it may have more to do. The dispatcher's
// and the audio system's threads are seen only through their area's look, and ServiceMain's not at
// all: wait once the service has reported RUNNING or has stopped. For the endpoint path: a thread
// in a user32 message wait (the mixer window's, at version 5) is no kernel wait and never quiet.
// Not from a thread of CreateThread.
bool WaitQuiet(DWORD timeoutMs = 20000);

// Entry points of system DLLs for GetProcAddress: GetModuleHandleW knows "kernel32.dll" and
// "advapi32.dll" (case ignored); an entry point defined here is found from Windows major version
// fromMajor on and is null (ERROR_PROC_NOT_FOUND) below it, as a function added in a later release.
void DefineEntryPoint(const std::string& module, const std::string& name, FARPROC entry,
                      DWORD fromMajor);

// Windows version and the running executable's path.
void SetWindowsVersion(DWORD major, DWORD minor = 0);
void SetModulePath(const platform::WideString& path);
platform::WideString ModulePath();
// Whether kernel32 exports SetDefaultDllDirectories (Windows 8 on, and Vista or 7 with the update
// that adds it); by default it does. Journal: "GetModuleHandleW kernel32.dll", "GetProcAddress
// <name>" (" failed 127" when absent), "SetDefaultDllDirectories 0x800", "SetDllDirectoryW \"\"".
void SetDefaultDllDirectoriesExported(bool exported);

// Security of files and folders (GetFileSecurityW): a path (compared without case) has a
// self-relative security descriptor or does not exist (ERROR_FILE_NOT_FOUND). A fresh machine has
// the service's program, its folder "C:\\Program Files\\Quenvar" and "C:\\Program Files" with the
// access list Windows gives them (full control for SYSTEM, Administrators and TrustedInstaller,
// read and execute for Users), and "C:\\" with DriveRootAccess. Journal: "GetFileSecurityW <path>
// size=<n>", with " failed <error>".
struct AccessEntry {
    BYTE type;       // ACCESS_ALLOWED_ACE_TYPE or ACCESS_DENIED_ACE_TYPE
    BYTE flags;      // e.g. INHERIT_ONLY_ACE
    DWORD mask;      // access rights
    std::string sid; // "S-1-5-32-545"
};
// A self-relative descriptor with the owner whose access list holds the entries.
std::vector<BYTE> SecurityDescriptor(const std::vector<AccessEntry>& entries,
                                     const std::string& ownerSid = "S-1-5-32-544");
std::vector<AccessEntry> ProgramFilesAccess();
std::vector<AccessEntry> DriveRootAccess();
void SetFileSecurity(const platform::WideString& path, std::vector<BYTE> descriptor);

// Device interface notifications (RegisterDeviceNotificationW). A device event reaches every
// registration of its interface class: service registrations through the SCM's sink (as a
// SERVICE_CONTROL_DEVICEEVENT), window registrations through user32's sink (as WM_DEVICECHANGE).
using DeviceEventSink = std::function<void(HANDLE recipient, DWORD eventType)>;
void SetServiceDeviceEventSink(DeviceEventSink sink);
void SetWindowDeviceEventSink(DeviceEventSink sink);
void RaiseDeviceInterfaceEvent(DWORD eventType, const GUID& interfaceClass);
std::size_t DeviceNotificationCount();

struct DeviceRegistration {
    HANDLE recipient;
    DWORD flags;
    DEV_BROADCAST_DEVICEINTERFACE_W filter;
};
std::vector<DeviceRegistration> DeviceRegistrations();

// Text of a wide string for journal entries (ASCII kept, other code units as '?').
std::string Narrow(const WCHAR* text);
std::string Narrow(const platform::WideString& text);
platform::WideString Widen(const std::string& text);
std::string FormatGuid(const GUID& guid);
// The text with A-Z folded to a-z: the key under which names compared without case are kept
// (service names, window class names).
platform::WideString FoldCase(const WCHAR* text);

} // namespace sim
