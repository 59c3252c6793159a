// A small service-control client for the Wine service tests: the queries and controls that Wine's
// own sc.exe lacks (qc, interrogate) and the timed waits that would cost a Wine start per poll.
// Prints plain "key: value" lines; exits 0 when the request succeeded, 1 otherwise.
//   sc_probe config|query|interrogate|delete NAME
//   sc_probe start|stop NAME [LIMIT_MS]    (with a limit: and wait until RUNNING or STOPPED)
//   sc_probe wait NAME RUNNING|STOPPED|GONE LIMIT_MS
//   sc_probe start-stop NAME LIMIT_MS   (a stop sent at once after the start)
//   sc_probe create NAME PATH           (an own-process, demand-start service running PATH)
//   sc_probe controls NAME              (every control code 0-255 but the stop, one at a time)
//   sc_probe interrogate-loop NAME MS   (interrogations back to back for MS milliseconds)
//   sc_probe cycles NAME COUNT [LIMIT_MS] (COUNT starts, each run to RUNNING and stopped to
//                                       STOPPED, timed; median start and stop printed)
#include "platform/types.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct ScHandle {
    SC_HANDLE value;
    explicit ScHandle(SC_HANDLE v) : value(v) {}
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    ~ScHandle() {
        if (value != nullptr) {
            CloseServiceHandle(value);
        }
    }
};

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

const char* StateName(DWORD state) {
    switch (state) {
    case SERVICE_STOPPED:
        return "STOPPED";
    case SERVICE_START_PENDING:
        return "START_PENDING";
    case SERVICE_STOP_PENDING:
        return "STOP_PENDING";
    case SERVICE_RUNNING:
        return "RUNNING";
    case SERVICE_CONTINUE_PENDING:
        return "CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING:
        return "PAUSE_PENDING";
    case SERVICE_PAUSED:
        return "PAUSED";
    default:
        return "UNKNOWN";
    }
}

int Fail(DWORD error) {
    std::printf("error: %lu\n", static_cast<unsigned long>(error));
    return 1;
}

// The service's state, or the error that kept it from being read (1060: no such service).
struct Observed {
    DWORD state = 0;
    DWORD error = 0;
};

Observed Query(SC_HANDLE manager, const wchar_t* name) {
    Observed observed;
    ScHandle service(OpenServiceW(manager, name, SERVICE_QUERY_STATUS));
    SERVICE_STATUS status{};
    if (service.value == nullptr || !QueryServiceStatus(service.value, &status)) {
        observed.error = GetLastError();
    } else {
        observed.state = status.dwCurrentState;
    }
    return observed;
}

int Config(SC_HANDLE manager, const wchar_t* name) {
    ScHandle service(OpenServiceW(manager, name, SERVICE_QUERY_CONFIG));
    if (service.value == nullptr) {
        return Fail(GetLastError());
    }
    DWORD needed = 0;
    QueryServiceConfigW(service.value, nullptr, 0, &needed);
    std::vector<unsigned char> buffer(needed == 0 ? 1 : needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service.value, config, needed, &needed)) {
        return Fail(GetLastError());
    }
    std::printf("type: 0x%lx\nstart: %lu\nerror control: %lu\npath: %ls\ndisplay name: %ls\n",
                static_cast<unsigned long>(config->dwServiceType),
                static_cast<unsigned long>(config->dwStartType),
                static_cast<unsigned long>(config->dwErrorControl), config->lpBinaryPathName,
                config->lpDisplayName);
    return 0;
}

// Waits until the service shows `wanted` ("GONE": until it no longer exists) and tells how long
// that took since `start`.
int Reach(SC_HANDLE manager, const wchar_t* name, const std::string& wanted,
          Clock::time_point start, long long limitMs) {
    Observed observed;
    for (;;) {
        observed = Query(manager, name);
        bool reached = wanted == "GONE"
                           ? observed.error == ERROR_SERVICE_DOES_NOT_EXIST
                           : observed.error == 0 && wanted == StateName(observed.state);
        if (reached) {
            std::printf("reached: %lld ms\n", MillisecondsSince(start));
            return 0;
        }
        if (MillisecondsSince(start) > limitMs) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (observed.error != 0) {
        std::printf("timeout: %lld ms, error %lu\n", limitMs,
                    static_cast<unsigned long>(observed.error));
    } else {
        std::printf("timeout: %lld ms, state %s\n", limitMs, StateName(observed.state));
    }
    return 1;
}

// Wine's service dispatcher lets StartServiceCtrlDispatcherW return as soon as the service
// reports SERVICE_STOPPED, so the process may end before the dispatcher thread has written the stop
// control's reply: the stop was carried out, but ControlService fails with ERROR_BROKEN_PIPE. The
// caller then checks that the service did stop.
bool StopReplyLost(DWORD control, DWORD error) {
    return control == SERVICE_CONTROL_STOP && error == ERROR_BROKEN_PIPE;
}

// Sends a control and prints the state it answered; a stop with a limit also waits until the
// service reports STOPPED and tells how long that took from the request.
int Control(SC_HANDLE manager, const wchar_t* name, DWORD control, long long limitMs) {
    Clock::time_point start = Clock::now();
    {
        ScHandle service(OpenServiceW(manager, name, SERVICE_STOP | SERVICE_INTERROGATE));
        if (service.value == nullptr) {
            return Fail(GetLastError());
        }
        SERVICE_STATUS status{};
        if (ControlService(service.value, control, &status)) {
            std::printf("state: %s\n", StateName(status.dwCurrentState));
        } else if (DWORD error = GetLastError(); StopReplyLost(control, error)) {
            std::printf("reply: lost\n");
        } else {
            return Fail(error);
        }
    }
    if (limitMs < 0) {
        return 0;
    }
    return Reach(manager, name, "STOPPED", start, limitMs);
}

// Starts the service; with a limit, also waits until it reports RUNNING and tells how long that
// took from the start request.
int Start(SC_HANDLE manager, const wchar_t* name, long long limitMs) {
    Clock::time_point start = Clock::now();
    {
        ScHandle service(OpenServiceW(manager, name, SERVICE_START));
        if (service.value == nullptr || !StartServiceW(service.value, 0, nullptr)) {
            return Fail(GetLastError());
        }
    }
    if (limitMs < 0) {
        return 0;
    }
    return Reach(manager, name, "RUNNING", start, limitMs);
}

int Delete(SC_HANDLE manager, const wchar_t* name) {
    ScHandle service(OpenServiceW(manager, name, DELETE));
    if (service.value == nullptr || !DeleteService(service.value)) {
        return Fail(GetLastError());
    }
    return 0;
}

// Starts the service and sends the stop at once. A stop the service cannot accept yet (it has not
// reported RUNNING) is sent again until it is accepted; then the service must reach STOPPED.
int StartStop(SC_HANDLE manager, const wchar_t* name, long long limitMs) {
    ScHandle service(OpenServiceW(manager, name, SERVICE_START | SERVICE_STOP));
    if (service.value == nullptr || !StartServiceW(service.value, 0, nullptr)) {
        return Fail(GetLastError());
    }
    Clock::time_point start = Clock::now();
    int refused = 0;
    bool replyLost = false;
    SERVICE_STATUS status{};
    while (!ControlService(service.value, SERVICE_CONTROL_STOP, &status)) {
        DWORD error = GetLastError();
        if (StopReplyLost(SERVICE_CONTROL_STOP, error)) {
            replyLost = true;
            break;
        }
        if (error != ERROR_SERVICE_CANNOT_ACCEPT_CTRL) {
            return Fail(error);
        }
        if (MillisecondsSince(start) > limitMs) {
            std::printf("timeout: %lld ms, stop refused %d times\n", limitMs, refused);
            return 1;
        }
        ++refused;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    long long accepted = MillisecondsSince(start);
    while (Query(manager, name).state != SERVICE_STOPPED) {
        if (MillisecondsSince(start) > limitMs) {
            std::printf("timeout: %lld ms, stop accepted after %lld ms\n", limitMs, accepted);
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::printf("stop accepted: %lld ms, refused: %d,%s stopped: %lld ms\n", accepted, refused,
                replyLost ? " reply lost," : "", MillisecondsSince(start));
    return 0;
}

int Create(SC_HANDLE manager, const wchar_t* name, const wchar_t* path) {
    ScHandle service(CreateServiceW(
        manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
        SERVICE_ERROR_NORMAL, path, nullptr, nullptr, nullptr, nullptr, nullptr));
    return service.value == nullptr ? Fail(GetLastError()) : 0;
}

long long MicrosecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
}

long long Median(std::vector<long long> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// What the service's handler answers: stop, interrogate and device events are handled, every
// other code it receives gets ERROR_CALL_NOT_IMPLEMENTED. A code the manager refuses itself never
// reaches the handler (the manager's own error: a code the service does not accept, or one that
// ControlService does not send); those are counted apart. Wine's manager does not pass a refusing
// handler's answer back: ControlService succeeds with the current status, which must be RUNNING.
// After each control the service must still be RUNNING.
int Controls(SC_HANDLE manager, const wchar_t* name) {
    ScHandle service(OpenServiceW(manager, name,
                                  SERVICE_STOP | SERVICE_INTERROGATE | SERVICE_PAUSE_CONTINUE |
                                      SERVICE_USER_DEFINED_CONTROL | SERVICE_QUERY_STATUS));
    if (service.value == nullptr) {
        return Fail(GetLastError());
    }
    int sent = 0, interrogated = 0, notImplemented = 0, unanswered = 0, refused = 0;
    int unexpected = 0, left = 0;
    std::string refusedCodes;
    DWORD refusedError = 0, refusedLast = 0xFFFFFFFF;
    for (DWORD code = 0; code <= 255; ++code) {
        if (code == SERVICE_CONTROL_STOP) {
            continue;
        }
        ++sent;
        SERVICE_STATUS status{};
        bool answered = ControlService(service.value, code, &status) != FALSE;
        DWORD error = answered ? 0 : GetLastError();
        if (answered && status.dwCurrentState == SERVICE_RUNNING) {
            ++(code == SERVICE_CONTROL_INTERROGATE ? interrogated : unanswered);
        } else if (code != SERVICE_CONTROL_INTERROGATE && error == ERROR_CALL_NOT_IMPLEMENTED) {
            ++notImplemented;
        } else if (code != SERVICE_CONTROL_INTERROGATE &&
                   (error == ERROR_INVALID_SERVICE_CONTROL || error == ERROR_INVALID_PARAMETER)) {
            ++refused;
            // Runs of codes with one error: "11-127:87".
            std::string tail = ":" + std::to_string(error);
            std::string previous = "-" + std::to_string(code - 1) + tail;
            std::string single = std::to_string(code - 1) + tail;
            if (refusedError == error && refusedLast == code - 1 &&
                refusedCodes.size() >= previous.size() &&
                refusedCodes.compare(refusedCodes.size() - previous.size(), previous.size(),
                                     previous) == 0) {
                refusedCodes.replace(refusedCodes.size() - previous.size(), previous.size(),
                                     "-" + std::to_string(code) + tail);
            } else if (refusedError == error && refusedLast == code - 1) {
                refusedCodes.replace(refusedCodes.size() - single.size(), single.size(),
                                     std::to_string(code - 1) + "-" + std::to_string(code) + tail);
            } else {
                refusedCodes += (refusedCodes.empty() ? "" : ", ") + std::to_string(code) + tail;
            }
            refusedError = error;
            refusedLast = code;
        } else {
            ++unexpected;
            std::printf("unexpected: control %lu %s %lu\n", static_cast<unsigned long>(code),
                        answered ? "answered in state" : "failed with",
                        static_cast<unsigned long>(answered ? status.dwCurrentState : error));
        }
        SERVICE_STATUS now{};
        if (!QueryServiceStatus(service.value, &now) || now.dwCurrentState != SERVICE_RUNNING) {
            ++left;
            std::printf("left RUNNING after control %lu\n", static_cast<unsigned long>(code));
        }
    }
    std::printf("sent: %d, as expected: %d (interrogate answered %d, ERROR_CALL_NOT_IMPLEMENTED "
                "%d, delivered with no answer passed back by the manager %d), refused by the "
                "manager: %d, unexpected: %d, left RUNNING: %d\n",
                sent, interrogated + notImplemented + unanswered, interrogated, notImplemented,
                unanswered, refused, unexpected, left);
    std::printf("refused codes (code:error): %s\n",
                refusedCodes.empty() ? "none" : refusedCodes.c_str());
    return interrogated == 1 && unexpected == 0 && left == 0 ? 0 : 1;
}

// Interrogations back to back for a while; every one must answer RUNNING.
int InterrogateLoop(SC_HANDLE manager, const wchar_t* name, long long milliseconds) {
    ScHandle service(OpenServiceW(manager, name, SERVICE_INTERROGATE));
    if (service.value == nullptr) {
        return Fail(GetLastError());
    }
    Clock::time_point start = Clock::now();
    long long answered = 0, failed = 0;
    DWORD lastError = 0;
    while (MillisecondsSince(start) < milliseconds) {
        SERVICE_STATUS status{};
        if (ControlService(service.value, SERVICE_CONTROL_INTERROGATE, &status) &&
            status.dwCurrentState == SERVICE_RUNNING) {
            ++answered;
        } else {
            ++failed;
            lastError = GetLastError();
        }
    }
    std::printf("interrogations: %lld, failed: %lld (last error %lu)\n", answered, failed,
                static_cast<unsigned long>(lastError));
    return failed == 0 && answered > 0 ? 0 : 1;
}

// Starts the service, waits until RUNNING, stops it and waits until STOPPED, count times.
int Cycles(SC_HANDLE manager, const wchar_t* name, int count, long long limitMs) {
    ScHandle service(
        OpenServiceW(manager, name, SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (service.value == nullptr) {
        return Fail(GetLastError());
    }
    auto state = [&service] {
        SERVICE_STATUS status{};
        return QueryServiceStatus(service.value, &status) ? status.dwCurrentState : 0;
    };
    auto reach = [&state, limitMs](DWORD wanted, Clock::time_point from) {
        while (state() != wanted) {
            if (MillisecondsSince(from) > limitMs) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    };
    int completed = 0, lost = 0;
    long long slowest = 0;
    std::vector<long long> starts, stops;
    for (int cycle = 1; cycle <= count; ++cycle) {
        // A start that finds the last process still ending is tried again, timed from the attempt
        // that succeeds.
        Clock::time_point start = Clock::now();
        Clock::time_point first = start;
        DWORD startError = 0;
        while (!StartServiceW(service.value, 0, nullptr)) {
            startError = GetLastError();
            if (startError != ERROR_SERVICE_ALREADY_RUNNING || MillisecondsSince(first) > limitMs) {
                break;
            }
            startError = 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            start = Clock::now();
        }
        if (startError != 0) {
            std::printf("cycle %d: start failed with %lu\n", cycle,
                        static_cast<unsigned long>(startError));
            break;
        }
        if (!reach(SERVICE_RUNNING, start)) {
            std::printf("cycle %d: no RUNNING within %lld ms (state %s)\n", cycle, limitMs,
                        StateName(state()));
            break;
        }
        starts.push_back(MicrosecondsSince(start));
        Clock::time_point stop = Clock::now();
        SERVICE_STATUS status{};
        if (!ControlService(service.value, SERVICE_CONTROL_STOP, &status)) {
            DWORD error = GetLastError();
            if (!StopReplyLost(SERVICE_CONTROL_STOP, error)) {
                std::printf("cycle %d: stop failed with %lu\n", cycle,
                            static_cast<unsigned long>(error));
                break;
            }
            ++lost;
        }
        if (!reach(SERVICE_STOPPED, stop)) {
            std::printf("cycle %d: no STOPPED within %lld ms (state %s)\n", cycle, limitMs,
                        StateName(state()));
            break;
        }
        stops.push_back(MicrosecondsSince(stop));
        slowest = std::max(slowest, MillisecondsSince(start));
        ++completed;
    }
    std::printf("cycles: %d of %d reached RUNNING and STOPPED, slowest %lld ms, stop replies lost "
                "by Wine: %d\n",
                completed, count, slowest, lost);
    std::printf("median start: %lld us\nmedian stop: %lld us\n", Median(starts), Median(stops));
    return completed == count ? 0 : 1;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::printf("usage: sc_probe COMMAND NAME [ARGUMENTS]\n");
        return 2;
    }
    const wchar_t* command = argv[1];
    const wchar_t* name = argv[2];
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (manager.value == nullptr) {
        return Fail(GetLastError());
    }
    auto is = [command](const wchar_t* word) { return std::wcscmp(command, word) == 0; };
    if (is(L"config")) {
        return Config(manager.value, name);
    }
    if (is(L"query")) {
        Observed observed = Query(manager.value, name);
        if (observed.error != 0) {
            return Fail(observed.error);
        }
        std::printf("state: %s\n", StateName(observed.state));
        return 0;
    }
    // An optional last argument: the limit in milliseconds of the wait for the resulting state.
    long long limitMs = argc == 4 ? std::wcstoll(argv[3], nullptr, 10) : -1;
    if (is(L"interrogate")) {
        return Control(manager.value, name, SERVICE_CONTROL_INTERROGATE, -1);
    }
    if (is(L"stop")) {
        return Control(manager.value, name, SERVICE_CONTROL_STOP, limitMs);
    }
    if (is(L"start")) {
        return Start(manager.value, name, limitMs);
    }
    if (is(L"delete")) {
        return Delete(manager.value, name);
    }
    if (is(L"wait") && argc == 5) {
        // State words are ASCII.
        std::string wanted(argv[3], argv[3] + std::wcslen(argv[3]));
        return Reach(manager.value, name, wanted, Clock::now(), std::wcstoll(argv[4], nullptr, 10));
    }
    if (is(L"controls")) {
        return Controls(manager.value, name);
    }
    if (is(L"interrogate-loop") && argc == 4) {
        return InterrogateLoop(manager.value, name, limitMs);
    }
    if (is(L"create") && argc == 4) {
        return Create(manager.value, name, argv[3]);
    }
    if (is(L"cycles") && (argc == 4 || argc == 5)) {
        return Cycles(manager.value, name, static_cast<int>(std::wcstol(argv[3], nullptr, 10)),
                      argc == 5 ? std::wcstoll(argv[4], nullptr, 10) : 20000);
    }
    if (is(L"start-stop") && argc == 4) {
        return StartStop(manager.value, name, std::wcstoll(argv[3], nullptr, 10));
    }
    std::printf("usage: unknown command\n");
    return 2;
}
