// The simulated Windows machine behind every platform interface on Linux: drive C
// as a directory, the spooler's driver directory, the USB bus with its printers,
// system facts, virtual time, fault injection and resource accounting.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/printer.h"

namespace hx::sim {

struct SystemFacts {
    std::uint16_t nativeArchitecture = 9;   // what GetNativeSystemInfo reports
    std::uint16_t processArchitecture = 9;  // what GetSystemInfo reports; 0 on a 64-bit machine is a WOW64 process
    bool hasNativeSystemInfo = true;
    std::uint16_t defaultLangId = 0x0409;
    std::uint32_t ansiCodePage = 65001;     // 65001 (UTF-8), 1252 and 20127 are known
    // The version record as GetVersionExW reports it (a program without a
    // compatibility manifest sees 6.2 on Windows 10).
    std::uint32_t majorVersion = 6, minorVersion = 2, buildNumber = 9200, platformId = 2;
    std::uint8_t productType = 1;           // 1 workstation, 2 domain controller, 3 server
    bool versionQueryFails = false;
    int serverR2Metric = 0;                 // GetSystemMetrics(SM_SERVERR2)
    std::optional<std::uint32_t> trueMajorVersion = 10;  // none: ntdll lacks RtlGetNtVersionNumbers
    std::u16string systemDirectory = u"C:\\Windows\\system32";
    std::u16string programPath = u"C:\\HX352Setup\\HX-352DriverInstall.exe";  // GetModuleFileNameW(null)
    std::u16string currentDirectory = u"C:\\Users\\Public";                   // for relative paths
    bool registryWritable = true;           // false: opening HKLM keys for writing is denied (no admin rights)
};

enum class ServiceState : std::uint32_t { Stopped = 1, StartPending = 2, StopPending = 3, Running = 4 };

struct SimPort {
    std::u16string name, monitor, description;
    std::uint32_t type = 0;
};
struct SimMonitor {
    std::u16string name, environment, dll;
};
struct SimJob {
    std::uint32_t id = 0;
    std::u16string document;
};
struct SimPrinterQueue {
    std::u16string name, driver, port;
    std::vector<SimJob> jobs;
};
struct SimDriver {
    std::u16string name, environment;
};
// A device element registered through device setup (ROOT\PRINTER\nnnn).
struct SimDevice {
    std::u16string instanceId, hardwareId, description;
    bool driverInstalled = false;
};
struct SimSerialPort {
    std::u16string name;  // "COM1"
    platform::Dcb dcb{};
    bool refuseSettings = false;
};
// What the settings dialog of the serial port does when it is shown.
struct SerialDialogScript {
    bool cancel = false;
    std::optional<std::uint32_t> baudRate;  // the user's choice, if any
};

// A machine directory that cannot be loaded: names the file and the problem.
class MachineLoadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What is open right now, by kind.
struct OpenResources {
    int deviceHandles = 0;
    int fileHandles = 0;  // the lock file included
    int deviceInfoSets = 0;
    int heapBlocks = 0;
    int globalBlocks = 0;
    int registryKeys = 0;
    int serviceHandles = 0;
    int printerHandles = 0;
    int libraries = 0;
    int findHandles = 0;
    int streams = 0;
    int tokens = 0;
    bool none() const {
        return deviceHandles + fileHandles + deviceInfoSets + heapBlocks + globalBlocks + registryKeys +
                   serviceHandles + printerHandles + libraries + findHandles + streams + tokens ==
               0;
    }
    friend bool operator==(const OpenResources&, const OpenResources&) = default;
};

struct LockAttempt {
    std::uint64_t atMs;
    std::uint32_t error;  // 0 when the open succeeded
};

class Machine {
public:
    // `driveC` is the directory standing for drive C; empty: a fresh temporary
    // directory, removed with the machine.
    explicit Machine(std::filesystem::path driveC = {});
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    platform::Platform& platform();

    // Drive C. hostPath maps "C:\a\b" to driveC/a/b; other paths are host paths.
    const std::filesystem::path& driveC() const;
    std::filesystem::path hostPath(const std::u16string& windowsPath) const;

    SystemFacts& system();

    // Virtual time: sleeps and waits advance it, nothing really sleeps.
    std::uint64_t nowMs() const;
    const std::vector<std::uint32_t>& sleeps() const;  // every Sleep, in order

    // USB bus. A fresh machine has one printer attached at defaultPrinterPath.
    static const std::u16string defaultPrinterPath;
    SimPrinter& printer();  // the printer at the first interface that has one
    // Replaces the bus: interfaces in enumeration order; a null printer is some
    // other device.
    struct UsbInterface {
        std::u16string path;
        std::shared_ptr<SimPrinter> printer;
    };
    void setUsbInterfaces(std::vector<UsbInterface> interfaces);
    const std::vector<UsbInterface>& usbInterfaces() const;

    // The lock file the printer's users share (in the x64 driver directory).
    std::u16string lockFilePath() const;
    void setLockFilePresent(bool present);
    // The next `attempts` opens of the file find it held by another party
    // (-1: every open).
    void holdFileElsewhere(const std::u16string& windowsPath, int attempts);
    const std::vector<LockAttempt>& lockAttempts() const;

    // Faults. `times` -1 means every time from now on.
    void failDeviceOpens(std::uint32_t error, int times = -1);
    void failDeviceWrites(std::uint32_t error, int times = -1);
    void shortenDeviceWrites(std::uint32_t bytesTaken, int times = -1);
    void failGetClassDevs(std::uint32_t error, int times = -1);
    void failInterfaceDetail(std::uint32_t error, int times = -1);
    void failDriverDirectory(std::uint32_t error, int times = -1);
    void failAllocations(int times = -1);

    // Modules seem built without their resources (as a damaged file would be).
    void hideModuleResources(bool hidden);

    // Resource accounting: everything handed out and not yet given back.
    OpenResources openResources() const;
    std::string describeOpenResources() const;
    // The most bytes of heap blocks held at once since the last reset.
    std::size_t heapBytesPeak() const;
    void resetHeapBytesPeak();  // "2 registry keys, 1 library" for test messages

    // Any operation, by its Windows name ("CopyFileW", "RegOpenKeyExW",
    // "StartServiceW" ...), fails with `error` the next `times` calls (-1: always).
    void failOperation(const std::string& operation, std::uint32_t error, int times = -1);

    // Registry under HKEY_LOCAL_MACHINE; key paths without the root, names
    // compared without regard to case.
    void createRegistryKey(const std::u16string& key);
    bool registryKeyExists(const std::u16string& key) const;
    void setRegistryString(const std::u16string& key, const std::u16string& name, const std::u16string& value);
    std::optional<std::u16string> registryString(const std::u16string& key, const std::u16string& name) const;

    // The print spooler's service: a stop takes spoolerStopDelayMs of virtual
    // time; while it is not running, spooler calls fail with 1722.
    ServiceState spoolerState() const;
    void setSpoolerState(ServiceState state);
    std::uint32_t spoolerStopDelayMs = 40;  // a few tens of ms, as measured
    void refuseSpoolerStop(int times = -1);
    void refuseSpoolerStart(int times = -1);

    // The spooler's contents, in enumeration order.
    std::vector<SimPort>& ports();
    std::vector<SimMonitor>& monitors();
    std::vector<SimPrinterQueue>& printers();
    std::vector<SimDriver>& drivers();

    // Device elements registered through device setup.
    std::vector<SimDevice>& devices();

    // Serial ports ("\\.\COMn" devices) and what their settings dialog does.
    std::vector<SimSerialPort>& serialPorts();
    SerialDialogScript& serialDialog();
    const std::optional<platform::Dcb>& lastSerialDialogDcb() const;  // what the dialog was shown

    // The program's dialog templates and what a modal dialog ends with.
    std::vector<std::uint16_t>& programDialogTemplates();
    std::intptr_t dialogResult = 1;

    // Whether the process token holds the privilege enabled.
    bool privilegeEnabled(const std::u16string& name) const;

    // Whether file-system redirection is off right now (WOW64 processes only).
    bool redirectionDisabled() const;

    // Persistence: the machine in a directory, drive C in DIR/C and the rest in
    // readable files under DIR/machine, written atomically. openDirectory loads
    // the machine there, or creates a fresh default one and saves it.
    static std::unique_ptr<Machine> openDirectory(const std::filesystem::path& directory);
    void save() const;                                       // to the directory it was opened from
    void saveTo(const std::filesystem::path& directory) const;

    // Operation journal, in order ("CreateFileW C:\...", "WriteFile 6", ...); a line
    // indented by two spaces is an effect of the operation above it.
    const std::vector<std::string>& journal() const;

    struct Impl;

private:
    explicit Machine(std::unique_ptr<Impl> impl);  // a machine whose state was loaded
    std::unique_ptr<Impl> impl_;
};

// The machine the Linux builds of the libraries act on when no test installed a
// platform: the machine directory $HX352_SIM_MACHINE, else
// ${XDG_STATE_HOME:-~/.local/state}/hx352-sim/machine; saved when the process ends.
Machine& processMachine();

}  // namespace hx::sim
