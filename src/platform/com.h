// ole32: apartment initialisation, object creation and property values.
#pragma once

#include "platform/types.h"

namespace platform {

HRESULT WINAPI CoInitialize(LPVOID pvReserved);
void WINAPI CoUninitialize();
HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                REFIID riid, LPVOID* ppv);
// Frees what a property value owns (a string of IPropertyStore::GetValue) and empties it.
HRESULT WINAPI PropVariantClear(PROPVARIANT* pvar);

} // namespace platform
