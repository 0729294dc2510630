// Present USB device interfaces and their device paths (the device-setup
// enumeration calls). Records are layout-compatible with their Windows twins.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace hx::platform {

struct DeviceInterfaceData {
    std::uint32_t cbSize;
    Guid interfaceClassGuid;
    std::uint32_t flags;
    std::uintptr_t reserved;
};

// Variable-length record: cbSize holds kDeviceInterfaceDetailFixedSize, the
// zero-terminated path runs on past the end of the declared array.
struct DeviceInterfaceDetail {
    std::uint32_t cbSize;
    char16_t devicePath[1];
};
inline constexpr std::uint32_t kDeviceInterfaceDetailFixedSize = sizeof(DeviceInterfaceDetail);

// {A5DCBF10-6530-11D2-901F-00C04FB951ED}
inline constexpr Guid kGuidDevInterfaceUsbDevice = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

class UsbDevices {
public:
    virtual ~UsbDevices() = default;
    // SetupDiGetClassDevsW: a device information set (kInvalidHandle on failure,
    // last error set). `enumerator` may be null. Release with destroyDeviceInfoList.
    virtual Handle getClassDevs(const Guid* classGuid, const char16_t* enumerator, std::uint32_t flags) = 0;
    // SetupDiEnumDeviceInterfaces: interface number `index` of the set, in a
    // stable order; false with kErrorNoMoreItems past the last one.
    virtual bool enumDeviceInterfaces(Handle deviceInfoSet, const Guid& classGuid, std::uint32_t index,
                                      DeviceInterfaceData* data) = 0;
    // SetupDiGetDeviceInterfaceDetailW: with no record, false with
    // kErrorInsufficientBuffer and the needed size in *requiredSize; with a record
    // of that size (cbSize = kDeviceInterfaceDetailFixedSize) fills the path.
    virtual bool getDeviceInterfaceDetail(Handle deviceInfoSet, DeviceInterfaceData* data,
                                          DeviceInterfaceDetail* detail, std::uint32_t detailSize,
                                          std::uint32_t* requiredSize) = 0;
    // SetupDiDestroyDeviceInfoList.
    virtual bool destroyDeviceInfoList(Handle deviceInfoSet) = 0;
};

}  // namespace hx::platform
