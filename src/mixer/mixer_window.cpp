#include "mixer/mixer_window.h"
#include "mixer/mixer_sync.h"
#include "platform/guids.h"
#include "platform/kernel.h"
#include "platform/user32.h"

HDEVNOTIFY MixerDeviceNotification = nullptr;

namespace {

const WCHAR SyncWindowClass[] = WIDE("QuenvarWnd");

void RegisterRenderDeviceEvents(HWND window) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof(DEV_BROADCAST_DEVICEINTERFACE_W);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_reserved = 0;
    filter.dbcc_classguid = platform::KSCATEGORY_RENDER;
    filter.dbcc_name[0] = 0;
    MixerDeviceNotification =
        platform::RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

} // namespace

static_assert(sizeof(WNDCLASSEXW) == 80);
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32);

HWND CreateSyncWindow() {
    HINSTANCE instance = platform::GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(WNDCLASSEXW);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MixerSyncWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = platform::LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hCursor = platform::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(platform::GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = SyncWindowClass;
    windowClass.hIconSm = nullptr;
    // Fails harmlessly at every start after the first: the class is already registered.
    platform::RegisterClassExW(&windowClass);

    // Never shown; top-level, so broadcast device changes reach it too.
    return platform::CreateWindowExW(0, SyncWindowClass, SyncWindowClass, WS_OVERLAPPEDWINDOW, 0, 0,
                                     100, 100, nullptr, nullptr, instance, nullptr);
}

LRESULT CALLBACK MixerSyncWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        StartMixerSync(window);
        RegisterRenderDeviceEvents(window);
        return platform::DefWindowProcW(window, message, wParam, lParam);
    case WM_DESTROY:
        EndMixerSync();
        return 0;
    case WM_DEVICECHANGE:
        return HandleMixerDeviceChange(window, static_cast<DWORD>(wParam), lParam);
    case MM_MIXM_LINE_CHANGE:
        return 0;
    case MM_MIXM_CONTROL_CHANGE: {
        auto mixer = reinterpret_cast<HMIXER>(wParam);
        auto controlId = static_cast<DWORD>(lParam);
        if (mixer == VirtualMixer) {
            MirrorControlChange(mixer, HardwareMixer, VirtualControlTable, HardwareControlTable,
                                controlId);
        } else {
            MirrorControlChange(mixer, VirtualMixer, HardwareControlTable, VirtualControlTable,
                                controlId);
        }
        return 0;
    }
    case StopSyncWindowMessage:
        platform::DestroyWindow(window);
        return 0;
    default:
        return platform::DefWindowProcW(window, message, wParam, lParam);
    }
}

BOOL HandleMixerDeviceChange(HWND window, DWORD deviceEvent, LPARAM) {
    // Which device came or went is not looked at: any of them may be one of the two mixers.
    if (deviceEvent == DBT_DEVICEARRIVAL || deviceEvent == DBT_DEVICEREMOVECOMPLETE) {
        StopMixerSync();
        StartMixerSync(window);
    }
    return TRUE;
}

void EndMixerSync() {
    if (MixerDeviceNotification) {
        platform::UnregisterDeviceNotification(MixerDeviceNotification);
        MixerDeviceNotification = nullptr;
    }
    StopMixerSync();
    platform::PostQuitMessage(0);
}
