// user32 and gdi32 forwards: each seam call of platform/user32.h passed unchanged to Windows,
// nothing more.
#include "platform/user32.h"

ATOM WINAPI platform::RegisterClassExW(const WNDCLASSEXW* lpwcx) {
    return ::RegisterClassExW(lpwcx);
}

BOOL WINAPI platform::UnregisterClassW(LPCWSTR lpClassName, HINSTANCE hInstance) {
    return ::UnregisterClassW(lpClassName, hInstance);
}

HWND WINAPI platform::CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName,
                                      DWORD dwStyle, int X, int Y, int nWidth, int nHeight,
                                      HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                                      LPVOID lpParam) {
    return ::CreateWindowExW(dwExStyle, lpClassName, lpWindowName, dwStyle, X, Y, nWidth, nHeight,
                             hWndParent, hMenu, hInstance, lpParam);
}

BOOL WINAPI platform::DestroyWindow(HWND hWnd) {
    return ::DestroyWindow(hWnd);
}

LRESULT WINAPI platform::DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcW(hWnd, Msg, wParam, lParam);
}

BOOL WINAPI platform::GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
    return ::GetMessageW(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax);
}

BOOL WINAPI platform::TranslateMessage(const MSG* lpMsg) {
    return ::TranslateMessage(lpMsg);
}

LRESULT WINAPI platform::DispatchMessageW(const MSG* lpMsg) {
    return ::DispatchMessageW(lpMsg);
}

BOOL WINAPI platform::PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    return ::PostMessageW(hWnd, Msg, wParam, lParam);
}

BOOL WINAPI platform::PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
    return ::PostThreadMessageW(idThread, Msg, wParam, lParam);
}

void WINAPI platform::PostQuitMessage(int nExitCode) {
    ::PostQuitMessage(nExitCode);
}

HICON WINAPI platform::LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName) {
    return ::LoadIconW(hInstance, lpIconName);
}

HCURSOR WINAPI platform::LoadCursorW(HINSTANCE hInstance, LPCWSTR lpCursorName) {
    return ::LoadCursorW(hInstance, lpCursorName);
}

HGDIOBJ WINAPI platform::GetStockObject(int i) {
    return ::GetStockObject(i);
}

HDEVNOTIFY WINAPI platform::RegisterDeviceNotificationW(HANDLE hRecipient,
                                                        LPVOID NotificationFilter, DWORD Flags) {
    return ::RegisterDeviceNotificationW(hRecipient, NotificationFilter, Flags);
}

BOOL WINAPI platform::UnregisterDeviceNotification(HDEVNOTIFY Handle) {
    return ::UnregisterDeviceNotification(Handle);
}
