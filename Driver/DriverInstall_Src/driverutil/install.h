// Driver installation: the printer check, the USB port monitor and its port,
// and the driver package installed from its INF through a new device element.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace hx::driverutil {

struct InstallContext {
    const char16_t* modelName = nullptr;
    std::u16string sourceDirectory;   // program directory, model name, language folder
    std::u16string programDirectory;  // with its trailing backslash
    bool is64Bit = false;
    bool isChinese = false;
};

// The whole installation: 0, 3, 4 or 7.
[[nodiscard]] std::int32_t installDriver(platform::Platform& platform);

void initInstallContext(platform::Platform& platform, InstallContext& context, const char16_t* modelName);
[[nodiscard]] std::int32_t runInstall(platform::Platform& platform, InstallContext& context);
void buildInstallPaths(platform::Platform& platform, InstallContext& context);
// 0, or the system error of the copy that failed.
[[nodiscard]] std::uint32_t copyMonitorFiles(platform::Platform& platform, const InstallContext& context);
[[nodiscard]] bool addUsbMonitor(platform::Platform& platform, const InstallContext& context);
bool addUsbPort(platform::Platform& platform);
[[nodiscard]] std::int32_t installInfDriver(platform::Platform& platform, const InstallContext& context);
[[nodiscard]] bool installDeviceFromInf(platform::Platform& platform, const std::u16string& infPath,
                                        bool& rebootNeeded);

}  // namespace hx::driverutil
