// The Win32 platform layer's system interfaces (registry, services, libraries,
// token, files, global memory, system facts, spooler, device setup, shell,
// window layer) against the contracts written on them, on Wine's Windows.
// These checks leave the spooler's monitors, ports and drivers as they found them.
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/wine/checks.h"

namespace hx::wine_tests {
namespace {

using namespace hx::platform;

std::string number(std::int64_t value) { return std::to_string(value); }

const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

std::u16string lower(std::u16string_view text) {
    std::u16string folded(text);
    for (char16_t& unit : folded) unit = static_cast<char16_t>(std::towlower(unit));
    return folded;
}

std::u16string tempDirectory() {
    std::array<wchar_t, MAX_PATH + 1> buffer{};
    const DWORD length = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    std::u16string path(reinterpret_cast<const char16_t*>(buffer.data()), length);
    if (!path.empty() && path.back() == u'\\') path.pop_back();
    return path + u"\\hx352-platform";
}

void checkRegistry(Checks& checks, Registry& registry) {
    Handle missing = reinterpret_cast<Handle>(1);
    const std::int32_t missingStatus =
        registry.regOpenKeyEx(kHkeyLocalMachine, u"SOFTWARE\\HX352 Wine Tests\\Missing", 0, win::kKeyReadWrite,
                              &missing);
    checks.expect(missingStatus == static_cast<std::int32_t>(win::kErrorFileNotFound) && missing == nullptr,
                  "Registry::regOpenKeyEx of a missing key", number(missingStatus));

    HKEY created = nullptr;
    const LSTATUS made = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\HX352 Wine Tests\\Platform", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &created, nullptr);
    checks.expect(made == ERROR_SUCCESS, "set-up: a registry key", number(made));
    if (made != ERROR_SUCCESS) return;
    ::RegCloseKey(created);

    Handle key = nullptr;
    const std::int32_t opened =
        registry.regOpenKeyEx(kHkeyLocalMachine, u"SOFTWARE\\HX352 Wine Tests\\Platform", 0, win::kKeyReadWrite, &key);
    checks.expect(opened == 0 && key != nullptr, "Registry::regOpenKeyEx under HKEY_LOCAL_MACHINE", number(opened));
    if (opened != 0) return;

    const char16_t value[] = u"abc";
    const std::int32_t set = registry.regSetValueEx(key, u"Text", win::kRegSz,
                                                    reinterpret_cast<const std::uint8_t*>(value), sizeof value);
    checks.expect(set == 0, "Registry::regSetValueEx", number(set));

    std::array<std::uint8_t, 520> data{};
    std::uint32_t type = 0;
    std::uint32_t size = 4;
    const std::int32_t small = registry.regQueryValueEx(key, u"Text", &type, data.data(), &size);
    checks.expect(small == static_cast<std::int32_t>(win::kErrorMoreData) && size == sizeof value,
                  "Registry::regQueryValueEx into too small a buffer", number(small) + ", " + number(size) + " bytes");
    size = static_cast<std::uint32_t>(data.size());
    const std::int32_t read = registry.regQueryValueEx(key, u"Text", &type, data.data(), &size);
    checks.expect(read == 0 && type == win::kRegSz && size == sizeof value &&
                      std::memcmp(data.data(), value, sizeof value) == 0,
                  "Registry::regQueryValueEx reads the string", number(read) + ", type " + number(type));
    size = static_cast<std::uint32_t>(data.size());
    const std::int32_t absent = registry.regQueryValueEx(key, u"Absent", &type, data.data(), &size);
    checks.expect(absent == static_cast<std::int32_t>(win::kErrorFileNotFound),
                  "Registry::regQueryValueEx of a missing value", number(absent));
    const std::int32_t deleted = registry.regDeleteValue(key, u"Text");
    const std::int32_t again = registry.regDeleteValue(key, u"Text");
    checks.expect(deleted == 0 && again == static_cast<std::int32_t>(win::kErrorFileNotFound),
                  "Registry::regDeleteValue", number(deleted) + ", then " + number(again));
    checks.expect(registry.regCloseKey(key) == 0, "Registry::regCloseKey", "an error");

    Handle parent = nullptr;
    if (registry.regOpenKeyEx(kHkeyLocalMachine, u"SOFTWARE\\HX352 Wine Tests", 0, win::kKeyReadWrite, &parent) == 0) {
        const std::int32_t removed = registry.regDeleteKey(parent, u"Platform");
        HKEY gone = nullptr;
        const bool stillThere = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\HX352 Wine Tests\\Platform", 0,
                                                KEY_READ, &gone) == ERROR_SUCCESS;
        if (stillThere) ::RegCloseKey(gone);
        checks.expect(removed == 0 && !stillThere, "Registry::regDeleteKey", number(removed));
        registry.regCloseKey(parent);
    }
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\HX352 Wine Tests");
}

void checkServices(Checks& checks, Services& services, LastError& lastError) {
    const Handle manager = services.openScManager(nullptr, nullptr, win::kScManagerEnumerateService);
    checks.expect(manager != nullptr, "Services::openScManager", number(lastError.getLastError()));
    if (!manager) return;
    const Handle missing = services.openService(manager, u"HX352 No Such Service", win::kServiceAllAccess);
    const std::uint32_t missingError = lastError.getLastError();
    checks.expect(missing == nullptr && missingError == win::kErrorServiceDoesNotExist,
                  "Services::openService of a missing service", number(missingError));
    const Handle spooler = services.openService(manager, u"Spooler", win::kServiceAllAccess);
    checks.expect(spooler != nullptr, "Services::openService(\"Spooler\")", number(lastError.getLastError()));
    if (spooler) {
        ServiceStatus status{};
        const bool queried = services.queryServiceStatus(spooler, &status);
        checks.expect(queried && status.currentState >= win::kServiceStopped && status.currentState <= 7,
                      "Services::queryServiceStatus of the spooler", number(status.currentState));
        checks.expect(services.closeServiceHandle(spooler), "Services::closeServiceHandle of a service",
                      number(lastError.getLastError()));
    }
    checks.expect(services.closeServiceHandle(manager), "Services::closeServiceHandle of the manager",
                  number(lastError.getLastError()));
}

void checkLibraries(Checks& checks, Libraries& libraries, LastError& lastError) {
    const Handle kernel = libraries.loadLibrary(u"Kernel32.dll");
    checks.expect(kernel != nullptr, "Libraries::loadLibrary(\"Kernel32.dll\")", number(lastError.getLastError()));
    if (!kernel) return;
    checks.expect(libraries.getModuleHandle(u"kernel32") == kernel, "Libraries::getModuleHandle of a loaded module",
                  "another handle");
    checks.expect(libraries.getProcAddress(kernel, "GetNativeSystemInfo") != nullptr,
                  "Libraries::getProcAddress finds an export", "null");
    const Procedure absent = libraries.getProcAddress(kernel, "HX352NoSuchProcedure");
    const std::uint32_t absentError = lastError.getLastError();
    checks.expect(absent == nullptr && absentError == win::kErrorProcNotFound,
                  "Libraries::getProcAddress of a missing export", number(absentError));
    checks.expect(libraries.freeLibrary(kernel), "Libraries::freeLibrary", number(lastError.getLastError()));

    const Handle missing = libraries.loadLibrary(u"hx352-no-such-library.dll");
    const std::uint32_t missingError = lastError.getLastError();
    checks.expect(missing == nullptr && missingError == win::kErrorModNotFound,
                  "Libraries::loadLibrary of a missing library", number(missingError));
    checks.expect(libraries.getModuleHandle(u"hx352-no-such-library.dll") == nullptr,
                  "Libraries::getModuleHandle of a module not loaded", "a handle");

    std::array<char16_t, 260> path{};
    const std::uint32_t length = libraries.getModuleFileName(nullptr, path.data(), 259);
    const std::u16string_view name = terminated(path.data(), path.size());
    checks.expect(length == name.size() && lower(name).ends_with(u"\\hx352_wine_tests.exe"),
                  "Libraries::getModuleFileName of the program", quoted(path.data(), path.size()));
}

void checkToken(Checks& checks, Token& token, LastError& lastError) {
    Handle handle = nullptr;
    checks.expect(token.openProcessToken(win::kTokenAllAccess, &handle) && handle != nullptr,
                  "Token::openProcessToken", number(lastError.getLastError()));
    Luid luid{};
    LUID direct{};
    const bool found = token.lookupPrivilegeValue(nullptr, u"SeDebugPrivilege", &luid);
    ::LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &direct);
    checks.expect(found && luid.lowPart == direct.LowPart && luid.highPart == direct.HighPart,
                  "Token::lookupPrivilegeValue", number(lastError.getLastError()));
    Luid unknown{};
    const bool unknownFound = token.lookupPrivilegeValue(nullptr, u"SeHx352WineTestPrivilege", &unknown);
    const std::uint32_t unknownError = lastError.getLastError();
    checks.expect(!unknownFound && unknownError == win::kErrorNoSuchPrivilege,
                  "Token::lookupPrivilegeValue of an unknown privilege", number(unknownError));
    if (!handle) return;
    // Wine's token is elevated and holds the privilege.
    checks.expect(token.adjustTokenPrivilege(handle, luid, win::kSePrivilegeEnabled),
                  "Token::adjustTokenPrivilege enables a privilege", number(lastError.getLastError()));
    checks.expect(token.closeToken(handle), "Token::closeToken", number(lastError.getLastError()));
}

std::vector<std::u16string> search(Files& files, const std::u16string& pattern, std::vector<std::uint64_t>* sizes,
                                   std::uint32_t* endError, LastError& lastError) {
    std::vector<std::u16string> names;
    FindData data{};
    const Handle found = files.findFirstFile(pattern.c_str(), &data);
    if (found == kInvalidHandle) {
        *endError = lastError.getLastError();
        return names;
    }
    do {
        names.emplace_back(terminated(data.fileName, std::size(data.fileName)));
        if (sizes) sizes->push_back(data.size);
    } while (files.findNextFile(found, &data));
    *endError = lastError.getLastError();
    files.findClose(found);
    return names;
}

void checkFileOperations(Checks& checks, Files& files, LastError& lastError) {
    const std::u16string dir = tempDirectory();
    ::CreateDirectoryW(wide(dir.c_str()), nullptr);
    const std::u16string source = dir + u"\\source.hx352";
    const std::u16string target = dir + u"\\target.hx352";
    const std::u16string missing = dir + u"\\missing.hx352";
    ::DeleteFileW(wide(target.c_str()));
    checks.expect(writeFile(source, "12345"), "set-up: a file to copy", number(::GetLastError()));

    struct CopyCase {
        const char* what;
        const std::u16string* from;
        bool failIfExists;
        bool ok;
        std::uint32_t error;
    };
    const CopyCase copies[] = {
        {"a new file", &source, true, true, 0},
        {"over an existing file", &source, false, true, 0},
        {"onto an existing file when told to fail", &source, true, false, win::kErrorFileExists},
        {"a missing file", &missing, false, false, win::kErrorFileNotFound},
    };
    for (const CopyCase& c : copies) {
        const bool ok = files.copyFile(c.from->c_str(), target.c_str(), c.failIfExists);
        const std::uint32_t error = ok ? 0 : lastError.getLastError();
        checks.expect(ok == c.ok && error == c.error, std::string("Files::copyFile of ") + c.what, number(error));
    }

    const HANDLE busy = ::CreateFileW(wide(target.c_str()), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool copiedOverBusy = files.copyFile(source.c_str(), target.c_str(), false);
    const std::uint32_t busyError = lastError.getLastError();
    checks.expect(!copiedOverBusy && busyError == win::kErrorSharingViolation,
                  "Files::copyFile onto a file in use", number(busyError));
    if (busy != INVALID_HANDLE_VALUE) ::CloseHandle(busy);

    std::vector<std::uint64_t> sizes;
    std::uint32_t endError = 0;
    std::vector<std::u16string> names = search(files, dir + u"\\*.hx352", &sizes, &endError, lastError);
    std::vector<std::pair<std::u16string, std::uint64_t>> entries;
    for (std::size_t i = 0; i < names.size(); ++i) entries.emplace_back(names[i], sizes[i]);
    std::sort(entries.begin(), entries.end());
    const std::vector<std::pair<std::u16string, std::uint64_t>> wanted = {{u"source.hx352", 5}, {u"target.hx352", 5}};
    checks.expect(entries == wanted && endError == win::kErrorNoMoreFiles,
                  "Files::findFirstFile/findNextFile list the matching files", number(names.size()) + " entries");
    names = search(files, dir + u"\\*.nothing", nullptr, &endError, lastError);
    checks.expect(names.empty() && endError == win::kErrorFileNotFound, "Files::findFirstFile without a match",
                  number(endError));

    checks.expect(files.deleteFile(target.c_str()), "Files::deleteFile", number(lastError.getLastError()));
    const bool deletedAgain = files.deleteFile(target.c_str());
    const std::uint32_t deleteError = lastError.getLastError();
    checks.expect(!deletedAgain && deleteError == win::kErrorFileNotFound, "Files::deleteFile of a missing file",
                  number(deleteError));

    const std::uint32_t dirAttributes = files.getFileAttributes(dir.c_str());
    checks.expect(dirAttributes != win::kInvalidFileAttributes && (dirAttributes & win::kFileAttributeDirectory),
                  "Files::getFileAttributes of a directory", number(dirAttributes));
    checks.expect(files.getFileAttributes(missing.c_str()) == win::kInvalidFileAttributes,
                  "Files::getFileAttributes of a missing file", "attributes");
    checks.expect(files.pathIsDirectory(dir.c_str()) && !files.pathIsDirectory(source.c_str()),
                  "Files::pathIsDirectory", "wrong");
    checks.expect(files.pathFileExists(dir.c_str()) && files.pathFileExists(source.c_str()) &&
                      !files.pathFileExists(missing.c_str()),
                  "Files::pathFileExists", "wrong");

    std::array<char16_t, 260> full{};
    char16_t* part = nullptr;
    const std::uint32_t length =
        files.getFullPathName(u"C:\\setup\\..\\HX-352\\ENG\\HX-352.INF", 260, full.data(), &part);
    const std::u16string_view fullPath = terminated(full.data(), full.size());
    checks.expect(length == fullPath.size() && fullPath == u"C:\\HX-352\\ENG\\HX-352.INF" && part &&
                      std::u16string_view(part) == u"HX-352.INF",
                  "Files::getFullPathName resolves the path and its file part", quoted(full.data(), full.size()));
    const std::uint32_t needed = files.getFullPathName(u"C:\\HX-352\\ENG\\HX-352.INF", 4, full.data(), &part);
    checks.expect(needed == 25, "Files::getFullPathName into too small a buffer gives the size needed",
                  number(needed));

    std::array<char16_t, 260> system{};
    const std::uint32_t systemLength = files.getSystemDirectory(system.data(), 260);
    checks.expect(systemLength == terminated(system.data(), system.size()).size() &&
                      lower(terminated(system.data(), system.size())) == u"c:\\windows\\system32",
                  "Files::getSystemDirectory", quoted(system.data(), system.size()));

    std::string ansiSource(source.size(), '\0');
    std::transform(source.begin(), source.end(), ansiSource.begin(),
                   [](char16_t unit) { return static_cast<char>(unit); });
    std::string ansiMissing(missing.size(), '\0');
    std::transform(missing.begin(), missing.end(), ansiMissing.begin(),
                   [](char16_t unit) { return static_cast<char>(unit); });
    checks.expect(files.accessAnsi(ansiSource.c_str(), 0) == 0 && files.accessAnsi(ansiMissing.c_str(), 0) == -1,
                  "Files::accessAnsi", "wrong");
    std::FILE* stream = files.openStream(ansiSource.c_str(), "r+");
    char head[4]{};
    checks.expect(stream && std::fread(head, 1, 3, stream) == 3 && std::memcmp(head, "123", 3) == 0,
                  "Files::openStream reads the file", stream ? "other bytes" : "null");
    if (stream) checks.expect(files.closeStream(stream) == 0, "Files::closeStream", "an error");
    checks.expect(files.openStream(ansiMissing.c_str(), "r+") == nullptr, "Files::openStream of a missing file",
                  "a stream");
    ::DeleteFileW(wide(source.c_str()));
}

// In a 64-bit process there is no redirection to switch: Windows and Wine
// both refuse with ERROR_INVALID_FUNCTION.
void checkRedirection(Checks& checks, Files& files, Libraries& libraries, LastError& lastError) {
    const Handle kernel = libraries.loadLibrary(u"Kernel32.dll");
    const Procedure disable = kernel ? libraries.getProcAddress(kernel, "Wow64DisableWow64FsRedirection") : nullptr;
    const Procedure revert = kernel ? libraries.getProcAddress(kernel, "Wow64RevertWow64FsRedirection") : nullptr;
    checks.expect(disable && revert, "Kernel32.dll exports the redirection switches", "not found");
    if (disable && revert) {
        void* saved = nullptr;
        const bool off = files.callWow64DisableFsRedirection(disable, &saved);
        const std::uint32_t offError = lastError.getLastError();
        checks.expect(!off && offError == win::kErrorInvalidFunction,
                      "Files::callWow64DisableFsRedirection in a 64-bit process", number(offError));
        const bool back = files.callWow64RevertFsRedirection(revert, saved);
        checks.expect(!back, "Files::callWow64RevertFsRedirection in a 64-bit process", "true");
    }
    if (kernel) libraries.freeLibrary(kernel);
}

void checkGlobalMemory(Checks& checks, Memory& memory) {
    auto* block = static_cast<std::uint8_t*>(memory.globalAlloc(win::kGptr, 64));
    const bool zero = block && std::all_of(block, block + 64, [](std::uint8_t b) { return b == 0; });
    checks.expect(zero && ::GlobalSize(block) == 64, "Memory::globalAlloc(GPTR, 64) gives 64 zero bytes",
                  block ? number(static_cast<std::int64_t>(::GlobalSize(block))) : "null");
    if (block) checks.expect(memory.globalFree(block) == nullptr, "Memory::globalFree gives null", "the block");
    checks.expect(memory.globalAlloc(win::kGmemFixed, ~std::size_t{0} / 2) == nullptr,
                  "Memory::globalAlloc of an impossible size gives null", "a block");
}

void checkVersion(Checks& checks, SystemInfo& system, Libraries& libraries, const WindowsVersion& windows) {
    OsVersionInfoEx info{};
    info.osVersionInfoSize = sizeof info;
    const bool got = system.getVersionEx(&info);
    checks.expect(got && info.majorVersion == windows.major && info.minorVersion == windows.minor &&
                      info.platformId == win::kVerPlatformWin32Nt && info.productType == win::kVerNtWorkstation,
                  "SystemInfo::getVersionEx of the prefix's Windows",
                  number(info.majorVersion) + "." + number(info.minorVersion) + ", product " +
                      number(info.productType));
    const int r2 = system.getSystemMetrics(win::kSmServerR2);
    checks.expect(r2 == 0, "SystemInfo::getSystemMetrics(SM_SERVERR2)", number(r2));

    const Handle ntdll = libraries.loadLibrary(u"ntdll.dll");
    const Procedure numbers = ntdll ? libraries.getProcAddress(ntdll, "RtlGetNtVersionNumbers") : nullptr;
    checks.expect(numbers != nullptr, "ntdll.dll exports RtlGetNtVersionNumbers", "not found");
    if (numbers) {
        std::uint32_t major = 0;
        std::uint32_t minor = 0;
        std::uint32_t build = 0;
        system.callRtlGetNtVersionNumbers(numbers, &major, &minor, &build);
        checks.expect(build != 0, "SystemInfo::callRtlGetNtVersionNumbers gives a build number", "0");
        // Without a compatibility manifest the two differ from Windows 8 on.
        checks.expect(major == windows.trueMajor && (windows.trueMajor != windows.major || minor == windows.minor),
                      "SystemInfo::callRtlGetNtVersionNumbers",
                      number(major) + "." + number(minor));
    }
    if (ntdll) libraries.freeLibrary(ntdll);
}

// Size query, then fill: the spooler's enumerations as the interface promises.
void checkSpoolerEnumerations(Checks& checks, Spooler& spooler, LastError& lastError) {
    std::uint32_t needed = 0;
    std::uint32_t returned = 0;
    const bool sized = spooler.enumPorts(nullptr, 2, nullptr, 0, &needed, &returned);
    const std::uint32_t sizeError = lastError.getLastError();
    checks.expect(!sized && sizeError == win::kErrorInsufficientBuffer && needed > 0,
                  "Spooler::enumPorts size query", number(sizeError) + ", " + number(needed));
    std::vector<std::uint8_t> buffer(needed);
    const bool filled = spooler.enumPorts(nullptr, 2, buffer.data(), needed, &needed, &returned);
    const auto* ports = reinterpret_cast<const PortInfo2*>(buffer.data());
    bool file = false;
    for (std::uint32_t i = 0; filled && i < returned; ++i) {
        file = file || (ports[i].portName && std::u16string_view(ports[i].portName) == u"FILE:" &&
                        ports[i].monitorName && ports[i].monitorName[0] != 0);
    }
    // The port's monitor is named by a display text in the system's language.
    checks.expect(filled && file, "Spooler::enumPorts level 2 lists FILE: with its monitor",
                  number(returned) + " ports");

    needed = 0;
    spooler.enumMonitors(nullptr, 2, nullptr, 0, &needed, &returned);
    buffer.assign(needed, 0);
    const bool monitorsFilled = spooler.enumMonitors(nullptr, 2, buffer.data(), needed, &needed, &returned);
    const auto* monitors = reinterpret_cast<const MonitorInfo2*>(buffer.data());
    bool local = false;
    for (std::uint32_t i = 0; monitorsFilled && i < returned; ++i) {
        local = local || (monitors[i].name && std::u16string_view(monitors[i].name) == u"Local Port" &&
                          monitors[i].dllName && monitors[i].dllName[0] != 0);
    }
    checks.expect(monitorsFilled && local, "Spooler::enumMonitors level 2 lists Local Port with its DLL",
                  number(returned) + " monitors");

    needed = 99;
    returned = 99;
    const bool printers = spooler.enumPrinters(win::kPrinterEnumLocal | win::kPrinterEnumConnections, u"", 2, nullptr,
                                               0, &needed, &returned);
    checks.expect(printers && needed == 0 && returned == 0, "Spooler::enumPrinters without printers",
                  number(needed) + " bytes, " + number(returned));

    Handle printer = reinterpret_cast<Handle>(1);
    PrinterDefaults defaults{nullptr, nullptr, win::kPrinterAllAccess};
    const bool opened = spooler.openPrinter(u"HX352 No Such Printer", &printer, &defaults);
    const std::uint32_t openError = lastError.getLastError();
    checks.expect(!opened && printer == nullptr && openError == win::kErrorInvalidPrinterName,
                  "Spooler::openPrinter of a missing printer", number(openError));
    if (opened) spooler.closePrinter(printer);
    // Printer handles need a queue, and Wine adds one only with a driver whose
    // configuration DLL shows property sheets, which no test here provides.
    checks.expect(!spooler.deletePrinterDriver(nullptr, u"Windows x64", u"HX352 No Such Driver"),
                  "Spooler::deletePrinterDriver of a missing driver", "true");

    MonitorInfo2 absentDll{const_cast<char16_t*>(u"HX352 Absent Monitor"), const_cast<char16_t*>(u"Windows x64"),
                           const_cast<char16_t*>(u"hx352-absent-monitor.dll")};
    const bool added = spooler.addMonitor(nullptr, 2, &absentDll);
    const std::uint32_t addError = lastError.getLastError();
    checks.expect(!added && addError == win::kErrorModNotFound, "Spooler::addMonitor of a monitor without its DLL",
                  number(addError));
    const bool removed = spooler.deleteMonitor(nullptr, u"Windows x64", u"HX352 Absent Monitor");
    const std::uint32_t removeError = lastError.getLastError();
    checks.expect(!removed && removeError == win::kErrorUnknownPrintMonitor,
                  "Spooler::deleteMonitor of an unknown monitor", number(removeError));
}

constexpr Guid kPrinterClass = {0x4D36E979, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// A device element of the INF's class, registered with its hardware ID.
void checkDeviceSetup(Checks& checks, DeviceSetup& setup, LastError& lastError) {
    const std::u16string inf = tempDirectory() + u"\\hx352-platform.inf";
    ::CreateDirectoryW(wide(tempDirectory().c_str()), nullptr);
    checks.expect(writeFile(inf, "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Printer\r\n"
                                 "ClassGuid={4D36E979-E325-11CE-BFC1-08002BE10318}\r\n"),
                  "set-up: an INF file", number(::GetLastError()));
    Guid classGuid{};
    std::array<char16_t, 32> className{};
    const bool read = setup.getInfClass(inf.c_str(), &classGuid, className.data(), 32, nullptr);
    checks.expect(read && classGuid == kPrinterClass && terminated(className.data(), 32) == u"Printer",
                  "DeviceSetup::getInfClass reads the INF's class", quoted(className.data(), 32));
    if (!read) return;

    const Handle set = setup.createDeviceInfoList(&classGuid, nullptr);
    checks.expect(set != kInvalidHandle, "DeviceSetup::createDeviceInfoList", number(lastError.getLastError()));
    if (set == kInvalidHandle) return;
    DeviceInfoData element{};
    element.cbSize = sizeof element;
    const bool created = setup.createDeviceInfo(set, className.data(), &classGuid, nullptr, nullptr,
                                                win::kDicdGenerateId, &element);
    checks.expect(created && element.classGuid == kPrinterClass, "DeviceSetup::createDeviceInfo",
                  number(lastError.getLastError()));
    const char16_t hardwareIds[] = u"USBPRINT\\HX352WINETEST\0";
    const bool property = created && setup.setDeviceRegistryProperty(set, &element, win::kSpdrpHardwareId,
                                                                     reinterpret_cast<const std::uint8_t*>(hardwareIds),
                                                                     sizeof hardwareIds);
    checks.expect(property, "DeviceSetup::setDeviceRegistryProperty of the hardware ID",
                  number(lastError.getLastError()));
    const bool registered = property && setup.callClassInstaller(win::kDifRegisterDevice, set, &element);
    checks.expect(registered, "DeviceSetup::callClassInstaller registers the device", number(lastError.getLastError()));
    checks.expect(setup.destroyDeviceInfoList(set), "DeviceSetup::destroyDeviceInfoList",
                  number(lastError.getLastError()));
    // Wine's driver update installs from the INF whether or not a device
    // matches, so whether the element was matched cannot be seen here.
}

void checkShell(Checks& checks, Shell& shell) {
    const std::u16string from = tempDirectory() + u"\\shell-source.hx352";
    const std::u16string to = tempDirectory() + u"\\shell-copies";
    ::CreateDirectoryW(wide(to.c_str()), nullptr);
    checks.expect(writeFile(from, "shell"), "set-up: a file for the shell", number(::GetLastError()));
    const std::u16string fromList = from + u'\0';
    const std::u16string toList = to + u'\0';
    const int result = shell.fileOperation(win::kFoCopy, fromList.c_str(), toList.c_str(),
                                           win::kFofSilent | win::kFofNoConfirmation | win::kFofNoConfirmMkdir |
                                               win::kFofNoErrorUi);
    const std::u16string copied = to + u"\\shell-source.hx352";
    checks.expect(result == 0 && ::GetFileAttributesW(wide(copied.c_str())) != INVALID_FILE_ATTRIBUTES,
                  "Shell::fileOperation copies a file into a directory", number(result));
}

int g_dialogInitialised = 0;
std::intptr_t g_dialogParam = 0;

std::intptr_t endAtOnce(Handle window, std::uint32_t message, std::uintptr_t, std::intptr_t lParam) {
    if (message != win::kWmInitDialog) return 0;
    ++g_dialogInitialised;
    g_dialogParam = lParam;
    ::EndDialog(static_cast<HWND>(window), 42);
    return 1;
}

// The program's own dialog template 201; the run has a display (run.sh).
void checkWindowsUi(Checks& checks, WindowsUi& ui) {
    std::array<wchar_t, 64> display{};
    if (::GetEnvironmentVariableW(L"DISPLAY", display.data(), static_cast<DWORD>(display.size())) == 0) {
        checks.expect(false, "WindowsUi::dialogBoxParam needs the display run.sh provides", "no DISPLAY");
        return;
    }
    g_dialogInitialised = 0;
    const std::intptr_t ended = ui.dialogBoxParam(nullptr, 201, nullptr, endAtOnce, 1234);
    checks.expect(ended == 42 && g_dialogInitialised == 1 && g_dialogParam == 1234,
                  "WindowsUi::dialogBoxParam runs the template with the procedure and parameter",
                  number(ended) + ", set up " + number(g_dialogInitialised) + " times");
    g_dialogInitialised = 0;
    const std::intptr_t missing = ui.dialogBoxParam(nullptr, 999, nullptr, endAtOnce, 0);
    checks.expect(missing == -1 && g_dialogInitialised == 0, "WindowsUi::dialogBoxParam of a missing template gives -1",
                  number(missing));
}

}  // namespace

void runPlatformSystemChecks(Checks& checks, const Expectations& expected) {
    Platform& platform = defaultPlatform();
    checkRegistry(checks, platform.registry);
    checkServices(checks, platform.services, platform.lastError);
    checkLibraries(checks, platform.libraries, platform.lastError);
    checkToken(checks, platform.token, platform.lastError);
    checkFileOperations(checks, platform.files, platform.lastError);
    checkRedirection(checks, platform.files, platform.libraries, platform.lastError);
    checkGlobalMemory(checks, platform.memory);
    checkVersion(checks, platform.system, platform.libraries, expected.windows);
    checkSpoolerEnumerations(checks, platform.spooler, platform.lastError);
    checkDeviceSetup(checks, platform.deviceSetup, platform.lastError);
    checkShell(checks, platform.shell);
    checkWindowsUi(checks, platform.ui);
}

}  // namespace hx::wine_tests
