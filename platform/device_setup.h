// Device installation: the INF's setup class, a new device element with its
// hardware ID, and the plug-and-play driver update.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace hx::platform {

// Layout-compatible with SP_DEVINFO_DATA (32 bytes on 64-bit Windows).
struct DeviceInfoData {
    std::uint32_t cbSize;
    Guid classGuid;
    std::uint32_t devInst;
    std::uintptr_t reserved;
};

namespace win {
inline constexpr std::uint32_t kDicdGenerateId = 0x1;
inline constexpr std::uint32_t kDifRegisterDevice = 0x19;
inline constexpr std::uint32_t kSpdrpDeviceDesc = 0x0;
inline constexpr std::uint32_t kSpdrpHardwareId = 0x1;
inline constexpr std::uint32_t kInstallFlagForce = 0x1;
inline constexpr std::uint32_t kErrorNoSuchDevinst = 0xE000020B;
inline constexpr std::uint32_t kErrorInvalidClassInstaller = 0xE000020D;
}  // namespace win

class DeviceSetup {
public:
    virtual ~DeviceSetup() = default;
    // SetupDiGetINFClassW: the class GUID and name the INF declares.
    virtual bool getInfClass(const char16_t* infPath, Guid* classGuid, char16_t* className,
                             std::uint32_t classNameSize, std::uint32_t* requiredSize) = 0;
    // SetupDiCreateDeviceInfoList: kInvalidHandle on failure. Release with
    // destroyDeviceInfoList.
    virtual Handle createDeviceInfoList(const Guid* classGuid, Handle window) = 0;
    // SetupDiCreateDeviceInfoW: a new element of the set (data->cbSize must be set).
    virtual bool createDeviceInfo(Handle set, const char16_t* deviceName, const Guid* classGuid,
                                  const char16_t* description, Handle window, std::uint32_t flags,
                                  DeviceInfoData* data) = 0;
    // SetupDiSetDeviceRegistryPropertyW.
    virtual bool setDeviceRegistryProperty(Handle set, DeviceInfoData* data, std::uint32_t property,
                                           const std::uint8_t* buffer, std::uint32_t size) = 0;
    // SetupDiCallClassInstaller: kDifRegisterDevice makes the element a
    // registered (phantom) device that outlives the set.
    virtual bool callClassInstaller(std::uint32_t function, Handle set, DeviceInfoData* data) = 0;
    // SetupDiDestroyDeviceInfoList.
    virtual bool destroyDeviceInfoList(Handle set) = 0;
    // UpdateDriverForPlugAndPlayDevicesW: installs the INF's driver for the
    // devices with that hardware ID; false when none matches.
    virtual bool updateDriverForPlugAndPlayDevices(Handle window, const char16_t* hardwareId,
                                                   const char16_t* infPath, std::uint32_t flags,
                                                   bool* rebootRequired) = 0;
};

}  // namespace hx::platform
