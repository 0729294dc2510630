// Inside of the simulated machine: its state and the services that act on it.
// Shared by the sim sources only; tests use machine.h.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/machine.h"

namespace hx::sim::detail {

// Text helpers for Windows strings (UTF-16) and the ASCII-only case folding
// Windows applies to device paths and file names in this simulation.
[[nodiscard]] std::string toUtf8(std::u16string_view text);
[[nodiscard]] std::u16string fromUtf8(std::string_view text);
[[nodiscard]] char16_t foldAscii(char16_t c);
// A name against a pattern with * and ?, without regard to case.
[[nodiscard]] bool wildcardMatch(std::u16string_view pattern, std::u16string_view name);
[[nodiscard]] bool equalsIgnoreCase(std::u16string_view a, std::u16string_view b);
[[nodiscard]] std::u16string upperAscii(std::u16string_view text);

// An injected failure: fires on the next `remaining` calls (-1: always).
struct Fault {
    std::uint32_t error = 0;
    std::uint32_t value = 0;
    int remaining = 0;

    void set(std::uint32_t faultError, int times, std::uint32_t faultValue = 0) {
        error = faultError;
        value = faultValue;
        remaining = times;
    }
    [[nodiscard]] bool fire() {
        if (remaining == 0) return false;
        if (remaining > 0) --remaining;
        return true;
    }
};

struct PendingRead {
    std::uint8_t* buffer = nullptr;
    std::uint32_t length = 0;
    platform::Overlapped* overlapped = nullptr;
};

// How the latest read on a handle ended, so GetOverlappedResult can answer
// without touching an Overlapped record the caller may already have dropped.
struct ReadOutcome {
    platform::Overlapped* overlapped = nullptr;
    std::uint32_t count = 0;
    std::uint32_t error = 0;
};

struct DeviceHandle {
    std::u16string path;
    std::shared_ptr<SimPrinter> printer;  // null: a device that never answers
    std::uint32_t access = 0;
    std::uint32_t share = 0;
    bool overlapped = false;
    std::optional<PendingRead> read;
    std::optional<ReadOutcome> outcome;
    std::u16string serialPort;  // "COM1" for a serial port's device, else empty
};

struct FileHandle {
    std::filesystem::path hostPath;
    int fd = -1;
    std::uint32_t access = 0;
    std::uint32_t share = 0;
};

// An element that device setup is creating; once the class installer has
// registered it, it is also one of the machine's devices (same instance ID).
struct DeviceInfoElement {
    std::u16string instanceId;
    platform::Guid classGuid{};
    std::uint32_t devInst = 0;
    std::vector<std::u16string> hardwareIds;
    std::u16string description;
    bool registered = false;
};

// A device information set: the USB interface paths present when UsbDevices
// took it, or the elements DeviceSetup creates in it. Either kind of set is
// destroyed through either interface.
struct DeviceInfoSet {
    std::vector<std::u16string> paths;
    std::optional<platform::Guid> classGuid;
    std::vector<DeviceInfoElement> elements;
};

// A directory search: the matching entries, taken when it started, in the
// order NTFS delivers them.
struct FindSearch {
    std::vector<platform::FindData> entries;
    std::size_t next = 0;
};

// COM1 to COM4 at 9600 baud, 8 data bits, no parity, one stop bit.
[[nodiscard]] std::vector<SimSerialPort> defaultSerialPorts();

using OpenObject = std::variant<DeviceHandle, FileHandle, DeviceInfoSet>;

// The registry: a tree of keys under HKEY_LOCAL_MACHINE, names compared
// without regard to case, values in the order they were first set.
struct RegistryValue {
    std::u16string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};
struct RegistryKey {
    std::u16string name;
    std::vector<RegistryValue> values;
    std::vector<std::unique_ptr<RegistryKey>> subkeys;

    [[nodiscard]] RegistryKey* child(std::u16string_view childName) const;
    RegistryKey& ensureChild(std::u16string_view childName);
    [[nodiscard]] RegistryValue* value(std::u16string_view valueName);
    void setValue(std::u16string_view valueName, std::uint32_t type, std::vector<std::uint8_t> data);
};
// "A\B\C" into its components (empty ones dropped).
[[nodiscard]] std::vector<std::u16string> splitKeyPath(std::u16string_view path);

// Handles that live beside the OpenObject table (same numbering, own maps).
// An open key names its key by path, so a key deleted under it is noticed.
struct OpenRegistryKey {
    std::vector<std::u16string> path;
    std::uint32_t access = 0;
};
struct OpenService {
    bool manager = false;  // the service control manager, else "Spooler"
    std::uint32_t access = 0;
};
struct OpenPrinter {
    std::u16string name;
    unsigned spoolerRun = 0;  // handles die with the spooler run they were opened in
};
struct OpenToken {
    std::uint32_t access = 0;
};
// One privilege of the process token.
struct TokenPrivilege {
    std::u16string_view name;
    std::uint32_t luid = 0;
    bool held = false;
    bool enabled = false;
    bool removed = false;
};

class SimClock;
class SimCodePages;
class SimFiles;
class SimLastError;
class SimMemory;
class SimResources;
class SimSpooler;
class SimSystemInfo;
class SimUsbDevices;
class SimRegistry;
class SimServices;
class SimLibraries;
class SimToken;
class SimShell;

class SimClock final : public platform::Clock {
public:
    explicit SimClock(Machine::Impl& machine) : m_(machine) {}
    void sleep(std::uint32_t milliseconds) override;
    std::uint32_t waitForSingleObject(platform::Handle object, std::uint32_t milliseconds) override;
    std::uint64_t tickCount() override;

private:
    Machine::Impl& m_;
};

class SimCodePages final : public platform::CodePages {
public:
    explicit SimCodePages(Machine::Impl& machine) : m_(machine) {}
    int multiByteToWideChar(std::uint32_t codePage, std::uint32_t flags, const char* src, int srcLength,
                            char16_t* dst, int dstLength) override;
    int wideCharToMultiByte(std::uint32_t codePage, std::uint32_t flags, const char16_t* src, int srcLength,
                            char* dst, int dstLength) override;

private:
    Machine::Impl& m_;
};

class SimFiles final : public platform::Files {
public:
    explicit SimFiles(Machine::Impl& machine) : m_(machine) {}
    platform::Handle createFile(const char16_t* path, std::uint32_t access, std::uint32_t shareMode,
                                std::uint32_t disposition, std::uint32_t flagsAndAttributes) override;
    bool writeFile(platform::Handle file, const void* data, std::uint32_t length, std::uint32_t* written) override;
    bool readFile(platform::Handle file, void* buffer, std::uint32_t length, std::uint32_t* read,
                  platform::Overlapped* overlapped) override;
    bool getOverlappedResult(platform::Handle file, platform::Overlapped* overlapped, std::uint32_t* transferred,
                             bool wait) override;
    bool cancelIo(platform::Handle file) override;
    bool getFileSize(platform::Handle file, std::int64_t* size) override;
    bool closeHandle(platform::Handle object) override;
    bool copyFile(const char16_t* source, const char16_t* target, bool failIfExists) override;
    bool deleteFile(const char16_t* path) override;
    platform::Handle findFirstFile(const char16_t* pattern, platform::FindData* data) override;
    bool findNextFile(platform::Handle search, platform::FindData* data) override;
    bool findClose(platform::Handle search) override;
    std::uint32_t getFileAttributes(const char16_t* path) override;
    std::uint32_t getFullPathName(const char16_t* path, std::uint32_t size, char16_t* buffer,
                                  char16_t** filePart) override;
    bool pathIsDirectory(const char16_t* path) override;
    bool pathFileExists(const char16_t* path) override;
    std::uint32_t getSystemDirectory(char16_t* buffer, std::uint32_t size) override;
    int accessAnsi(const char* path, int mode) override;
    std::FILE* openStream(const char* path, const char* mode) override;
    int closeStream(std::FILE* stream) override;
    bool callWow64DisableFsRedirection(platform::Procedure disable, void** oldValue) override;
    bool callWow64RevertFsRedirection(platform::Procedure revert, void* oldValue) override;

private:
    platform::Handle openSerialPort(const std::u16string& path, const SimSerialPort& port, std::uint32_t access,
                                    std::uint32_t shareMode);
    platform::Handle openDevice(const std::u16string& path, const Machine::UsbInterface& device,
                                std::uint32_t access, std::uint32_t shareMode, std::uint32_t flags);
    platform::Handle openFile(const std::u16string& path, std::uint32_t access, std::uint32_t shareMode,
                              std::uint32_t disposition);
    bool readDevice(DeviceHandle& device, void* buffer, std::uint32_t length, std::uint32_t* read,
                    platform::Overlapped* overlapped);
    Machine::Impl& m_;
};

class SimLastError final : public platform::LastError {
public:
    explicit SimLastError(Machine::Impl& machine) : m_(machine) {}
    std::uint32_t getLastError() override;
    void setLastError(std::uint32_t code) override;

private:
    Machine::Impl& m_;
};

class SimMemory final : public platform::Memory {
public:
    explicit SimMemory(Machine::Impl& machine) : m_(machine) {}
    void* allocate(std::size_t size, bool zeroed) override;
    void release(void* block) override;
    void* globalAlloc(std::uint32_t flags, std::size_t size) override;
    void* globalFree(void* block) override;

private:
    Machine::Impl& m_;
};

class SimResources final : public platform::Resources {
public:
    explicit SimResources(Machine::Impl& machine) : m_(machine) {}
    std::span<const std::uint8_t> findModuleResource(const char16_t* moduleName, const char16_t* type,
                                                     std::uint16_t id) override;

private:
    Machine::Impl& m_;
};

class SimSpooler final : public platform::Spooler {
public:
    explicit SimSpooler(Machine::Impl& machine) : m_(machine) {}
    bool getPrinterDriverDirectory(const char16_t* server, const char16_t* environment, std::uint32_t level,
                                   std::uint8_t* buffer, std::uint32_t bufferSize,
                                   std::uint32_t* needed) override;
    bool enumPorts(const char16_t* server, std::uint32_t level, std::uint8_t* buffer, std::uint32_t bufferSize,
                   std::uint32_t* needed, std::uint32_t* returned) override;
    bool enumMonitors(const char16_t* server, std::uint32_t level, std::uint8_t* buffer, std::uint32_t bufferSize,
                      std::uint32_t* needed, std::uint32_t* returned) override;
    bool enumPrinters(std::uint32_t flags, const char16_t* name, std::uint32_t level, std::uint8_t* buffer,
                      std::uint32_t bufferSize, std::uint32_t* needed, std::uint32_t* returned) override;
    bool openPrinter(const char16_t* name, platform::Handle* printer,
                     const platform::PrinterDefaults* defaults) override;
    bool getPrinter(platform::Handle printer, std::uint32_t level, std::uint8_t* buffer, std::uint32_t bufferSize,
                    std::uint32_t* needed) override;
    bool setPrinter(platform::Handle printer, std::uint32_t level, std::uint8_t* record,
                    std::uint32_t command) override;
    bool deletePrinter(platform::Handle printer) override;
    bool closePrinter(platform::Handle printer) override;
    bool enumJobs(platform::Handle printer, std::uint32_t firstJob, std::uint32_t jobCount, std::uint32_t level,
                  std::uint8_t* buffer, std::uint32_t bufferSize, std::uint32_t* needed,
                  std::uint32_t* returned) override;
    bool setJob(platform::Handle printer, std::uint32_t jobId, std::uint32_t level, std::uint8_t* record,
                std::uint32_t command) override;
    bool deletePrinterDriver(const char16_t* server, const char16_t* environment,
                             const char16_t* driverName) override;
    bool addMonitor(const char16_t* server, std::uint32_t level, const platform::MonitorInfo2* monitor) override;
    bool deleteMonitor(const char16_t* server, const char16_t* environment, const char16_t* name) override;
    bool callAddPortExA(platform::Procedure addPortExA, const char* server, std::uint32_t level,
                        const platform::PortInfo1A* port, const char* monitorName) override;

private:
    // Why a call cannot be served now (an injected fault, a spooler not
    // running), if it cannot.
    [[nodiscard]] std::optional<std::uint32_t> unavailable(std::string_view operation);
    // The printer a handle of the current spooler run stands for.
    [[nodiscard]] SimPrinterQueue* printerOf(platform::Handle handle);
    Machine::Impl& m_;
};

class SimRegistry final : public platform::Registry {
public:
    explicit SimRegistry(Machine::Impl& machine) : m_(machine) {}
    std::int32_t regOpenKeyEx(platform::Handle root, const char16_t* subKey, std::uint32_t options,
                              std::uint32_t access, platform::Handle* key) override;
    std::int32_t regQueryValueEx(platform::Handle key, const char16_t* name, std::uint32_t* type,
                                 std::uint8_t* data, std::uint32_t* size) override;
    std::int32_t regSetValueEx(platform::Handle key, const char16_t* name, std::uint32_t type,
                               const std::uint8_t* data, std::uint32_t size) override;
    std::int32_t regDeleteValue(platform::Handle key, const char16_t* name) override;
    std::int32_t regDeleteKey(platform::Handle key, const char16_t* subKey) override;
    std::int32_t regCloseKey(platform::Handle key) override;

private:
    Machine::Impl& m_;
};

class SimServices final : public platform::Services {
public:
    explicit SimServices(Machine::Impl& machine) : m_(machine) {}
    platform::Handle openScManager(const char16_t* machine, const char16_t* database, std::uint32_t access) override;
    platform::Handle openService(platform::Handle manager, const char16_t* name, std::uint32_t access) override;
    bool queryServiceStatus(platform::Handle service, platform::ServiceStatus* status) override;
    bool controlService(platform::Handle service, std::uint32_t control, platform::ServiceStatus* status) override;
    bool startService(platform::Handle service, std::uint32_t argCount, const char16_t** args) override;
    bool closeServiceHandle(platform::Handle handle) override;

private:
    Machine::Impl& m_;
};

class SimLibraries final : public platform::Libraries {
public:
    explicit SimLibraries(Machine::Impl& machine) : m_(machine) {}
    platform::Handle loadLibrary(const char16_t* name) override;
    platform::Handle getModuleHandle(const char16_t* name) override;
    platform::Procedure getProcAddress(platform::Handle module, const char* name) override;
    bool freeLibrary(platform::Handle module) override;
    std::uint32_t getModuleFileName(platform::Handle module, char16_t* buffer, std::uint32_t size) override;

private:
    Machine::Impl& m_;
};

class SimToken final : public platform::Token {
public:
    explicit SimToken(Machine::Impl& machine) : m_(machine) {}
    bool openProcessToken(std::uint32_t access, platform::Handle* token) override;
    bool lookupPrivilegeValue(const char16_t* system, const char16_t* name, platform::Luid* luid) override;
    bool adjustTokenPrivilege(platform::Handle token, const platform::Luid& luid, std::uint32_t attributes) override;
    bool closeToken(platform::Handle token) override;

private:
    Machine::Impl& m_;
};

class SimShell final : public platform::Shell {
public:
    explicit SimShell(Machine::Impl& machine) : m_(machine) {}
    int fileOperation(std::uint32_t function, const char16_t* from, const char16_t* to,
                      std::uint16_t flags) override;

private:
    Machine::Impl& m_;
};

// The procedures Libraries::getProcAddress hands out, by name: distinct
// addresses that are never called, only handed back to the typed calls
// (Files, SystemInfo, Spooler), which recognise them here. Null for any other name.
[[nodiscard]] platform::Procedure procedureFor(std::string_view name);

// Fills a new machine with the contents of a fresh 64-bit English Windows 10
// (system facts, registry, spooler, and with `populateDrive` drive C's files).
void setUpFreshMachine(Machine::Impl& machine, bool populateDrive);

// The privileges of a new process's token (an elevated administrator's).
[[nodiscard]] std::vector<TokenPrivilege> freshProcessToken();

// The printer-driver environment of a machine with this native architecture.
[[nodiscard]] std::u16string_view nativeEnvironment(const SystemFacts& facts);

class SimSystemInfo final : public platform::SystemInfo {
public:
    explicit SimSystemInfo(Machine::Impl& machine) : m_(machine) {}
    bool hasNativeSystemInfo() override;
    platform::ProcessorInfo getNativeSystemInfo() override;
    platform::ProcessorInfo getSystemInfo() override;
    std::uint16_t getSystemDefaultLangId() override;
    bool getVersionEx(platform::OsVersionInfoEx* info) override;
    int getSystemMetrics(int index) override;
    void callRtlGetNtVersionNumbers(platform::Procedure procedure, std::uint32_t* major, std::uint32_t* minor,
                                    std::uint32_t* build) override;

private:
    Machine::Impl& m_;
};

class SimUsbDevices final : public platform::UsbDevices {
public:
    explicit SimUsbDevices(Machine::Impl& machine) : m_(machine) {}
    platform::Handle getClassDevs(const platform::Guid* classGuid, const char16_t* enumerator,
                                  std::uint32_t flags) override;
    bool enumDeviceInterfaces(platform::Handle deviceInfoSet, const platform::Guid& classGuid, std::uint32_t index,
                              platform::DeviceInterfaceData* data) override;
    bool getDeviceInterfaceDetail(platform::Handle deviceInfoSet, platform::DeviceInterfaceData* data,
                                  platform::DeviceInterfaceDetail* detail, std::uint32_t detailSize,
                                  std::uint32_t* requiredSize) override;
    bool destroyDeviceInfoList(platform::Handle deviceInfoSet) override;

private:
    Machine::Impl& m_;
};

class SimDeviceSetup final : public platform::DeviceSetup {
public:
    explicit SimDeviceSetup(Machine::Impl& machine) : m_(machine) {}
    bool getInfClass(const char16_t* infPath, platform::Guid* classGuid, char16_t* className,
                     std::uint32_t classNameSize, std::uint32_t* requiredSize) override;
    platform::Handle createDeviceInfoList(const platform::Guid* classGuid, platform::Handle window) override;
    bool createDeviceInfo(platform::Handle set, const char16_t* deviceName, const platform::Guid* classGuid,
                          const char16_t* description, platform::Handle window, std::uint32_t flags,
                          platform::DeviceInfoData* data) override;
    bool setDeviceRegistryProperty(platform::Handle set, platform::DeviceInfoData* data, std::uint32_t property,
                                   const std::uint8_t* buffer, std::uint32_t size) override;
    bool callClassInstaller(std::uint32_t function, platform::Handle set, platform::DeviceInfoData* data) override;
    bool destroyDeviceInfoList(platform::Handle set) override;
    bool updateDriverForPlugAndPlayDevices(platform::Handle window, const char16_t* hardwareId,
                                           const char16_t* infPath, std::uint32_t flags,
                                           bool* rebootRequired) override;

private:
    Machine::Impl& m_;
};

class SimSerialPorts final : public platform::SerialPorts {
public:
    explicit SimSerialPorts(Machine::Impl& machine) : m_(machine) {}
    bool getCommState(platform::Handle port, platform::Dcb* dcb) override;
    bool setCommState(platform::Handle port, const platform::Dcb* dcb) override;
    bool commConfigDialog(const char16_t* portName, platform::Handle owner, platform::CommConfig* config) override;

private:
    Machine::Impl& m_;
};

class SimWindowsUi final : public platform::WindowsUi {
public:
    explicit SimWindowsUi(Machine::Impl& machine) : m_(machine) {}
    std::intptr_t dialogBoxParam(platform::Handle instance, std::uint16_t templateId, platform::Handle owner,
                                 platform::DialogProc proc, std::intptr_t param) override;

private:
    Machine::Impl& m_;
};

// Spooler driver directories by environment, as Windows paths.
inline constexpr std::u16string_view kDriverDirX64 = u"C:\\Windows\\System32\\spool\\drivers\\x64";
inline constexpr std::u16string_view kDriverDirX86 = u"C:\\Windows\\System32\\spool\\drivers\\W32X86";
// Where the spooler registers its print monitors, under HKEY_LOCAL_MACHINE.
inline constexpr std::u16string_view kMonitorsKey = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";
// The lock file the printer's users share, in the x64 driver directory.
inline constexpr std::u16string_view kLockFilePath =
    u"C:\\Windows\\System32\\spool\\drivers\\x64\\hx352-usb-lock.txt";

}  // namespace hx::sim::detail

namespace hx::sim {

struct Machine::Impl {
    // A fresh default machine on `drive` (empty: a temporary directory). With
    // `populateDrive` false the drive's files are left as they are (a machine
    // being loaded brings its own).
    explicit Impl(std::filesystem::path drive, bool populateDrive = true);
    ~Impl();
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    // Windows path to host path: "C:\..." under drive C with case-insensitive
    // lookup of each component; anything else is a host path as it stands.
    [[nodiscard]] std::filesystem::path hostPath(const std::u16string& windowsPath) const;
    [[nodiscard]] bool isDrivePath(std::u16string_view path) const;

    void fail(std::uint32_t error) { lastError = error; }
    void log(std::string line) { journal.push_back(std::move(line)); }

    // Handle table.
    platform::Handle addObject(detail::OpenObject object);
    [[nodiscard]] detail::OpenObject* find(platform::Handle handle);
    [[nodiscard]] detail::DeviceHandle* findDevice(platform::Handle handle);
    [[nodiscard]] detail::FileHandle* findFile(platform::Handle handle);
    [[nodiscard]] detail::DeviceInfoSet* findDeviceInfoSet(platform::Handle handle);
    void closeObject(platform::Handle handle);
    // A new handle value, unique among every kind of handle of the machine.
    [[nodiscard]] platform::Handle newHandle();

    // The fault injected with failOperation for `operation`, consumed when it
    // fires; every operation asks before it acts.
    [[nodiscard]] std::optional<std::uint32_t> injectedFault(std::string_view operation);

    // Registry keys by path under HKEY_LOCAL_MACHINE ("A\B"); null when missing.
    [[nodiscard]] detail::RegistryKey* registryKey(std::u16string_view path);
    detail::RegistryKey& ensureRegistryKey(std::u16string_view path);

    // The Spooler service's state now: a stop completes once its delay of
    // virtual time has passed. settleSpooler() records that completion.
    [[nodiscard]] ServiceState spoolerStateNow() const;
    void settleSpooler();
    void setSpooler(ServiceState state);

    // Whether the spooler holds this host file open: the DLL of a registered
    // monitor, in the system directory, while the spooler runs. Copying onto
    // it or deleting it is then a sharing violation.
    [[nodiscard]] bool fileInUseBySpooler(const std::filesystem::path& host) const;
    // The system directory's host path, as seen without WOW64 redirection.
    [[nodiscard]] std::filesystem::path systemDirectoryHost() const;

    // Paths as a file operation of this process sees them. fullWindowsPath is
    // GetFullPathNameW's answer: relative paths joined to the current
    // directory, "." and ".." resolved, "/" as a backslash (host paths kept as they
    // are). processPath maps that to the host, in a WOW64 process with
    // <windir>\System32 redirected to SysWOW64 unless redirection is off.
    [[nodiscard]] std::u16string fullWindowsPath(std::u16string_view path) const;
    [[nodiscard]] std::filesystem::path processPath(std::u16string_view path) const;
    // A 32-bit process on a 64-bit machine.
    [[nodiscard]] bool isWow64Process() const;

    // Overlapped reads on device handles.
    [[nodiscard]] static std::optional<SimPrinter::PendingReply>* pendingReplyOf(detail::DeviceHandle& device);
    // Delivers the printer's pending reply into the outstanding read.
    void completeRead(detail::DeviceHandle& device);
    // Waits on the device's outstanding read for at most `milliseconds` of
    // virtual time (UINT32_MAX: for as long as a reply is coming). True when the
    // read completed.
    [[nodiscard]] bool waitForRead(detail::DeviceHandle& device, std::uint32_t milliseconds, bool* nothingComing);

    std::filesystem::path driveC;
    bool ownsDriveC = false;
    SystemFacts facts;

    std::uint64_t nowMs = 0;
    std::vector<std::uint32_t> sleeps;
    std::uint32_t lastError = 0;

    std::vector<UsbInterface> usb;
    std::vector<LockAttempt> lockAttempts;
    bool moduleResourcesHidden = false;
    std::map<std::filesystem::path, int> heldElsewhere;

    detail::Fault deviceOpenFault;
    detail::Fault deviceWriteFault;
    detail::Fault shortWriteFault;
    detail::Fault classDevsFault;
    detail::Fault interfaceDetailFault;
    detail::Fault driverDirectoryFault;
    detail::Fault allocationFault;

    std::map<std::uintptr_t, detail::OpenObject> objects;
    std::uintptr_t nextHandle = 0x100;
    std::map<void*, std::size_t> heapBlocks;  // block -> bytes
    std::size_t heapBytes = 0, heapBytesPeak = 0;
    std::set<void*> globalBlocks;
    std::vector<std::string> journal;

    Machine* owner = nullptr;  // for the settings the test-facing class holds (spoolerStopDelayMs ...)
    std::filesystem::path machineDirectory;  // where save() writes; empty unless opened from a directory
    std::map<std::string, detail::Fault, std::less<>> operationFaults;

    detail::RegistryKey registryRoot;
    std::map<std::uintptr_t, detail::OpenRegistryKey> registryHandles;

    ServiceState spoolerState = ServiceState::Running;
    std::uint64_t spoolerStopsAtMs = 0;
    unsigned spoolerRun = 0;  // counts the spooler's stops
    detail::Fault spoolerStopRefusal;
    detail::Fault spoolerStartRefusal;
    std::map<std::uintptr_t, detail::OpenService> serviceHandles;

    std::vector<SimPort> ports;
    std::vector<SimMonitor> monitors;
    std::vector<SimPrinterQueue> printers;
    std::vector<SimPrinterQueue> printersPendingDeletion;  // deleted, with handles still open
    std::vector<SimDriver> drivers;
    std::map<std::uintptr_t, detail::OpenPrinter> printerHandles;

    std::map<std::u16string, int> libraryLoads;  // LoadLibraryW references by module
    std::vector<detail::TokenPrivilege> tokenPrivileges;
    std::map<std::uintptr_t, detail::OpenToken> tokenHandles;

    std::map<std::uintptr_t, detail::FindSearch> findHandles;
    std::set<std::FILE*> streams;
    bool redirectionOff = false;  // WOW64 file-system redirection switched off
    std::vector<SimDevice> devices;
    std::uint32_t nextDevInst = 1;
    std::vector<SimSerialPort> serialPorts = detail::defaultSerialPorts();
    SerialDialogScript serialDialog;
    std::optional<platform::Dcb> lastSerialDialogDcb;
    std::vector<std::uint16_t> dialogTemplates{129, 201, 202, 203};  // the installer's

    detail::SimClock clock{*this};
    detail::SimCodePages codePages{*this};
    detail::SimFiles files{*this};
    detail::SimLastError lastErrorService{*this};
    detail::SimMemory memory{*this};
    detail::SimResources resources{*this};
    detail::SimSpooler spooler{*this};
    detail::SimSystemInfo systemInfo{*this};
    detail::SimUsbDevices usbDevices{*this};
    detail::SimRegistry registry{*this};
    detail::SimServices services{*this};
    detail::SimLibraries libraries{*this};
    detail::SimToken token{*this};
    detail::SimShell shell{*this};
    // Device setup, serial ports and the window layer (their state above is theirs to add).
    detail::SimDeviceSetup deviceSetupService{*this};
    detail::SimSerialPorts serialService{*this};
    detail::SimWindowsUi uiService{*this};
    platform::Platform platform{.clock = clock,
                                .codePages = codePages,
                                .files = files,
                                .lastError = lastErrorService,
                                .memory = memory,
                                .resources = resources,
                                .spooler = spooler,
                                .system = systemInfo,
                                .usb = usbDevices,
                                .deviceSetup = deviceSetupService,
                                .libraries = libraries,
                                .registry = registry,
                                .serial = serialService,
                                .services = services,
                                .shell = shell,
                                .token = token,
                                .ui = uiService};
};

}  // namespace hx::sim
