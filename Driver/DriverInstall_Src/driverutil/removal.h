// Driver removal: language monitor off, the OEM INF copy deleted, jobs,
// printers and driver deleted, the USB port monitor with its registry entries
// and files removed, the spooler restarted on the way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace hx::driverutil {

// 0 when the driver was deleted, 6 when the first spooler restart or the
// driver deletion failed.
[[nodiscard]] std::int32_t uninstallDriver(platform::Platform& platform);

void disableLanguageMonitor(platform::Platform& platform);

// The printers whose jobs are deleted: matching names among the first 128
// enumerated printers.
struct ModelPrinterList {
    static constexpr std::size_t kSlots = 128;
    static constexpr std::size_t kSlotUnits = 128;
    std::vector<std::u16string> names;
};
[[nodiscard]] bool collectModelPrinters(platform::Platform& platform, ModelPrinterList& list);
void cancelModelJobs(platform::Platform& platform);
void deleteModelPrinters(platform::Platform& platform);
[[nodiscard]] bool deleteModelDriver(platform::Platform& platform);
void removeMonitors(platform::Platform& platform);
void removeUsbMonitor(platform::Platform& platform, bool is64Bit);
void deleteMonitorFiles(platform::Platform& platform, bool is64Bit);

}  // namespace hx::driverutil
