// UsbDevices over the device-setup enumeration of device interfaces.
#include <windows.h>
// After <windows.h>, on which it builds.
#include <setupapi.h>

#include <cstddef>

#include "platform/win32/services.h"

namespace hx::platform::win32 {
namespace {

static_assert(sizeof(Guid) == sizeof(GUID));
static_assert(offsetof(Guid, data4) == offsetof(GUID, Data4));

static_assert(sizeof(DeviceInterfaceData) == sizeof(SP_DEVICE_INTERFACE_DATA));
static_assert(offsetof(DeviceInterfaceData, cbSize) == offsetof(SP_DEVICE_INTERFACE_DATA, cbSize));
static_assert(offsetof(DeviceInterfaceData, interfaceClassGuid) ==
              offsetof(SP_DEVICE_INTERFACE_DATA, InterfaceClassGuid));
static_assert(offsetof(DeviceInterfaceData, flags) == offsetof(SP_DEVICE_INTERFACE_DATA, Flags));
static_assert(offsetof(DeviceInterfaceData, reserved) == offsetof(SP_DEVICE_INTERFACE_DATA, Reserved));

// The size field of the detail record must hold exactly what Windows expects.
static_assert(kDeviceInterfaceDetailFixedSize == sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W));
static_assert(offsetof(DeviceInterfaceDetail, cbSize) == offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, cbSize));
static_assert(offsetof(DeviceInterfaceDetail, devicePath) == offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath));

const GUID* native(const Guid* guid) { return reinterpret_cast<const GUID*>(guid); }

class Win32UsbDevices final : public UsbDevices {
public:
    Handle getClassDevs(const Guid* classGuid, const char16_t* enumerator, std::uint32_t flags) override {
        return ::SetupDiGetClassDevsW(native(classGuid), wide(enumerator), nullptr, flags);
    }

    bool enumDeviceInterfaces(Handle deviceInfoSet, const Guid& classGuid, std::uint32_t index,
                              DeviceInterfaceData* data) override {
        return ::SetupDiEnumDeviceInterfaces(deviceInfoSet, nullptr, native(&classGuid), index,
                                             reinterpret_cast<SP_DEVICE_INTERFACE_DATA*>(data)) != FALSE;
    }

    bool getDeviceInterfaceDetail(Handle deviceInfoSet, DeviceInterfaceData* data, DeviceInterfaceDetail* detail,
                                  std::uint32_t detailSize, std::uint32_t* requiredSize) override {
        DWORD required = 0;
        const BOOL ok = ::SetupDiGetDeviceInterfaceDetailW(
            deviceInfoSet, reinterpret_cast<SP_DEVICE_INTERFACE_DATA*>(data),
            reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detail), detailSize, &required, nullptr);
        if (requiredSize) *requiredSize = required;
        return ok != FALSE;
    }

    bool destroyDeviceInfoList(Handle deviceInfoSet) override {
        return ::SetupDiDestroyDeviceInfoList(deviceInfoSet) != FALSE;
    }
};

}  // namespace

UsbDevices& usbDevices() {
    static Win32UsbDevices instance;
    return instance;
}

}  // namespace hx::platform::win32
