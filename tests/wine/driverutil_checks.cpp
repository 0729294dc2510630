// HX-352DriverUtilDll as its callers meet it: loaded by name, every export
// resolved by name, run against the spooler, registry, services and files of
// the Wine prefix, on a system with no HX-352 attached. The run starts from a
// fresh prefix, so the order below is also the order of the system's states.
#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <functional>
#include <string>
#include <vector>

#include "Driver/DriverInstall_Src/driverutil/HX352DriverUtil.h"
#include "platform/platform.h"
#include "tests/wine/checks.h"

namespace hx::wine_tests {
namespace {

constexpr const wchar_t* kLibraryName = L"HX-352DriverUtilDll.dll";

#define HX_DRIVER_UTIL_EXPORTS(X) \
    X(HX352InstallDriver)         \
    X(uninstall)                  \
    X(HX352UninstallDriver)       \
    X(HX352UpdateDriver)          \
    X(HX352CheckDriverV)          \
    X(myFileRead)                 \
    X(enumPrinterPorts)           \
    X(ReleasePortInfo)            \
    X(isCOM)                      \
    X(isLPT)                      \
    X(getMonitors)                \
    X(changePort)                 \
    X(AllocSplStr)                \
    X(AllocSplMem)                \
    X(FreeSplMem)                 \
    X(FreeSplStr)                 \
    X(configCOM)                  \
    X(configLPT)                  \
    X(getOsName)                  \
    X(GetSystemBits)              \
    X(getEnvironment)             \
    X(isChineseOs)                \
    X(getRegStr)                  \
    X(setRegStr)                  \
    X(_SetPrivilege)              \
    X(copyDirFiles)               \
    X(FileIsExist)                \
    X(GetFileLen)                 \
    X(AddDoubleQuotations3Str)    \
    X(AddDoubleQuotations2Str)    \
    X(enumLocalPrinters)          \
    X(getSpecifiedPrinterCount)   \
    X(UTF8_To_string)             \
    X(isMatch)                    \
    X(getPrinterDriverDir)

struct DriverUtil {
#define HX_EXPORT_SLOT(name) decltype(&::name) name = nullptr;
    HX_DRIVER_UTIL_EXPORTS(HX_EXPORT_SLOT)
#undef HX_EXPORT_SLOT
};

template <class Function>
bool resolve(HMODULE library, const char* name, Function& slot) {
    slot = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(library, name)));
    return slot != nullptr;
}

std::string resolveAll(HMODULE library, DriverUtil& util) {
    std::string missing;
#define HX_RESOLVE(name) \
    if (!resolve(library, #name, util.name)) missing += " " #name;
    HX_DRIVER_UTIL_EXPORTS(HX_RESOLVE)
#undef HX_RESOLVE
    return missing;
}

std::string number(std::int64_t value) { return std::to_string(value); }

const std::uint16_t* u16(const wchar_t* text) { return reinterpret_cast<const std::uint16_t*>(text); }
std::uint16_t* u16(wchar_t* text) { return reinterpret_cast<std::uint16_t*>(text); }
const wchar_t* wide(const std::uint16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

std::string shown(std::wstring_view text) {
    std::string quoted(1, '"');
    quoted += utf8(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
    quoted += '"';
    return quoted;
}
std::string shown(const wchar_t* text) { return text ? shown(std::wstring_view(text)) : std::string("null"); }
std::string shown(const std::vector<std::wstring>& names) {
    std::string list = "[";
    for (const std::wstring& name : names) list += (list.size() > 1 ? ", " : "") + shown(name);
    return list + "]";
}

std::wstring lower(std::wstring text) {
    for (wchar_t& unit : text) unit = static_cast<wchar_t>(std::towlower(unit));
    return text;
}

bool contains(const std::vector<std::wstring>& names, std::wstring_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::wstring systemDirectory() {
    std::array<wchar_t, MAX_PATH> buffer{};
    const UINT length = ::GetSystemDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
    return std::wstring(buffer.data(), length);
}

std::wstring programDirectory() {
    std::array<wchar_t, MAX_PATH> buffer{};
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    std::wstring path(buffer.data(), length);
    return path.substr(0, path.rfind(L'\\'));
}

std::wstring tempDirectory() {
    std::array<wchar_t, MAX_PATH + 1> buffer{};
    const DWORD length = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    std::wstring path(buffer.data(), length);
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

bool exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string readFile(const std::wstring& path) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string bytes;
    std::array<char, 4096> chunk{};
    DWORD read = 0;
    while (::ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr) && read > 0) {
        bytes.append(chunk.data(), read);
    }
    ::CloseHandle(file);
    return bytes;
}

// A level-1 spooler enumeration (ports, monitors, drivers: each record is one
// name pointer), sized first and then filled.
std::vector<std::wstring> enumerateNames(const std::function<BOOL(BYTE*, DWORD, DWORD*, DWORD*)>& enumerate) {
    DWORD needed = 0;
    DWORD count = 0;
    enumerate(nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed + sizeof(void*));
    count = 0;
    if (!enumerate(buffer.data(), static_cast<DWORD>(buffer.size()), &needed, &count)) return {};
    std::vector<std::wstring> names;
    const auto* records = reinterpret_cast<const LPWSTR*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) names.emplace_back(records[i] ? records[i] : L"");
    return names;
}

std::vector<std::wstring> portNames() {
    return enumerateNames([](BYTE* buffer, DWORD size, DWORD* needed, DWORD* count) {
        return ::EnumPortsW(nullptr, 1, buffer, size, needed, count);
    });
}

std::vector<std::wstring> monitorNames() {
    return enumerateNames([](BYTE* buffer, DWORD size, DWORD* needed, DWORD* count) {
        return ::EnumMonitorsW(nullptr, 1, buffer, size, needed, count);
    });
}

std::vector<std::wstring> driverNames() {
    return enumerateNames([](BYTE* buffer, DWORD size, DWORD* needed, DWORD* count) {
        return ::EnumPrinterDriversW(nullptr, const_cast<wchar_t*>(L"Windows x64"), 1, buffer, size, needed, count);
    });
}

// The print spooler service's current state, or 0 when it cannot be queried.
DWORD spoolerState() {
    const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return 0;
    const SC_HANDLE service = ::OpenServiceW(manager, L"Spooler", SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    const bool queried = service && ::QueryServiceStatus(service, &status);
    if (service) ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
    return queried ? status.dwCurrentState : 0;
}

std::string serviceState(DWORD state) {
    switch (state) {
        case SERVICE_STOPPED: return "stopped";
        case SERVICE_START_PENDING: return "start pending";
        case SERVICE_STOP_PENDING: return "stop pending";
        case SERVICE_RUNNING: return "running";
        default: return "state " + number(state);
    }
}

constexpr const wchar_t* kWindowsKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
constexpr const wchar_t* kLanguageMonitorKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\HX352 Language Monitor";
constexpr const wchar_t* kUsbMonitorKey = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\USB Printer Monitor";
constexpr const wchar_t* kMonitorFiles[] = {L"VelmorUSBMon.dll", L"VelmorUSBMonUI.dll"};

bool keyExists(const wchar_t* path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

// A string value under HKEY_LOCAL_MACHINE; `found` false when it is absent.
std::wstring registryString(const wchar_t* path, const wchar_t* name, bool* found = nullptr) {
    std::array<wchar_t, 512> value{};
    DWORD size = sizeof value - sizeof(wchar_t);
    DWORD type = 0;
    const LSTATUS status = ::RegGetValueW(HKEY_LOCAL_MACHINE, path, name, RRF_RT_ANY | RRF_NOEXPAND, &type,
                                          value.data(), &size);
    if (found) *found = status == ERROR_SUCCESS;
    return status == ERROR_SUCCESS ? std::wstring(value.data()) : std::wstring();
}

bool setRegistryString(const wchar_t* path, const wchar_t* name, const wchar_t* value) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const LSTATUS status = ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                            static_cast<DWORD>((std::wcslen(value) + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

// What an installation or removal may change: the spooler's monitors, ports
// and drivers, and the monitor files in the system directory.
struct SystemState {
    std::vector<std::wstring> monitors = monitorNames();
    std::vector<std::wstring> ports = portNames();
    std::vector<std::wstring> drivers = driverNames();
    std::vector<bool> monitorFiles;
    SystemState() {
        for (const wchar_t* file : kMonitorFiles) monitorFiles.push_back(exists(systemDirectory() + L"\\" + file));
    }
    friend bool operator==(const SystemState&, const SystemState&) = default;
};

std::string describe(const SystemState& state) {
    std::string files;
    for (std::size_t i = 0; i < state.monitorFiles.size(); ++i) {
        if (state.monitorFiles[i]) files += " " + shown(kMonitorFiles[i]);
    }
    return "monitors " + shown(state.monitors) + ", ports " + shown(state.ports) + ", drivers " +
           shown(state.drivers) + ", monitor files in the system directory:" + (files.empty() ? " none" : files);
}

void checkExportTable(Checks& checks, HMODULE library) {
    const auto free = ::GetProcAddress(library, "FreeSplMem");
    const auto freeString = ::GetProcAddress(library, "FreeSplStr");
    checks.expect(free != nullptr && free == freeString, "FreeSplStr is the same function as FreeSplMem",
                  "two addresses");
}

void checkSystemInformation(Checks& checks, const DriverUtil& u, const Expectations& expected) {
    checks.expect(u.getOsName(nullptr) == 0, "getOsName(null) gives 0", "another result");

    std::array<std::uint16_t, 256> name{};
    const std::int32_t named = u.getOsName(name.data());
    checks.expect(named == 1 && terminated(reinterpret_cast<const char16_t*>(name.data()), name.size()) ==
                                    expected.windows.osName,
                  "getOsName names the prefix's Windows", number(named) + ", " + shown(wide(name.data())));

    const std::int32_t bits = u.GetSystemBits();
    checks.expect(bits == 64, "GetSystemBits on a 64-bit system", number(bits));

    struct EnvironmentCase {
        std::int32_t flag;
        const wchar_t* name;
    };
    for (const EnvironmentCase& c : {EnvironmentCase{1, L"Windows x64"}, EnvironmentCase{0, L"Windows NT x86"},
                                     EnvironmentCase{2, L"Windows x64"}, EnvironmentCase{-1, L"Windows x64"}}) {
        const std::uint16_t* environment = u.getEnvironment(c.flag);
        checks.expect(environment && std::wcscmp(wide(environment), c.name) == 0,
                      "getEnvironment(" + number(c.flag) + ")", environment ? shown(wide(environment)) : "null");
    }
    checks.expect(u.getEnvironment(1) == u.getEnvironment(2), "getEnvironment hands out the library's own string",
                  "two pointers");

    const std::int32_t chinese = u.isChineseOs();
    checks.expect(chinese == (expected.chineseSystem ? 1 : 0), "isChineseOs follows the system language",
                  number(chinese));
}

struct NameCase {
    const wchar_t* name;
    std::int32_t com;
    std::int32_t lpt;
};

void checkPortNames(Checks& checks, const DriverUtil& u) {
    constexpr NameCase kCases[] = {
        {L"COM1:", 1, 0},  {L"com3:", 1, 0},     {L"com12:", 1, 0},     {L"COMPUTER:", 1, 0}, {L"COM1", 0, 0},
        {L"LPT1:", 0, 1},  {L"lpt2:", 0, 1},     {L"LPT1", 0, 0},       {L"USB PORT:", 0, 0}, {L"FILE:", 0, 0},
        {L"CO:", 0, 0},    {L"", 0, 0},          {L"COM1:x", 0, 0},     {L"xCOM1:", 0, 0},
    };
    for (const NameCase& c : kCases) {
        const std::int32_t com = u.isCOM(u16(c.name));
        const std::int32_t lpt = u.isLPT(u16(c.name));
        checks.expect(com == c.com && lpt == c.lpt, "isCOM/isLPT(" + shown(c.name) + ")",
                      number(com) + "/" + number(lpt));
    }

    struct MatchCase {
        const wchar_t* text;
        std::int32_t match;
    };
    constexpr MatchCase kMatches[] = {{L"HX-352", 1}, {L"hx-352", 1}, {L"Hx-352", 1}, {L"HX-352 ", 0},
                                      {L"HX-35", 0},  {L"HX352", 0},  {L"", 0}};
    for (const MatchCase& c : kMatches) {
        const std::int32_t match = u.isMatch(u16(c.text));
        checks.expect(match == c.match, "isMatch(" + shown(c.text) + ")", number(match));
    }
}

void checkQuotation(Checks& checks, const DriverUtil& u) {
    constexpr const wchar_t* kTexts[] = {L"", L"C:\\Program Files\\HX-352\\HX-352.INF", L"\"", L"a b"};
    for (const wchar_t* text : kTexts) {
        const std::wstring want = std::wstring(L"\"") + text + L"\"";
        std::array<wchar_t, 64> destination;
        destination.fill(L'#');
        const std::uint16_t* three = u.AddDoubleQuotations3Str(u16(destination.data()), u16(text));
        checks.expect(three == u16(destination.data()) && destination.data() == want &&
                          destination[want.size() + 1] == L'#',
                      "AddDoubleQuotations3Str(" + shown(text) + ")", shown(destination.data()));

        std::array<wchar_t, 64> buffer;
        buffer.fill(L'#');
        std::wcscpy(buffer.data(), text);
        const std::uint16_t* two = u.AddDoubleQuotations2Str(u16(buffer.data()));
        checks.expect(two == u16(buffer.data()) && buffer.data() == want && buffer[want.size() + 1] == L'#',
                      "AddDoubleQuotations2Str(" + shown(text) + ")", shown(buffer.data()));
    }
}

// Wine's spooler offers COM1:-COM4:, LPT1:-LPT3: and FILE: through its one
// monitor, "Local Port".
void checkPortEnumeration(Checks& checks, const DriverUtil& u) {
    std::uint32_t count = 12345;
    HXPortInfo2W* ports = u.enumPrinterPorts(&count);
    const std::vector<std::wstring> spooler = portNames();
    checks.expect(ports != nullptr && count == spooler.size(), "enumPrinterPorts counts the spooler's ports",
                  number(count) + " of " + number(static_cast<std::int64_t>(spooler.size())));
    if (!ports) return;
    std::vector<std::wstring> names;
    for (std::uint32_t i = 0; i < count; ++i) {
        names.emplace_back(ports[i].pPortName ? wide(ports[i].pPortName) : L"(null)");
    }
    checks.expect(names == spooler, "enumPrinterPorts lists the spooler's ports in its order", shown(names));
    for (const wchar_t* port : {L"COM1:", L"COM2:", L"COM3:", L"COM4:", L"LPT1:", L"LPT2:", L"LPT3:", L"FILE:"}) {
        checks.expect(contains(names, port), "enumPrinterPorts lists " + shown(port), shown(names));
    }
    u.ReleasePortInfo(ports);
    u.ReleasePortInfo(nullptr);
}

void checkSpoolerMemory(Checks& checks, const DriverUtil& u) {
    for (const wchar_t* text : {L"", L"USB PORT:", L"HX-352"}) {
        std::uint16_t* copy = u.AllocSplStr(u16(text));
        const SIZE_T size = copy ? ::GlobalSize(copy) : 0;
        const SIZE_T want = (std::wcslen(text) + 1) * sizeof(wchar_t);
        checks.expect(copy && size == want && std::wcscmp(wide(copy), text) == 0,
                      "AllocSplStr(" + shown(text) + ") gives a block of exactly the string",
                      copy ? number(static_cast<std::int64_t>(size)) + " bytes" : "null");
        if (copy) checks.expect(u.FreeSplStr(copy) == 1, "FreeSplStr of a string block", "0");
    }
    checks.expect(u.AllocSplStr(nullptr) == nullptr, "AllocSplStr(null) gives null", "a block");

    constexpr std::uint32_t kSize = 100;
    auto* block = static_cast<std::uint8_t*>(u.AllocSplMem(kSize));
    const bool zero = block && std::all_of(block, block + kSize, [](std::uint8_t b) { return b == 0; });
    checks.expect(zero && ::GlobalSize(block) == kSize, "AllocSplMem(100) gives 100 zero bytes",
                  block ? number(static_cast<std::int64_t>(::GlobalSize(block))) + " bytes" : "null");
    if (block) {
        std::memset(block, 0x5A, kSize);
        checks.expect(u.FreeSplMem(block) == 1, "FreeSplMem of a memory block", "0");
    }
}

// The port settings exports open windows: the tier runs them only on the
// display that run.sh starts, never headless.
bool displayAvailable() {
    std::array<wchar_t, 64> value{};
    return ::GetEnvironmentVariableW(L"DISPLAY", value.data(), static_cast<DWORD>(value.size())) > 0;
}

// What the dialog procedure that configLPT runs was handed.
struct LptDialogSeen {
    int initialised = 0;
    std::wstring portName;
    std::int32_t timeoutSeconds = -1;
};
LptDialogSeen g_lptSeen;

// Ends the dialog as soon as it is set up, so that nothing waits for a user.
std::intptr_t lptDialogProc(void* window, std::uint32_t message, std::uintptr_t, std::intptr_t lParam) {
    if (message == WM_INITDIALOG) {
        ++g_lptSeen.initialised;
        const auto* param = reinterpret_cast<const LPTDialogParam*>(lParam);
        if (param) {
            g_lptSeen.portName = param->portName ? wide(param->portName) : L"(null)";
            g_lptSeen.timeoutSeconds = param->timeoutSeconds;
        }
        ::EndDialog(static_cast<HWND>(window), IDOK);
        return TRUE;
    }
    if (message == WM_CLOSE) {
        ::EndDialog(static_cast<HWND>(window), IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

// The program's dialog template 201 stands in for the installer's.
constexpr std::int32_t kLptTemplate = 201;

// Without the time-out's key (a fresh prefix lacks it) no dialog is shown.
void checkLptWithoutKey(Checks& checks, const DriverUtil& u) {
    if (!displayAvailable()) {
        checks.expect(false, "configLPT needs the display run.sh provides", "no DISPLAY");
        return;
    }
    g_lptSeen = {};
    const std::int32_t result = u.configLPT(u16(L"LPT1:"), kLptTemplate, lptDialogProc);
    checks.expect(result == -1 && g_lptSeen.initialised == 0, "configLPT without the time-out key gives -1, no dialog",
                  number(result) + ", dialog set up " + number(g_lptSeen.initialised) + " times");
}

void checkLptDialog(Checks& checks, const DriverUtil& u) {
    if (!displayAvailable()) return;
    struct DialogCase {
        const wchar_t* port;
        std::int32_t templateId;
        const wchar_t* shownPort;
    };
    // Only the template identifier's low 16 bits count.
    for (const DialogCase& c : {DialogCase{L"LPT1:", kLptTemplate, L"LPT1"},
                                DialogCase{L"LPT2", kLptTemplate | 0x30000, L"LPT2"}}) {
        g_lptSeen = {};
        const std::int32_t result = u.configLPT(u16(c.port), c.templateId, lptDialogProc);
        checks.expect(result == 0 && g_lptSeen.initialised == 1 && g_lptSeen.portName == c.shownPort &&
                          g_lptSeen.timeoutSeconds == 90,
                      "configLPT(" + shown(c.port) + ", " + number(c.templateId) +
                          ") runs the caller's dialog with the port and the stored time-out",
                      number(result) + ", set up " + number(g_lptSeen.initialised) + " times, port " +
                          shown(g_lptSeen.portName) + ", time-out " + number(g_lptSeen.timeoutSeconds));
    }
}

// A serial port that does not exist: nothing is opened, nothing remembered.
// The settings dialog is not asked for, so no window can open.
void checkComWithoutDevice(Checks& checks, const DriverUtil& u) {
    void* owner = nullptr;
    void* saved = nullptr;
    const std::int32_t result = u.configCOM(u16(L"COM9:"), 9600, &owner, &saved, 0);
    checks.expect(result == -1 && saved == nullptr, "configCOM of a missing port gives -1 and remembers nothing",
                  number(result));
}

// The line settings a serial port has now, read through a handle of our own.
bool currentLine(const std::wstring& port, DCB* dcb) {
    const std::wstring device = L"\\\\.\\" + port;
    const HANDLE handle =
        ::CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    *dcb = DCB{};
    dcb->DCBlength = sizeof *dcb;
    const bool read = ::GetCommState(handle, dcb);
    ::CloseHandle(handle);
    return read;
}

bool setLine(const std::wstring& port, DWORD baudRate) {
    const std::wstring device = L"\\\\.\\" + port;
    const HANDLE handle =
        ::CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const bool set = ::GetCommState(handle, &dcb) && (dcb.BaudRate = baudRate, ::SetCommState(handle, &dcb));
    ::CloseHandle(handle);
    return set;
}

std::string line(const DCB& dcb) {
    return number(dcb.BaudRate) + " baud, " + number(dcb.ByteSize) + " bits, parity " + number(dcb.Parity) +
           ", stop " + number(dcb.StopBits);
}

// Closes the serial settings dialog of this process with Cancel once it shows.
class DialogCanceller {
public:
    DialogCanceller() : thread_(::CreateThread(nullptr, 0, run, this, 0, nullptr)) {}
    DialogCanceller(const DialogCanceller&) = delete;
    DialogCanceller& operator=(const DialogCanceller&) = delete;
    ~DialogCanceller() {
        stop_ = true;
        if (thread_) {
            ::WaitForSingleObject(thread_, 10000);
            ::CloseHandle(thread_);
        }
    }
    [[nodiscard]] bool cancelled() const { return cancelled_; }

private:
    static BOOL CALLBACK cancelIfDialog(HWND window, LPARAM self) {
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        std::array<wchar_t, 16> className{};
        ::GetClassNameW(window, className.data(), static_cast<int>(className.size()));
        if (process != ::GetCurrentProcessId() || std::wcscmp(className.data(), L"#32770") != 0 ||
            !::IsWindowVisible(window))
            return TRUE;
        ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        reinterpret_cast<DialogCanceller*>(self)->cancelled_ = true;
        return FALSE;
    }
    static DWORD WINAPI run(void* self) {
        auto* canceller = static_cast<DialogCanceller*>(self);
        for (int i = 0; i < 200 && !canceller->stop_ && !canceller->cancelled_; ++i) {
            ::Sleep(50);
            ::EnumWindows(cancelIfDialog, reinterpret_cast<LPARAM>(canceller));
        }
        return 0;
    }

    volatile bool stop_ = false;
    volatile bool cancelled_ = false;
    HANDLE thread_;
};

// A pseudo-terminal behind the port stands in for a serial device: it keeps
// the line settings between opens. run.sh sets it to 4800 baud before the run.
void checkComOnDevice(Checks& checks, const DriverUtil& u, const std::string& serialPort) {
    if (serialPort.empty()) {
        checks.expect(false, "configCOM needs the serial port run.sh provides", "no --serial");
        return;
    }
    const std::wstring port(serialPort.begin(), serialPort.end());
    DCB before{};
    checks.expect(currentLine(port, &before) && before.BaudRate == 4800, "set-up: " + serialPort + " at 4800 baud",
                  line(before));

    // Baud argument 9600 on a slower device: the default settings.
    void* owner = nullptr;
    void* saved = nullptr;
    const std::wstring name = port + L":";
    const std::int32_t first = u.configCOM(u16(name.c_str()), 9600, &owner, &saved, 0);
    DCB applied{};
    const bool readBack = currentLine(port, &applied);
    checks.expect(first == 0 && readBack && applied.BaudRate == 9600 && applied.ByteSize == 8 &&
                      applied.Parity == NOPARITY && applied.StopBits == ONESTOPBIT,
                  "configCOM gives a 4800-baud device the default settings", number(first) + ", " + line(applied));
    const auto* remembered = static_cast<const DCB*>(saved);
    checks.expect(remembered && remembered->DCBlength == sizeof(DCB) && remembered->BaudRate == 9600 &&
                      remembered->fBinary == 1 && remembered->fDtrControl == DTR_CONTROL_ENABLE &&
                      remembered->XonLim == 2048 && remembered->XoffLim == 512 && remembered->ByteSize == 8 &&
                      remembered->XonChar == 0x11 && remembered->XoffChar == 0x13,
                  "configCOM remembers the default settings", remembered ? line(*remembered) : "nothing");
    if (!remembered) return;

    // With settings remembered, those are applied; the device's own are not read.
    auto* block = static_cast<DCB*>(saved);
    block->BaudRate = 19200;
    const std::int32_t second = u.configCOM(u16(port.c_str()), 9600, &owner, &saved, 0);
    checks.expect(second == 0 && saved == block && currentLine(port, &applied) && applied.BaudRate == 19200,
                  "configCOM applies the remembered settings", number(second) + ", " + line(applied));

    // Another baud argument never brings the defaults.
    void* fresh = nullptr;
    setLine(port, 4800);
    const std::int32_t other = u.configCOM(u16(name.c_str()), 19200, &owner, &fresh, 0);
    const auto* kept = static_cast<const DCB*>(fresh);
    checks.expect(other == 0 && kept && kept->BaudRate == 4800 && currentLine(port, &applied) &&
                      applied.BaudRate == 4800,
                  "configCOM with another baud argument keeps the device's settings",
                  number(other) + ", " + line(applied));

    // The settings dialog, cancelled: the settings prepared before it still apply.
    if (!displayAvailable()) {
        checks.expect(false, "configCOM's dialog needs the display run.sh provides", "no DISPLAY");
        return;
    }
    void* dialogSlot = nullptr;
    setLine(port, 4800);
    std::int32_t dialogResult = -2;
    bool cancelled = false;
    {
        const DialogCanceller canceller;
        dialogResult = u.configCOM(u16(name.c_str()), 9600, &owner, &dialogSlot, 1);
        cancelled = canceller.cancelled();
    }
    const auto* afterDialog = static_cast<const DCB*>(dialogSlot);
    checks.expect(dialogResult == 0 && cancelled && afterDialog && afterDialog->BaudRate == 9600 &&
                      currentLine(port, &applied) && applied.BaudRate == 9600,
                  "configCOM applies its settings when the dialog is cancelled",
                  number(dialogResult) + (cancelled ? ", dialog cancelled, " : ", no dialog seen, ") + line(applied));
}

// The time-out key exists on Windows but not in a Wine prefix; the set-up
// creates it, so that the registry exports have their real key to work on.
void checkRegistryStrings(Checks& checks, const DriverUtil& u) {
    constexpr const wchar_t* kMissingKey = L"SOFTWARE\\HX352 Wine Tests\\Missing";
    constexpr const wchar_t* kValue = L"TransmissionRetryTimeout";

    std::array<wchar_t, 260> buffer;
    buffer.fill(L'k');
    buffer[4] = L'\0';
    checks.expect(u.getRegStr(u16(kMissingKey), u16(kValue), u16(buffer.data())) == 0 &&
                      std::wcscmp(buffer.data(), L"kkkk") == 0,
                  "getRegStr under a missing key gives 0 and leaves the buffer", shown(buffer.data()));
    checks.expect(u.setRegStr(u16(kMissingKey), u16(kValue), u16(L"45")) == 0 && !keyExists(kMissingKey),
                  "setRegStr under a missing key gives 0 and creates nothing", "a key");

    HKEY created = nullptr;
    const LSTATUS made =
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kWindowsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created, nullptr);
    checks.expect(made == ERROR_SUCCESS, "set-up: the key of the time-out", number(made));
    if (made != ERROR_SUCCESS) return;
    ::RegCloseKey(created);

    checks.expect(u.setRegStr(u16(kWindowsKey), u16(kValue), u16(L"90")) == 1, "setRegStr gives 1", "0");
    bool found = false;
    const std::wstring stored = registryString(kWindowsKey, kValue, &found);
    checks.expect(found && stored == L"90", "setRegStr stores the string", shown(stored));

    buffer.fill(L'k');
    const std::int32_t read = u.getRegStr(u16(kWindowsKey), u16(kValue), u16(buffer.data()));
    checks.expect(read == 1 && std::wcscmp(buffer.data(), L"90") == 0, "getRegStr reads it back",
                  number(read) + ", " + shown(buffer.data()));

    checks.expect(u.setRegStr(u16(kWindowsKey), u16(kValue), nullptr) == 1 &&
                      registryString(kWindowsKey, kValue) == L"90",
                  "setRegStr of null gives 1 and writes nothing", shown(registryString(kWindowsKey, kValue)));

    checks.expect(u.setRegStr(u16(kWindowsKey), u16(L"HX352 Empty"), u16(L"")) == 1, "setRegStr of an empty string",
                  "0");
    buffer.fill(L'k');
    const std::int32_t empty = u.getRegStr(u16(kWindowsKey), u16(L"HX352 Empty"), u16(buffer.data()));
    checks.expect(empty == 1 && buffer[0] == L'\0', "getRegStr of an empty string value", shown(buffer.data()));
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kWindowsKey, L"HX352 Empty");

    buffer.fill(L'k');
    buffer[4] = L'\0';
    const std::int32_t missing = u.getRegStr(u16(kWindowsKey), u16(L"HX352 Missing"), u16(buffer.data()));
    checks.expect(missing == 1 && std::wcscmp(buffer.data(), L"kkkk") == 0,
                  "getRegStr of a missing value gives 1 and leaves the buffer", shown(buffer.data()));
}

struct TempFiles {
    std::wstring directory = tempDirectory() + L"\\hx352-driverutil";
    TempFiles() { ::CreateDirectoryW(directory.c_str(), nullptr); }
    [[nodiscard]] std::wstring path(const wchar_t* name) const { return directory + L"\\" + name; }
};

std::string ansi(const std::wstring& path) {
    const int size = ::WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, bytes.data(), size, nullptr, nullptr);
    bytes.resize(std::strlen(bytes.c_str()));
    return bytes;
}

// The streams are the C runtime's (msvcrt), which the library shares.
class Stream {
public:
    Stream(const std::wstring& path, const char* mode) : file_(std::fopen(ansi(path).c_str(), mode)) {}
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    ~Stream() {
        if (file_) std::fclose(file_);
    }
    [[nodiscard]] FILE* get() const { return file_; }

private:
    FILE* file_;
};

void checkFiles(Checks& checks, const DriverUtil& u, const TempFiles& temp) {
    const std::wstring present = temp.path(L"present.txt");
    checks.expect(writeFile(present, "x"), "set-up: a file", number(::GetLastError()));
    struct ExistCase {
        std::wstring path;
        std::int32_t result;
    };
    for (const ExistCase& c : {ExistCase{present, 1}, ExistCase{temp.directory, 1},
                               ExistCase{temp.path(L"absent.txt"), 0}, ExistCase{L"Q:\\nowhere\\absent.txt", 0}}) {
        const std::int32_t result = u.FileIsExist(u16(c.path.c_str()));
        checks.expect(result == c.result, "FileIsExist(" + shown(c.path) + ")", number(result));
    }

    struct ReadCase {
        const char* what;
        std::string contents;
        const char* mode;
        std::int32_t request;
        std::int32_t endOfFile;
        std::string yielded;  // what lands in the buffer
    };
    const std::string page(8192, 'A');
    std::string long20000(20000, '\0');
    for (std::size_t i = 0; i < long20000.size(); ++i) long20000[i] = static_cast<char>('a' + i % 26);
    const std::vector<ReadCase> cases = {
        {"exactly the 8192 bytes there are", page, "rb", 8192, 0, page},
        {"one byte more than there is", page, "rb", 8193, 1, page},
        {"20000 bytes in chunks and a remainder", long20000, "rb", 20000, 0, long20000},
        {"3 bytes of 20000", long20000, "rb", 3, 0, long20000.substr(0, 3)},
        {"nothing", page, "rb", 0, 0, ""},
        // Text mode turns each CR-LF into one character, so the size in bytes
        // asks for more than the stream yields.
        {"a CR-LF text in text mode", "ab\r\ncd\r\n", "r", 8, 1, "ab\ncd\n"},
        {"a CR-LF text in binary mode", "ab\r\ncd\r\n", "rb", 8, 0, "ab\r\ncd\r\n"},
    };
    for (const ReadCase& c : cases) {
        const std::wstring path = temp.path(L"read.bin");
        if (!writeFile(path, c.contents)) {
            checks.expect(false, std::string("set-up: file for myFileRead ") + c.what, number(::GetLastError()));
            continue;
        }
        const Stream stream(path, c.mode);
        constexpr char kUntouched = '\x7F';
        std::vector<char> buffer(static_cast<std::size_t>(c.request) + 16, kUntouched);
        const std::int32_t result = stream.get() ? u.myFileRead(buffer.data(), c.request, stream.get()) : -1;
        // A read that ran into the end may have left anything after the text.
        const bool complete = static_cast<std::size_t>(c.request) == c.yielded.size();
        const bool bytes = std::equal(c.yielded.begin(), c.yielded.end(), buffer.begin()) &&
                           (!complete || buffer[c.yielded.size()] == kUntouched);
        checks.expect(result == c.endOfFile && bytes, std::string("myFileRead of ") + c.what,
                      number(result) + (bytes ? "" : ", other bytes"));
    }

    struct LengthCase {
        const char* what;
        std::string contents;
    };
    for (const LengthCase& c : {LengthCase{"an empty file", ""}, LengthCase{"a file of 8193 bytes", page + "B"},
                                LengthCase{"a CR-LF text", "ab\r\ncd\r\n"}}) {
        const std::wstring path = temp.path(L"length.bin");
        if (!writeFile(path, c.contents)) continue;
        const Stream stream(path, "rb");
        if (stream.get()) std::fgetc(stream.get());
        const std::int64_t length = stream.get() ? u.GetFileLen(stream.get()) : -2;
        const long position = stream.get() ? std::ftell(stream.get()) : -2;
        checks.expect(length == static_cast<std::int64_t>(c.contents.size()) && position == 0,
                      std::string("GetFileLen of ") + c.what + " leaves the stream at its start",
                      number(length) + " bytes, at " + number(position));
    }
}

void checkCopyDirFiles(Checks& checks, const DriverUtil& u, const TempFiles& temp) {
    const std::wstring from = temp.path(L"from");
    const std::wstring to = temp.path(L"to");
    ::CreateDirectoryW(from.c_str(), nullptr);
    const bool made = writeFile(from + L"\\one.txt", "first") && writeFile(from + L"\\two.bin", std::string(3000, 'z'));
    checks.expect(made, "set-up: files to copy", number(::GetLastError()));
    // Both lists end in the extra terminator the shell's operation needs.
    const std::wstring source = from + L"\\*" + L'\0';
    const std::wstring target = to + L'\0';
    const std::int32_t copied = u.copyDirFiles(u16(target.c_str()), u16(source.c_str()));
    checks.expect(copied == 1 && readFile(to + L"\\one.txt") == "first" &&
                      readFile(to + L"\\two.bin") == std::string(3000, 'z'),
                  "copyDirFiles copies a directory's files into a new directory", number(copied));
    // Wine's shell reports success for a source that does not exist, where
    // Windows fails; that outcome is not checked here.
}

void checkConversion(Checks& checks, const DriverUtil& u, const Expectations& expected) {
    struct ConversionCase {
        const char* utf8;
        std::string english;
        std::string chinese;  // the system's ANSI code page: 1252, or 936
    };
    const ConversionCase cases[] = {
        {"HX-352", "HX-352", "HX-352"},
        {"", "", ""},
        {"\xE7\xBC\xBA\xE7\xBA\xB8", "??", "\xC8\xB1\xD6\xBD"},
        {"caf\xC3\xA9", "caf\xE9", "caf\xA8\xA6"},
    };
    for (const ConversionCase& c : cases) {
        char* converted = u.UTF8_To_string(c.utf8);
        const std::string& want = expected.chineseSystem ? c.chinese : c.english;
        checks.expect(converted && want == converted,
                      std::string("UTF8_To_string(\"") + c.utf8 + "\") in the ANSI code page",
                      converted ? std::string(converted) : std::string("null"));
        u.ReleasePortInfo(converted);
    }
}

void checkDriverDirectory(Checks& checks, const DriverUtil& u) {
    struct DirectoryCase {
        std::int32_t flag;
        const wchar_t* tail;
    };
    const std::wstring root = lower(systemDirectory()) + L"\\spool\\drivers\\";
    for (const DirectoryCase& c : {DirectoryCase{1, L"x64"}, DirectoryCase{0, L"w32x86"}, DirectoryCase{5, L"x64"}}) {
        std::uint16_t* directory = u.getPrinterDriverDir(c.flag);
        const std::wstring seen = directory ? lower(wide(directory)) : L"";
        checks.expect(seen == root + c.tail, "getPrinterDriverDir(" + number(c.flag) + ")",
                      directory ? shown(wide(directory)) : "null");
        u.ReleasePortInfo(directory);
    }
}

// A fresh prefix has no printers.
void checkPrinters(Checks& checks, const DriverUtil& u) {
    void* block = reinterpret_cast<void*>(1);
    std::uint32_t count = 77;
    const std::int32_t listed = u.enumLocalPrinters(&block, &count);
    checks.expect(listed == 0 && block == reinterpret_cast<void*>(1) && count == 77,
                  "enumLocalPrinters without printers gives 0 and sets nothing", number(listed));

    struct CountCase {
        const wchar_t* driver;
        const wchar_t* prefix;
        std::int32_t count;
    };
    for (const CountCase& c : {CountCase{L"HX-352", L"HX", -1}, CountCase{L"HX-352", nullptr, -1},
                               CountCase{L"HX-352", L"", 0}, CountCase{L"", L"HX", -1}}) {
        const std::int32_t found = u.getSpecifiedPrinterCount(u16(c.driver), c.prefix ? u16(c.prefix) : nullptr);
        checks.expect(found == c.count,
                      "getSpecifiedPrinterCount(" + shown(c.driver) + ", " + shown(c.prefix) + ") without printers",
                      number(found));
    }
}

// Whether the token holds the privilege, and its attributes when it does.
bool tokenPrivilege(HANDLE token, const wchar_t* name, DWORD* attributes) {
    LUID luid{};
    if (!::LookupPrivilegeValueW(nullptr, name, &luid)) return false;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (!::GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size)) return false;
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID& held = privileges->Privileges[i].Luid;
        if (held.LowPart == luid.LowPart && held.HighPart == luid.HighPart) {
            *attributes = privileges->Privileges[i].Attributes;
            return true;
        }
    }
    return false;
}

void checkPrivilege(Checks& checks, const DriverUtil& u) {
    HANDLE token = nullptr;
    const bool opened = ::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token);
    checks.expect(opened, "set-up: the process token", number(::GetLastError()));
    if (!opened) return;

    const std::int32_t unknown = u._SetPrivilege(token, u16(L"SeHx352WineTestPrivilege"), 1);
    checks.expect(unknown == 0, "_SetPrivilege of an unknown privilege gives 0", number(unknown));

    const std::int32_t enabled = u._SetPrivilege(token, u16(L"SeDebugPrivilege"), 1);
    DWORD attributes = 0;
    const bool held = tokenPrivilege(token, L"SeDebugPrivilege", &attributes);
    checks.expect(enabled == 1 && held && (attributes & SE_PRIVILEGE_ENABLED) != 0,
                  "_SetPrivilege enables SeDebugPrivilege", number(enabled) + ", attributes " + number(attributes));

    const std::int32_t removed = u._SetPrivilege(token, u16(L"SeDebugPrivilege"), 0);
    const bool stillHeld = tokenPrivilege(token, L"SeDebugPrivilege", &attributes);
    checks.expect(removed == 1 && !stillHeld, "_SetPrivilege switching SeDebugPrivilege off removes it",
                  number(removed) + (stillHeld ? ", attributes " + number(attributes) : ", gone"));
    // Only the adjustment call's own result counts, also for a privilege the
    // token no longer holds.
    const std::int32_t again = u._SetPrivilege(token, u16(L"SeDebugPrivilege"), 1);
    const bool back = tokenPrivilege(token, L"SeDebugPrivilege", &attributes);
    checks.expect(again == 1 && !back, "_SetPrivilege cannot bring a removed privilege back, and gives 1",
                  number(again) + (back ? ", held again" : ", still gone"));
    ::CloseHandle(token);
}

// The stand-in monitor's files lie beside this program, where the installation
// takes them from; without a printer it must not get that far. Wine shows no
// USB device, so an installation past the connection check (monitor files,
// monitor, port, firmware query, device and driver) cannot run here; the
// monitor and port registration it would make is shown with the stand-in below.
void checkInstallationWithoutPrinter(Checks& checks, const DriverUtil& u) {
    const std::wstring program = programDirectory();
    for (const wchar_t* file : kMonitorFiles) {
        checks.expect(exists(program + L"\\" + file), "set-up: " + shown(file) + " beside the program", "absent");
    }
    const SystemState before;
    const std::int32_t result = u.HX352InstallDriver(nullptr);
    const SystemState after;
    checks.expect(result == HX_INSTALL_PRINTER_NOT_CONNECTED, "HX352InstallDriver without a printer gives 7",
                  number(result));
    checks.expect(after == before, "HX352InstallDriver without a printer changes nothing", describe(after));
    checks.expect(!contains(after.monitors, L"USB Printer Monitor") && !contains(after.ports, L"USB PORT:"),
                  "no USB monitor or port after the refused installation", describe(after));

    const std::int32_t update = u.HX352UpdateDriver();
    const std::int32_t check = u.HX352CheckDriverV();
    checks.expect(update == HX_FUNCTION_NOT_IMPLEMENTED && check == HX_FUNCTION_NOT_IMPLEMENTED,
                  "HX352UpdateDriver and HX352CheckDriverV give 60", number(update) + ", " + number(check));
    checks.expect(SystemState() == before, "HX352UpdateDriver and HX352CheckDriverV change nothing", "a change");
}

// An OEM INF naming the printer's hardware ID in ANSI with CR-LF lines, as the
// driver update leaves one, and one for another device.
struct OemInfs {
    std::wstring directory = systemDirectory().substr(0, systemDirectory().rfind(L'\\')) + L"\\inf";
    std::wstring ours = directory + L"\\oem90.inf";
    std::wstring other = directory + L"\\oem91.inf";
    [[nodiscard]] bool create() const {
        ::CreateDirectoryW(directory.c_str(), nullptr);
        return writeFile(ours,
                         "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Printer\r\n\r\n[Models]\r\n"
                         "\"HX-352\" = HX352, USBPRINT\\HX-35290EE\r\n") &&
               writeFile(other, "[Version]\r\nSignature=\"$Windows NT$\"\r\n\r\n[Models]\r\n"
                                "\"Other\" = Other, USBPRINT\\OTHER0000\r\n");
    }
};

// Removal with no driver installed: the first steps still happen (the language
// monitor is switched off, the printer's OEM INF deleted, the spooler restarted),
// then the driver deletion fails twice.
void checkRemovalWithoutDriver(Checks& checks, const DriverUtil& u) {
    const OemInfs infs;
    checks.expect(infs.create(), "set-up: two OEM INF files", number(::GetLastError()));
    checks.expect(setRegistryString(kLanguageMonitorKey, L"Driver", L"hx352lm.dll"),
                  "set-up: the language monitor's key", number(::GetLastError()));
    const DWORD stateBefore = spoolerState();

    const Stopwatch stopwatch;
    const std::int32_t result = u.uninstall();
    const std::int64_t elapsed = stopwatch.elapsedMilliseconds();
    checks.expect(result == HX_UNINSTALL_DELETE_DRIVER_FAILED, "uninstall without the driver gives 6", number(result));
    // Two restarts of the spooler, each with two 1000 ms pauses.
    checks.expect(elapsed >= 3900 && elapsed < 60000, "uninstall restarts the spooler twice",
                  number(elapsed) + " ms");

    const DWORD state = spoolerState();
    checks.expect(state == SERVICE_RUNNING, "the spooler runs again after the removal",
                  serviceState(stateBefore) + " before, " + serviceState(state) + " after");
    checks.expect(registryString(kLanguageMonitorKey, L"Driver") == L"NULL",
                  "uninstall switches the language monitor off", shown(registryString(kLanguageMonitorKey, L"Driver")));
    checks.expect(!exists(infs.ours) && exists(infs.other), "uninstall deletes only the printer's OEM INF",
                  std::string(exists(infs.ours) ? "ours kept" : "ours deleted") +
                      (exists(infs.other) ? ", other kept" : ", other deleted"));
}

// The spooler state for the rest of the run: the stand-in monitor copied into
// the system directory and registered, as the installation does it with the
// printer attached, and the USB port added through it.
bool registerStandInMonitor(Checks& checks) {
    platform::Platform& platform = platform::defaultPlatform();
    for (const wchar_t* file : kMonitorFiles) {
        const std::wstring target = systemDirectory() + L"\\" + file;
        checks.expect(::CopyFileW((programDirectory() + L"\\" + file).c_str(), target.c_str(), FALSE),
                      "set-up: " + shown(file) + " copied to the system directory", number(::GetLastError()));
    }
    platform::MonitorInfo2 monitor{const_cast<char16_t*>(u"USB Printer Monitor"),
                                   const_cast<char16_t*>(u"Windows x64"),
                                   const_cast<char16_t*>(u"VelmorUSBMon.dll")};
    const bool added = platform.spooler.addMonitor(nullptr, 2, &monitor);
    checks.expect(added, "Spooler::addMonitor registers the stand-in monitor",
                  number(platform.lastError.getLastError()));
    const bool again = platform.spooler.addMonitor(nullptr, 2, &monitor);
    const std::uint32_t againError = platform.lastError.getLastError();
    checks.expect(!again && againError == platform::win::kErrorPrintMonitorAlreadyInstalled,
                  "Spooler::addMonitor of a registered monitor fails 3006", number(againError));
    if (!added) return false;

    const platform::Handle winspool = platform.libraries.loadLibrary(u"winspool.drv");
    const platform::Procedure addPortExA =
        winspool ? platform.libraries.getProcAddress(winspool, "AddPortExA") : nullptr;
    checks.expect(addPortExA != nullptr, "winspool.drv exports AddPortExA", "not found");
    if (addPortExA) {
        platform::PortInfo1A port{const_cast<char*>("USB PORT:")};
        const bool portAdded = platform.spooler.callAddPortExA(addPortExA, nullptr, 1, &port, "USB Printer Monitor");
        checks.expect(portAdded, "Spooler::callAddPortExA reaches the monitor's AddPortEx",
                      number(platform.lastError.getLastError()));
    }
    if (winspool) platform.libraries.freeLibrary(winspool);
    return true;
}

void checkMonitorList(Checks& checks, const DriverUtil& u) {
    MonitorList list{};
    const std::int32_t listed = u.getMonitors(&list);
    checks.expect(listed == 1 && list.count == 1 &&
                      std::wcscmp(wide(list.names[0]), L"USB Printer Monitor") == 0,
                  "getMonitors finds the registered USB monitor",
                  number(listed) + ", count " + number(list.count) + ", " + shown(wide(list.names[0])));

    const std::int32_t again = u.getMonitors(&list);
    checks.expect(again == 1 && list.count == 2 && std::wcscmp(wide(list.names[1]), L"USB Printer Monitor") == 0,
                  "getMonitors appends to a list it is given uncleared", "count " + number(list.count));

    MonitorList full{};
    full.count = 8;
    const std::int32_t onFull = u.getMonitors(&full);
    checks.expect(onFull == 1 && full.count == 8 && full.names[0][0] == 0, "getMonitors adds nothing to a full list",
                  "count " + number(full.count));

    std::uint32_t count = 0;
    HXPortInfo2W* ports = u.enumPrinterPorts(&count);
    bool usbPort = false;
    for (std::uint32_t i = 0; ports && i < count; ++i) {
        usbPort = usbPort || (ports[i].pPortName && std::wcscmp(wide(ports[i].pPortName), L"USB PORT:") == 0 &&
                              ports[i].pMonitorName &&
                              std::wcscmp(wide(ports[i].pMonitorName), L"USB Printer Monitor") == 0);
    }
    checks.expect(usbPort, "enumPrinterPorts lists the USB port of the USB monitor", number(count) + " ports");
    u.ReleasePortInfo(ports);
}

// A whole removal with the driver installed: the spooler takes a made-up
// driver without files, so removal has something to delete.
void checkRemovalWithDriver(Checks& checks, const DriverUtil& u) {
    DRIVER_INFO_3W driver{};
    driver.cVersion = 3;
    driver.pName = const_cast<wchar_t*>(L"HX-352");
    driver.pEnvironment = const_cast<wchar_t*>(L"Windows x64");
    driver.pDriverPath = const_cast<wchar_t*>(L"hx352drv.dll");
    driver.pDataFile = const_cast<wchar_t*>(L"hx352.gpd");
    driver.pConfigFile = const_cast<wchar_t*>(L"hx352ui.dll");
    const bool added = ::AddPrinterDriverW(nullptr, 3, reinterpret_cast<BYTE*>(&driver));
    checks.expect(added && contains(driverNames(), L"HX-352"), "set-up: the HX-352 printer driver",
                  number(::GetLastError()));
    if (!added) return;

    const std::int32_t result = u.HX352UninstallDriver();
    const SystemState after;
    checks.expect(result == HX_INSTALL_SUCCESS, "HX352UninstallDriver with the driver installed gives 0",
                  number(result));
    checks.expect(!contains(after.drivers, L"HX-352"), "the removal deletes the driver", describe(after));
    checks.expect(!contains(after.monitors, L"USB Printer Monitor") && !keyExists(kUsbMonitorKey),
                  "the removal deletes the USB monitor and its key", describe(after));
    checks.expect(std::none_of(after.monitorFiles.begin(), after.monitorFiles.end(), [](bool f) { return f; }),
                  "the removal deletes both monitor files", describe(after));
    checks.expect(spoolerState() == SERVICE_RUNNING, "the spooler runs after the removal",
                  serviceState(spoolerState()));
}

}  // namespace

void runDriverUtilChecks(Checks& checks, const Expectations& expected) {
    const HMODULE library = ::LoadLibraryW(kLibraryName);
    checks.expect(library != nullptr, "HX-352DriverUtilDll.dll loads by name", number(::GetLastError()));
    if (!library) return;
    DriverUtil u;
    const std::string missing = resolveAll(library, u);
    checks.expect(missing.empty(), "every export resolves by name", "missing:" + missing);
    if (!missing.empty()) return;
    checkExportTable(checks, library);

    checkSystemInformation(checks, u, expected);
    checkPortNames(checks, u);
    checkQuotation(checks, u);
    checkPortEnumeration(checks, u);
    checkSpoolerMemory(checks, u);
    checkComWithoutDevice(checks, u);
    checkComOnDevice(checks, u, expected.serialPort);
    checkLptWithoutKey(checks, u);
    checkRegistryStrings(checks, u);
    const TempFiles temp;
    checkFiles(checks, u, temp);
    checkCopyDirFiles(checks, u, temp);
    checkConversion(checks, u, expected);
    checkDriverDirectory(checks, u);
    checkPrinters(checks, u);
    checkPrivilege(checks, u);

    // Wine's only monitor, "Local Port", is neither a TCP/IP nor the USB monitor.
    MonitorList none{};
    const std::int32_t listed = u.getMonitors(&none);
    checks.expect(listed == 1 && none.count == 0, "getMonitors on Wine's monitors finds none",
                  number(listed) + ", count " + number(none.count));

    checkInstallationWithoutPrinter(checks, u);
    checkRemovalWithoutDriver(checks, u);
    if (registerStandInMonitor(checks)) {
        checkMonitorList(checks, u);
        checkRemovalWithDriver(checks, u);
    }
    checkLptDialog(checks, u);
    ::FreeLibrary(library);
}

}  // namespace hx::wine_tests
