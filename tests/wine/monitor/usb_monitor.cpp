// A stand-in for the USB port monitor the installation registers: the least a
// spooler accepts from a port monitor DLL. Ports added through AddPortEx are
// kept as registry keys under the monitor's own key, where the spooler also
// looks for a port's monitor; written data is taken and dropped.
#include <windows.h>
#include <winspool.h>

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <new>

namespace {

// The port monitor interface of the spooler, in its first (Windows 2000) size:
// the spooler copies as many entries as cbSize covers.
struct MonitorInitialization;
struct MonitorTable {
    DWORD cbSize;
    BOOL(WINAPI* enumPorts)(HANDLE monitor, LPWSTR server, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed,
                            LPDWORD returned);
    BOOL(WINAPI* openPort)(HANDLE monitor, LPWSTR name, PHANDLE port);
    void* openPortEx;
    BOOL(WINAPI* startDocPort)(HANDLE port, LPWSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo);
    BOOL(WINAPI* writePort)(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD written);
    BOOL(WINAPI* readPort)(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read);
    BOOL(WINAPI* endDocPort)(HANDLE port);
    BOOL(WINAPI* closePort)(HANDLE port);
    void* addPort;
    BOOL(WINAPI* addPortEx)(HANDLE monitor, LPWSTR server, DWORD level, LPBYTE port, LPWSTR monitorName);
    void* configurePort;
    BOOL(WINAPI* deletePort)(HANDLE monitor, LPWSTR server, HWND window, LPWSTR portName);
    void* getPrinterDataFromPort;
    void* setPortTimeOuts;
    BOOL(WINAPI* xcvOpenPort)(HANDLE monitor, LPCWSTR object, ACCESS_MASK access, PHANDLE xcv);
    DWORD(WINAPI* xcvDataPort)(HANDLE xcv, LPCWSTR dataName, PBYTE input, DWORD inputSize, PBYTE output,
                               DWORD outputSize, PDWORD outputNeeded);
    BOOL(WINAPI* xcvClosePort)(HANDLE xcv);
    void(WINAPI* shutdown)(HANDLE monitor);
};

constexpr const wchar_t* kPortsKey = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\USB Printer Monitor\\Ports";
constexpr const wchar_t* kMonitorName = L"USB Printer Monitor";
constexpr const wchar_t* kDescription = L"USB printer port";
constexpr const wchar_t* kUserInterfaceDll = L"VelmorUSBMonUI.dll";
constexpr DWORD kPortTypeWrite = 0x1;

// The names of the ports added so far, one after another, in registry order.
struct PortNames {
    wchar_t names[16][MAX_PATH];
    DWORD count = 0;
};

void readPortNames(PortNames& ports) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPortsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    for (DWORD index = 0; ports.count < 16; ++index) {
        DWORD length = MAX_PATH;
        if (::RegEnumKeyExW(key, index, ports.names[ports.count], &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        ++ports.count;
    }
    ::RegCloseKey(key);
}

DWORD stringBytes(const wchar_t* text) { return static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t)); }

// Records first, their strings packed after them, as the spooler's own
// enumerations lay them out.
BOOL WINAPI enumPorts(HANDLE, LPWSTR, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
    if (level != 1 && level != 2) {
        ::SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    PortNames ports;
    readPortNames(ports);
    const DWORD recordSize = level == 1 ? sizeof(PORT_INFO_1W) : sizeof(PORT_INFO_2W);
    DWORD total = 0;
    for (DWORD i = 0; i < ports.count; ++i) {
        total += recordSize + stringBytes(ports.names[i]);
        if (level == 2) total += stringBytes(kMonitorName) + stringBytes(kDescription);
    }
    if (needed) *needed = total;
    if (returned) *returned = 0;
    if (!buffer || size < total) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* strings = reinterpret_cast<wchar_t*>(buffer + recordSize * ports.count);
    const auto place = [&strings](const wchar_t* text) {
        const std::size_t units = std::wcslen(text) + 1;
        std::wmemcpy(strings, text, units);
        wchar_t* placed = strings;
        strings += units;
        return placed;
    };
    for (DWORD i = 0; i < ports.count; ++i) {
        if (level == 1) {
            reinterpret_cast<PORT_INFO_1W*>(buffer)[i].pName = place(ports.names[i]);
        } else {
            PORT_INFO_2W& record = reinterpret_cast<PORT_INFO_2W*>(buffer)[i];
            record.pPortName = place(ports.names[i]);
            record.pMonitorName = place(kMonitorName);
            record.pDescription = place(kDescription);
            record.fPortType = kPortTypeWrite;
            record.Reserved = 0;
        }
    }
    if (returned) *returned = ports.count;
    return TRUE;
}

// Both port record levels begin with the port name.
BOOL WINAPI addPortEx(HANDLE, LPWSTR, DWORD level, LPBYTE port, LPWSTR) {
    const wchar_t* name = port && (level == 1 || level == 2) ? reinterpret_cast<PORT_INFO_1W*>(port)->pName : nullptr;
    if (!name || !name[0] || std::wcslen(name) >= MAX_PATH || std::wcschr(name, L'\\')) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    HKEY ports = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPortsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &ports, nullptr) !=
        ERROR_SUCCESS)
        return FALSE;
    HKEY added = nullptr;
    DWORD disposition = 0;
    const LSTATUS status = ::RegCreateKeyExW(ports, name, 0, nullptr, 0, KEY_WRITE, nullptr, &added, &disposition);
    ::RegCloseKey(ports);
    if (status != ERROR_SUCCESS) {
        ::SetLastError(status);
        return FALSE;
    }
    ::RegCloseKey(added);
    if (disposition == REG_OPENED_EXISTING_KEY) {
        ::SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI deletePort(HANDLE, LPWSTR, HWND, LPWSTR portName) {
    HKEY ports = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPortsKey, 0, KEY_WRITE, &ports) != ERROR_SUCCESS) return FALSE;
    const LSTATUS status = ::RegDeleteKeyW(ports, portName);
    ::RegCloseKey(ports);
    if (status != ERROR_SUCCESS) ::SetLastError(status);
    return status == ERROR_SUCCESS;
}

// A port handle stands for nothing but itself: documents go nowhere.
struct OpenPort {
    DWORD job = 0;
};

BOOL WINAPI openPort(HANDLE, LPWSTR, PHANDLE port) {
    if (!port) return FALSE;
    *port = new (std::nothrow) OpenPort;
    return *port != nullptr;
}

BOOL WINAPI startDocPort(HANDLE port, LPWSTR, DWORD jobId, DWORD, LPBYTE) {
    static_cast<OpenPort*>(port)->job = jobId;
    return TRUE;
}

BOOL WINAPI writePort(HANDLE, LPBYTE, DWORD size, LPDWORD written) {
    if (written) *written = size;
    return TRUE;
}

BOOL WINAPI readPort(HANDLE, LPBYTE, DWORD, LPDWORD read) {
    if (read) *read = 0;
    return TRUE;
}

BOOL WINAPI endDocPort(HANDLE port) {
    static_cast<OpenPort*>(port)->job = 0;
    return TRUE;
}

BOOL WINAPI closePort(HANDLE port) {
    delete static_cast<OpenPort*>(port);
    return TRUE;
}

// The exchange channel answers one question, which DLL holds the user interface.
BOOL WINAPI xcvOpenPort(HANDLE monitor, LPCWSTR, ACCESS_MASK, PHANDLE xcv) {
    if (!xcv) return FALSE;
    *xcv = monitor;
    return TRUE;
}

DWORD WINAPI xcvDataPort(HANDLE, LPCWSTR dataName, PBYTE, DWORD, PBYTE output, DWORD outputSize,
                         PDWORD outputNeeded) {
    if (!dataName || std::wcscmp(dataName, L"MonitorUI") != 0) return ERROR_INVALID_PARAMETER;
    const DWORD bytes = stringBytes(kUserInterfaceDll);
    if (outputNeeded) *outputNeeded = bytes;
    if (!output || outputSize < bytes) return ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(output, kUserInterfaceDll, bytes);
    return ERROR_SUCCESS;
}

BOOL WINAPI xcvClosePort(HANDLE) { return TRUE; }

void WINAPI shutdown(HANDLE) {}

MonitorTable g_monitor = {
    .cbSize = sizeof(MonitorTable),
    .enumPorts = enumPorts,
    .openPort = openPort,
    .openPortEx = nullptr,
    .startDocPort = startDocPort,
    .writePort = writePort,
    .readPort = readPort,
    .endDocPort = endDocPort,
    .closePort = closePort,
    .addPort = nullptr,
    .addPortEx = addPortEx,
    .configurePort = nullptr,
    .deletePort = deletePort,
    .getPrinterDataFromPort = nullptr,
    .setPortTimeOuts = nullptr,
    .xcvOpenPort = xcvOpenPort,
    .xcvDataPort = xcvDataPort,
    .xcvClosePort = xcvClosePort,
    .shutdown = shutdown,
};

}  // namespace

extern "C" __declspec(dllexport) MonitorTable* WINAPI InitializePrintMonitor2(MonitorInitialization*,
                                                                              HANDLE* monitor) {
    if (monitor) *monitor = &g_monitor;
    return &g_monitor;
}
