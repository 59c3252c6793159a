// A small service-control client for the Wine service tests: the queries and controls that Wine's
// own sc.exe lacks (qc, interrogate) and the timed waits that would cost a Wine start per poll.
// Prints plain "key: value" lines; exits 0 when the request succeeded, 1 otherwise.
//   sc_probe config|query|interrogate|start|stop|delete NAME
//   sc_probe wait NAME RUNNING|STOPPED|GONE LIMIT_MS
//   sc_probe start-stop NAME LIMIT_MS   (a stop sent at once after the start)
#include "platform/types.h"

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

int Control(SC_HANDLE manager, const wchar_t* name, DWORD control) {
    ScHandle service(OpenServiceW(manager, name, SERVICE_STOP | SERVICE_INTERROGATE));
    SERVICE_STATUS status{};
    if (service.value == nullptr || !ControlService(service.value, control, &status)) {
        return Fail(GetLastError());
    }
    std::printf("state: %s\n", StateName(status.dwCurrentState));
    return 0;
}

int Start(SC_HANDLE manager, const wchar_t* name) {
    ScHandle service(OpenServiceW(manager, name, SERVICE_START));
    if (service.value == nullptr || !StartServiceW(service.value, 0, nullptr)) {
        return Fail(GetLastError());
    }
    return 0;
}

int Delete(SC_HANDLE manager, const wchar_t* name) {
    ScHandle service(OpenServiceW(manager, name, DELETE));
    if (service.value == nullptr || !DeleteService(service.value)) {
        return Fail(GetLastError());
    }
    return 0;
}

// Waits until the service shows `wanted` ("GONE": until it no longer exists).
int Wait(SC_HANDLE manager, const wchar_t* name, const std::string& wanted, long long limitMs) {
    Clock::time_point start = Clock::now();
    Observed observed;
    for (;;) {
        observed = Query(manager, name);
        bool reached = wanted == "GONE"
                           ? observed.error == ERROR_SERVICE_DOES_NOT_EXIST
                           : observed.error == 0 && wanted == StateName(observed.state);
        if (reached) {
            std::printf("waited: %lld ms\n", MillisecondsSince(start));
            return 0;
        }
        if (MillisecondsSince(start) > limitMs) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (observed.error != 0) {
        std::printf("timeout: %lld ms, error %lu\n", limitMs,
                    static_cast<unsigned long>(observed.error));
    } else {
        std::printf("timeout: %lld ms, state %s\n", limitMs, StateName(observed.state));
    }
    return 1;
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
    SERVICE_STATUS status{};
    while (!ControlService(service.value, SERVICE_CONTROL_STOP, &status)) {
        DWORD error = GetLastError();
        if (error != ERROR_SERVICE_CANNOT_ACCEPT_CTRL && error != ERROR_SERVICE_NOT_ACTIVE) {
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
    std::printf("stop accepted: %lld ms, refused: %d, stopped: %lld ms\n", accepted, refused,
                MillisecondsSince(start));
    return 0;
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
    if (is(L"interrogate")) {
        return Control(manager.value, name, SERVICE_CONTROL_INTERROGATE);
    }
    if (is(L"stop")) {
        return Control(manager.value, name, SERVICE_CONTROL_STOP);
    }
    if (is(L"start")) {
        return Start(manager.value, name);
    }
    if (is(L"delete")) {
        return Delete(manager.value, name);
    }
    if (is(L"wait") && argc == 5) {
        // State words are ASCII.
        std::string wanted(argv[3], argv[3] + std::wcslen(argv[3]));
        return Wait(manager.value, name, wanted, std::wcstoll(argv[4], nullptr, 10));
    }
    if (is(L"start-stop") && argc == 4) {
        return StartStop(manager.value, name, std::wcstoll(argv[3], nullptr, 10));
    }
    std::printf("usage: unknown command\n");
    return 2;
}
