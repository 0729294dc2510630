// DeviceSetup over SetupAPI's device-information calls and newdev's driver update.
#include <windows.h>
// After <windows.h>, on which they build.
#include <newdev.h>
#include <setupapi.h>

#include <cstddef>

#include "platform/win32/services.h"

namespace hx::platform::win32 {
namespace {

static_assert(sizeof(DeviceInfoData) == sizeof(SP_DEVINFO_DATA));
static_assert(sizeof(DeviceInfoData) == 32);
static_assert(offsetof(DeviceInfoData, cbSize) == offsetof(SP_DEVINFO_DATA, cbSize));
static_assert(offsetof(DeviceInfoData, classGuid) == offsetof(SP_DEVINFO_DATA, ClassGuid));
static_assert(offsetof(DeviceInfoData, devInst) == offsetof(SP_DEVINFO_DATA, DevInst));
static_assert(offsetof(DeviceInfoData, reserved) == offsetof(SP_DEVINFO_DATA, Reserved));

static_assert(win::kDicdGenerateId == DICD_GENERATE_ID);
static_assert(win::kDifRegisterDevice == DIF_REGISTERDEVICE);
static_assert(win::kSpdrpDeviceDesc == SPDRP_DEVICEDESC && win::kSpdrpHardwareId == SPDRP_HARDWAREID);
static_assert(win::kInstallFlagForce == INSTALLFLAG_FORCE);
static_assert(win::kErrorNoSuchDevinst == ERROR_NO_SUCH_DEVINST);
static_assert(win::kErrorInvalidClassInstaller == ERROR_INVALID_CLASS_INSTALLER);

GUID* native(Guid* guid) { return reinterpret_cast<GUID*>(guid); }
const GUID* native(const Guid* guid) { return reinterpret_cast<const GUID*>(guid); }
SP_DEVINFO_DATA* native(DeviceInfoData* data) { return reinterpret_cast<SP_DEVINFO_DATA*>(data); }
HWND window(Handle handle) { return static_cast<HWND>(handle); }

class Win32DeviceSetup final : public DeviceSetup {
public:
    bool getInfClass(const char16_t* infPath, Guid* classGuid, char16_t* className, std::uint32_t classNameSize,
                     std::uint32_t* requiredSize) override {
        DWORD required = 0;
        const BOOL ok = ::SetupDiGetINFClassW(wide(infPath), native(classGuid), wide(className), classNameSize,
                                              requiredSize ? &required : nullptr);
        if (requiredSize) *requiredSize = required;
        return ok != FALSE;
    }

    Handle createDeviceInfoList(const Guid* classGuid, Handle owner) override {
        return ::SetupDiCreateDeviceInfoList(native(classGuid), window(owner));
    }

    bool createDeviceInfo(Handle set, const char16_t* deviceName, const Guid* classGuid, const char16_t* description,
                          Handle owner, std::uint32_t flags, DeviceInfoData* data) override {
        return ::SetupDiCreateDeviceInfoW(set, wide(deviceName), native(classGuid), wide(description), window(owner),
                                          flags, native(data)) != FALSE;
    }

    bool setDeviceRegistryProperty(Handle set, DeviceInfoData* data, std::uint32_t property,
                                   const std::uint8_t* buffer, std::uint32_t size) override {
        return ::SetupDiSetDeviceRegistryPropertyW(set, native(data), property, buffer, size) != FALSE;
    }

    bool callClassInstaller(std::uint32_t function, Handle set, DeviceInfoData* data) override {
        return ::SetupDiCallClassInstaller(function, set, native(data)) != FALSE;
    }

    bool destroyDeviceInfoList(Handle set) override { return ::SetupDiDestroyDeviceInfoList(set) != FALSE; }

    bool updateDriverForPlugAndPlayDevices(Handle owner, const char16_t* hardwareId, const char16_t* infPath,
                                           std::uint32_t flags, bool* rebootRequired) override {
        BOOL reboot = FALSE;
        const BOOL ok = ::UpdateDriverForPlugAndPlayDevicesW(window(owner), wide(hardwareId), wide(infPath), flags,
                                                             rebootRequired ? &reboot : nullptr);
        if (rebootRequired) *rebootRequired = reboot != FALSE;
        return ok != FALSE;
    }
};

}  // namespace

DeviceSetup& deviceSetup() {
    static Win32DeviceSetup instance;
    return instance;
}

}  // namespace hx::platform::win32
