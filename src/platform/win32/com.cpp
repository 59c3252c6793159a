// ole32 forwards: each seam call of platform/com.h passed unchanged to Windows, nothing more.
#include "platform/com.h"

HRESULT WINAPI platform::CoInitialize(LPVOID pvReserved) {
    return ::CoInitialize(pvReserved);
}

void WINAPI platform::CoUninitialize() {
    ::CoUninitialize();
}

HRESULT WINAPI platform::CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                          REFIID riid, LPVOID* ppv) {
    return ::CoCreateInstance(rclsid, pUnkOuter, dwClsContext, riid, ppv);
}

HRESULT WINAPI platform::PropVariantClear(PROPVARIANT* pvar) {
    return ::PropVariantClear(pvar);
}
