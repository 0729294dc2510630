// The simulated Windows machine behind every platform interface on Linux: drive C
// as a directory, the spooler's driver directory, the USB bus with its printers,
// system facts, virtual time, fault injection and resource accounting.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/printer.h"

namespace hx::sim {

struct SystemFacts {
    std::uint16_t nativeArchitecture = 9;   // what GetNativeSystemInfo reports
    std::uint16_t processArchitecture = 9;  // what GetSystemInfo reports
    bool hasNativeSystemInfo = true;
    std::uint16_t defaultLangId = 0x0409;
    std::uint32_t ansiCodePage = 65001;     // 65001 (UTF-8), 1252 and 20127 are known
};

// What is open right now, by kind.
struct OpenResources {
    int deviceHandles = 0;
    int fileHandles = 0;  // the lock file included
    int deviceInfoSets = 0;
    int heapBlocks = 0;
    bool none() const { return deviceHandles + fileHandles + deviceInfoSets + heapBlocks == 0; }
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

    // Operation journal, in order ("CreateFileW C:\...", "WriteFile 6", ...).
    const std::vector<std::string>& journal() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// The machine the Linux builds of the libraries act on when no test installed a
// platform: on drive C in $HX352_SIM_MACHINE, else in
// ${XDG_STATE_HOME:-~/.local/state}/hx352-sim/machine.
Machine& processMachine();

}  // namespace hx::sim
