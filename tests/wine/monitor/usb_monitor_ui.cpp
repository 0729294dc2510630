// The user-interface half of the stand-in USB port monitor: present, so that
// its copy and removal can be watched, but it offers no dialogs.
#include <windows.h>

namespace {

struct MonitorUiTable {
    DWORD size;
    BOOL(WINAPI* addPortUi)(PCWSTR server, HWND window, PCWSTR portNameIn, PWSTR* portNameOut);
    BOOL(WINAPI* configurePortUi)(PCWSTR server, HWND window, PCWSTR portName);
    BOOL(WINAPI* deletePortUi)(PCWSTR server, HWND window, PCWSTR portName);
};

BOOL WINAPI addPortUi(PCWSTR, HWND, PCWSTR, PWSTR* portNameOut) {
    if (portNameOut) *portNameOut = nullptr;
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL WINAPI configurePortUi(PCWSTR, HWND, PCWSTR) {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL WINAPI deletePortUi(PCWSTR, HWND, PCWSTR) {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

MonitorUiTable g_monitorUi = {sizeof(MonitorUiTable), addPortUi, configurePortUi, deletePortUi};

}  // namespace

extern "C" __declspec(dllexport) MonitorUiTable* WINAPI InitializePrintMonitorUI() { return &g_monitorUi; }
