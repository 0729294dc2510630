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
};

struct FileHandle {
    std::filesystem::path hostPath;
    int fd = -1;
    std::uint32_t access = 0;
    std::uint32_t share = 0;
};

struct DeviceInfoSet {
    std::vector<std::u16string> paths;
};

using OpenObject = std::variant<DeviceHandle, FileHandle, DeviceInfoSet>;

class SimClock;
class SimCodePages;
class SimFiles;
class SimLastError;
class SimMemory;
class SimResources;
class SimSpooler;
class SimSystemInfo;
class SimUsbDevices;

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

private:
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

private:
    Machine::Impl& m_;
};

class SimSystemInfo final : public platform::SystemInfo {
public:
    explicit SimSystemInfo(Machine::Impl& machine) : m_(machine) {}
    bool hasNativeSystemInfo() override;
    platform::ProcessorInfo getNativeSystemInfo() override;
    platform::ProcessorInfo getSystemInfo() override;
    std::uint16_t getSystemDefaultLangId() override;

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

// Spooler driver directories by environment, as Windows paths.
inline constexpr std::u16string_view kDriverDirX64 = u"C:\\Windows\\System32\\spool\\drivers\\x64";
inline constexpr std::u16string_view kDriverDirX86 = u"C:\\Windows\\System32\\spool\\drivers\\W32X86";
// The lock file the printer's users share, in the x64 driver directory.
inline constexpr std::u16string_view kLockFilePath =
    u"C:\\Windows\\System32\\spool\\drivers\\x64\\hx352-usb-lock.txt";

}  // namespace hx::sim::detail

namespace hx::sim {

struct Machine::Impl {
    explicit Impl(std::filesystem::path drive);
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
    std::set<void*> heapBlocks;
    std::vector<std::string> journal;

    detail::SimClock clock{*this};
    detail::SimCodePages codePages{*this};
    detail::SimFiles files{*this};
    detail::SimLastError lastErrorService{*this};
    detail::SimMemory memory{*this};
    detail::SimResources resources{*this};
    detail::SimSpooler spooler{*this};
    detail::SimSystemInfo systemInfo{*this};
    detail::SimUsbDevices usbDevices{*this};
    platform::Platform platform{clock,     codePages, files,      lastErrorService, memory,
                                resources, spooler,   systemInfo, usbDevices};
};

}  // namespace hx::sim
