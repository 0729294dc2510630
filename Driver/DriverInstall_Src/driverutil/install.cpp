// One installation pass: nothing is rolled back, a later pass repeats every
// step (copies overwrite, a registered monitor counts as success).
#include "Driver/DriverInstall_Src/driverutil/install.h"

#include <array>
#include <cstring>
#include <vector>

#include "Driver/DriverInstall_Src/driverutil/names.h"
#include "Driver/DriverInstall_Src/driverutil/redirection.h"
#include "Driver/DriverInstall_Src/driverutil/system_info.h"
#include "platform/unique_handle.h"
#include "settingtool/HX352SettingTool.h"

namespace hx::driverutil {

using namespace hx::platform::win;

namespace {

constexpr char16_t kDebugPrivilege[] = u"SeDebugPrivilege";
constexpr char16_t kWindowsSystem32[] = u"C:\\WINDOWS\\system32";
constexpr char kSrclientTarget[] = "C:\\WINDOWS\\system32\\srclient.dll";
constexpr char16_t kSrclientTargetWide[] = u"C:\\WINDOWS\\system32\\srclient.dll";
constexpr char16_t kSrclient[] = u"srclient.dll";
constexpr std::size_t kClassNameUnits = 32;

std::u16string join(const std::u16string& directory, const std::u16string& name) {
    if (!directory.empty() && directory.back() == u'\\') return directory + name;
    return directory + u"\\" + name;
}

std::u16string systemDirectory(platform::Platform& platform) {
    std::array<char16_t, kMaxPath> buffer{};
    const auto length = platform.files.getSystemDirectory(buffer.data(), kMaxPath);
    return length < kMaxPath ? std::u16string(buffer.data(), length) : std::u16string();
}

bool usable(platform::Platform& platform, const std::u16string& path) {
    const auto attributes = platform.files.getFileAttributes(path.c_str());
    return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory) == 0;
}

void enableDebugPrivilege(platform::Platform& platform) {
    auto& token = platform.token;
    platform::Handle raw = nullptr;
    if (!token.openProcessToken(kTokenAllAccess, &raw)) return;
    platform::UniqueToken process(token, raw);
    platform::Luid luid{};
    if (!token.lookupPrivilegeValue(nullptr, kDebugPrivilege, &luid)) return;
    (void)token.adjustTokenPrivilege(process.get(), luid, kSePrivilegeEnabled);
}

// The system-restore client, when the system lacks it. It is taken from beside
// the installer: an elevated installer must not take a DLL from its current
// directory, where anyone could have planted one.
void copySrclientIfMissing(platform::Platform& platform, const InstallContext& context) {
    auto& files = platform.files;
    if (!files.pathIsDirectory(kWindowsSystem32) || files.accessAnsi(kSrclientTarget, 0) != -1) return;
    (void)files.copyFile(join(context.programDirectory, kSrclient).c_str(), kSrclientTargetWide, true);
}

// Copies both monitor files into the system directory as it is seen now;
// a file in use stays as it is.
std::uint32_t copyMonitorPass(platform::Platform& platform, const InstallContext& context) {
    const std::u16string target = systemDirectory(platform);
    for (const char16_t* name : {kMonitorUiDll, kMonitorDll}) {
        if (platform.files.copyFile(join(context.programDirectory, name).c_str(), join(target, name).c_str(), false)) {
            continue;
        }
        const std::uint32_t error = platform.lastError.getLastError();
        if (error != kErrorSuccess && error != kErrorSharingViolation) return error;
    }
    return 0;
}

}  // namespace

std::int32_t installDriver(platform::Platform& platform) {
    if (USBCheckConnection() == 0) return 7;
    InstallContext context;
    initInstallContext(platform, context, kModelName);
    return runInstall(platform, context);
}

void initInstallContext(platform::Platform& platform, InstallContext& context, const char16_t* modelName) {
    context.modelName = modelName;
    context.is64Bit = getSystemBits(platform.system) == 64;
    context.isChinese = isChineseOs(platform.system);
}

std::int32_t runInstall(platform::Platform& platform, InstallContext& context) {
    enableDebugPrivilege(platform);
    buildInstallPaths(platform, context);
    copySrclientIfMissing(platform, context);
    if (copyMonitorFiles(platform, context) != 0) return 3;
    if (addUsbMonitor(platform, context)) (void)addUsbPort(platform);
    std::array<std::uint16_t, 64> version{};
    if (HXGetPrinterFirmwareVer(version.data()) == 0) return 7;
    return installInfDriver(platform, context);
}

void buildInstallPaths(platform::Platform& platform, InstallContext& context) {
    std::array<char16_t, kMaxPath> module{};
    const auto length = platform.libraries.getModuleFileName(nullptr, module.data(), kMaxPath - 1);
    const std::u16string path(module.data(), std::min<std::size_t>(length, kMaxPath - 1));
    const auto slash = path.rfind(u'\\');
    context.programDirectory = slash == std::u16string::npos ? std::u16string() : path.substr(0, slash + 1);
    context.sourceDirectory =
        context.programDirectory + context.modelName + u"\\" + (context.isChinese ? u"CHN" : u"ENG");
}

std::uint32_t copyMonitorFiles(platform::Platform& platform, const InstallContext& context) {
    if (const auto error = copyMonitorPass(platform, context)) return error;
    if (!context.is64Bit) return 0;
    RedirectionOff redirectionOff(platform);
    if (!redirectionOff.libraryLoaded()) return 0;
    return copyMonitorPass(platform, context);
}

bool addUsbMonitor(platform::Platform& platform, const InstallContext& context) {
    std::u16string name = kMonitorName;
    std::u16string environment = getEnvironment(context.is64Bit);
    std::u16string dll = kMonitorDll;
    const platform::MonitorInfo2 monitor{name.data(), environment.data(), dll.data()};
    if (platform.spooler.addMonitor(nullptr, 2, &monitor)) return true;
    return platform.lastError.getLastError() == kErrorPrintMonitorAlreadyInstalled;
}

bool addUsbPort(platform::Platform& platform) {
    auto& libraries = platform.libraries;
    platform::UniqueLibrary winspool(libraries, libraries.loadLibrary(u"winspool.drv"));
    if (!winspool) return false;
    const auto addPortExA = libraries.getProcAddress(winspool.get(), "AddPortExA");
    if (addPortExA == nullptr) return false;
    std::string portName = kPortNameAnsi;
    const platform::PortInfo1A port{portName.data()};
    return platform.spooler.callAddPortExA(addPortExA, nullptr, 1, &port, kMonitorNameAnsi);
}

std::int32_t installInfDriver(platform::Platform& platform, const InstallContext& context) {
    const std::u16string infPath = join(context.sourceDirectory, kInfFileName);
    // A path too long for the system's buffers cannot name the package.
    if (infPath.size() >= kMaxPath || !usable(platform, infPath)) return 4;
    bool rebootNeeded = false;  // the installer has no way to offer a restart; not reported
    return installDeviceFromInf(platform, infPath, rebootNeeded) ? 0 : 4;
}

bool installDeviceFromInf(platform::Platform& platform, const std::u16string& infPath, bool& rebootNeeded) {
    auto& setup = platform.deviceSetup;
    std::array<char16_t, kMaxPath> fullPath{};
    char16_t* filePart = nullptr;
    const auto length = platform.files.getFullPathName(infPath.c_str(), kMaxPath, fullPath.data(), &filePart);
    if (length == 0 || length >= kMaxPath || filePart == nullptr) return false;
    if (!usable(platform, fullPath.data())) return false;

    platform::Guid classGuid{};
    std::array<char16_t, kClassNameUnits> className{};
    if (!setup.getInfClass(fullPath.data(), &classGuid, className.data(), kClassNameUnits, nullptr)) return false;
    platform::UniqueSetupDeviceInfoSet set(setup, setup.createDeviceInfoList(&classGuid, nullptr));
    if (!set) return false;

    platform::DeviceInfoData device{};
    device.cbSize = sizeof device;
    // A multi-string: the hardware ID, then an empty string ending the list.
    std::array<char16_t, kMaxPath> hardwareIds{};
    std::char_traits<char16_t>::copy(hardwareIds.data(), kHardwareId, std::char_traits<char16_t>::length(kHardwareId));
    const auto hardwareIdsBytes =
        static_cast<std::uint32_t>((std::char_traits<char16_t>::length(kHardwareId) + 2) * sizeof(char16_t));
    const bool registered =
        setup.createDeviceInfo(set.get(), className.data(), &classGuid, nullptr, nullptr, kDicdGenerateId, &device) &&
        setup.setDeviceRegistryProperty(set.get(), &device, kSpdrpHardwareId,
                                        reinterpret_cast<const std::uint8_t*>(hardwareIds.data()), hardwareIdsBytes) &&
        setup.callClassInstaller(kDifRegisterDevice, set.get(), &device);
    if (!registered) {
        // Some setup calls fail with no error set; those count as done.
        const std::uint32_t error = platform.lastError.getLastError();
        set.reset();
        platform.lastError.setLastError(error);
        return error == 0;
    }
    const auto descriptionBytes =
        static_cast<std::uint32_t>((std::char_traits<char16_t>::length(filePart) + 1) * sizeof(char16_t));
    (void)setup.setDeviceRegistryProperty(set.get(), &device, kSpdrpDeviceDesc,
                                          reinterpret_cast<const std::uint8_t*>(filePart), descriptionBytes);
    return setup.updateDriverForPlugAndPlayDevices(nullptr, kHardwareId, fullPath.data(), kInstallFlagForce,
                                                   &rebootNeeded);
}

}  // namespace hx::driverutil
