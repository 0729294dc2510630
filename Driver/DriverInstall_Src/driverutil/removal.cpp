// The removal pass. Steps that find nothing to remove pass quietly; only the
// first spooler restart and the driver deletion decide the result.
#include "Driver/DriverInstall_Src/driverutil/removal.h"

#include <algorithm>
#include <array>
#include <cwctype>

#include "Driver/DriverInstall_Src/driverutil/inf_search.h"
#include "Driver/DriverInstall_Src/driverutil/names.h"
#include "Driver/DriverInstall_Src/driverutil/redirection.h"
#include "Driver/DriverInstall_Src/driverutil/spooler_service.h"
#include "Driver/DriverInstall_Src/driverutil/system_info.h"
#include "platform/unique_handle.h"

namespace hx::driverutil {

using namespace hx::platform::win;

namespace {

constexpr char16_t kDriverValue[] = u"Driver";
constexpr char16_t kNullText[] = u"NULL";
constexpr std::uint32_t kMonitorKeyAccess = 0x2001F;
constexpr std::uint32_t kAllJobs = 0xFFFFFFFFu;
// How long removal waits for a stopping spooler before starting it again.
constexpr std::uint32_t kStopPollMs = 20;
constexpr std::uint32_t kStopWaitLimitMs = 10000;

bool equalIgnoringCase(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
               return std::towlower(static_cast<wint_t>(x)) == std::towlower(static_cast<wint_t>(y));
           });
}

// A size-query-then-fill enumeration into a block of the library's heap.
template <class Enumerate>
platform::UniqueHeapBlock enumerate(platform::Platform& platform, Enumerate call, std::uint32_t& returned) {
    std::uint32_t needed = 0;
    returned = 0;
    (void)call(nullptr, 0, &needed, &returned);
    if (needed == 0) return {};
    platform::UniqueHeapBlock block(platform.memory, platform.memory.allocate(needed, true));
    if (!block) return {};
    if (!call(static_cast<std::uint8_t*>(block.get()), needed, &needed, &returned)) returned = 0;
    return block;
}

// All local printers and connections at level 2.
platform::UniqueHeapBlock enumeratePrinters(platform::Platform& platform, std::uint32_t& count) {
    return enumerate(
        platform,
        [&](std::uint8_t* buffer, std::uint32_t size, std::uint32_t* needed, std::uint32_t* returned) {
            return platform.spooler.enumPrinters(kPrinterEnumLocal | kPrinterEnumConnections, u"", 2, buffer, size,
                                                 needed, returned);
        },
        count);
}

platform::UniquePrinter openForAllAccess(platform::Platform& platform, const char16_t* name) {
    platform::PrinterDefaults defaults{nullptr, nullptr, kPrinterAllAccess};
    platform::Handle printer = nullptr;
    if (!platform.spooler.openPrinter(name, &printer, &defaults)) return {};
    return platform::UniquePrinter(platform.spooler, printer);
}

void deleteMonitorFilePair(platform::Platform& platform) {
    std::array<char16_t, kMaxPath> buffer{};
    const auto length = platform.files.getSystemDirectory(buffer.data(), kMaxPath);
    if (length == 0 || length >= kMaxPath) return;
    const std::u16string directory(buffer.data(), length);
    if (platform.files.deleteFile((directory + u"\\" + kMonitorDll).c_str())) {
        (void)platform.files.deleteFile((directory + u"\\" + kMonitorUiDll).c_str());
    }
}

}  // namespace

std::int32_t uninstallDriver(platform::Platform& platform) {
    disableLanguageMonitor(platform);
    if (const auto inf = findOemInf(platform)) (void)platform.files.deleteFile(inf->c_str());
    if (!restartSpooler(platform)) return 6;
    cancelModelJobs(platform);
    deleteModelPrinters(platform);
    if (!deleteModelDriver(platform)) return 6;
    removeMonitors(platform);
    return 0;
}

void disableLanguageMonitor(platform::Platform& platform) {
    auto& registry = platform.registry;
    platform::Handle raw = nullptr;
    if (registry.regOpenKeyEx(platform::kHkeyLocalMachine, kLanguageMonitorKey, 0, kKeyWrite, &raw) != 0) return;
    platform::UniqueRegistryKey key(registry, raw);
    (void)registry.regSetValueEx(key.get(), kDriverValue, kRegSz, reinterpret_cast<const std::uint8_t*>(kNullText),
                                 sizeof kNullText);
}

bool collectModelPrinters(platform::Platform& platform, ModelPrinterList& list) {
    std::uint32_t count = 0;
    const auto block = enumeratePrinters(platform, count);
    if (!block) return false;
    const auto* printers = static_cast<const platform::PrinterInfo2*>(block.get());
    for (std::uint32_t i = 0; i < std::min<std::uint32_t>(count, ModelPrinterList::kSlots); ++i) {
        const auto& printer = printers[i];
        if (printer.driverName == nullptr || printer.printerName == nullptr) continue;
        if (std::u16string_view(printer.driverName) != kModelName) continue;
        const std::u16string_view name(printer.printerName);
        // A name that does not fit its slot would be cut, and a cut name could
        // open another printer and delete its jobs: pass it by.
        if (name.size() >= ModelPrinterList::kSlotUnits) continue;
        list.names.emplace_back(name);
    }
    return true;
}

void cancelModelJobs(platform::Platform& platform) {
    ModelPrinterList list;
    if (!collectModelPrinters(platform, list)) return;
    for (const auto& name : list.names) {
        const auto printer = openForAllAccess(platform, name.c_str());
        if (!printer) continue;
        std::uint32_t count = 0;
        const auto block = enumerate(
            platform,
            [&](std::uint8_t* buffer, std::uint32_t size, std::uint32_t* needed, std::uint32_t* returned) {
                return platform.spooler.enumJobs(printer.get(), 0, kAllJobs, 3, buffer, size, needed, returned);
            },
            count);
        if (!block) continue;
        auto* jobs = static_cast<platform::JobInfo3*>(block.get());
        for (std::uint32_t i = 0; i < count; ++i) {
            (void)platform.spooler.setJob(printer.get(), jobs[i].jobId, 3, reinterpret_cast<std::uint8_t*>(&jobs[i]),
                                          kJobControlDelete);
        }
    }
}

void deleteModelPrinters(platform::Platform& platform) {
    std::uint32_t count = 0;
    const auto block = enumeratePrinters(platform, count);
    if (!block) return;
    const auto* printers = static_cast<const platform::PrinterInfo2*>(block.get());
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto& record = printers[i];
        if (record.driverName == nullptr || record.printerName == nullptr) continue;
        if (!equalIgnoringCase(record.driverName, kModelName)) continue;
        if (const auto printer = openForAllAccess(platform, record.printerName)) {
            (void)platform.spooler.deletePrinter(printer.get());
        }
    }
}

bool deleteModelDriver(platform::Platform& platform) {
    const char16_t* environment = getEnvironment(getSystemBits(platform.system) == 64);
    if (platform.spooler.deletePrinterDriver(nullptr, environment, kModelName)) return true;
    (void)restartSpooler(platform);
    return platform.spooler.deletePrinterDriver(nullptr, environment, kModelName);
}

void removeMonitors(platform::Platform& platform) {
    const bool is64Bit = getSystemBits(platform.system) == 64;
    removeUsbMonitor(platform, is64Bit);
    disableLanguageMonitor(platform);
    SpoolerHandles spooler(platform);
    (void)stopSpoolerService(platform, spooler.service.get());
    deleteMonitorFiles(platform, is64Bit);
    // A spooler still stopping would never be started again and printing
    // would stay off until a restart of the machine: let the stop finish.
    platform::ServiceStatus status{};
    for (std::uint32_t waited = 0; spooler.service && waited < kStopWaitLimitMs; waited += kStopPollMs) {
        if (!platform.services.queryServiceStatus(spooler.service.get(), &status) ||
            status.currentState != kServiceStopPending) {
            break;
        }
        platform.clock.sleep(kStopPollMs);
    }
    if (spoolerStopped(platform, spooler.service.get())) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (platform.services.startService(spooler.service.get(), 0, nullptr)) break;
        }
    }
}

void removeUsbMonitor(platform::Platform& platform, bool is64Bit) {
    (void)platform.spooler.deleteMonitor(nullptr, getEnvironment(is64Bit), kMonitorName);
    auto& registry = platform.registry;
    const std::u16string monitorKey = std::u16string(kMonitorsKey) + u"\\" + kMonitorName;
    platform::Handle raw = nullptr;
    if (registry.regOpenKeyEx(platform::kHkeyLocalMachine, monitorKey.c_str(), 0, kMonitorKeyAccess, &raw) != 0) {
        return;
    }
    {
        platform::UniqueRegistryKey key(registry, raw);
        (void)registry.regDeleteValue(key.get(), kDriverValue);
    }
    if (registry.regOpenKeyEx(platform::kHkeyLocalMachine, kMonitorsKey, 0, kMonitorKeyAccess, &raw) != 0) return;
    platform::UniqueRegistryKey monitors(registry, raw);
    (void)registry.regDeleteKey(monitors.get(), kMonitorName);
}

void deleteMonitorFiles(platform::Platform& platform, bool is64Bit) {
    // Deleted where installation copied them: the system directory the system
    // reports, which is not C:\Windows\System32 on every machine.
    deleteMonitorFilePair(platform);
    if (!is64Bit) return;
    RedirectionOff redirectionOff(platform);
    if (!redirectionOff.libraryLoaded()) return;
    deleteMonitorFilePair(platform);
}

}  // namespace hx::driverutil
