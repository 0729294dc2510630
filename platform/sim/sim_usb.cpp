// The simulated USB bus as device setup enumerates it: a device information set
// is a snapshot of the interface paths at the time it was taken.
#include <cstddef>
#include <cstring>

#include "platform/sim/machine_impl.h"

namespace hx::sim::detail {
namespace {

using namespace platform::win;

constexpr std::uint32_t kDigcfAllClasses = 0x4;

}  // namespace

platform::Handle SimUsbDevices::getClassDevs(const platform::Guid* classGuid, const char16_t* /*enumerator*/,
                                             std::uint32_t flags) {
    if (m_.classDevsFault.fire()) {
        m_.fail(m_.classDevsFault.error);
        m_.log("SetupDiGetClassDevsW -> " + std::to_string(m_.classDevsFault.error));
        return platform::kInvalidHandle;
    }
    if (auto fault = m_.injectedFault("SetupDiGetClassDevsW")) {
        m_.fail(*fault);
        m_.log("SetupDiGetClassDevsW -> " + std::to_string(*fault));
        return platform::kInvalidHandle;
    }
    if (!classGuid && !(flags & kDigcfAllClasses)) {
        m_.fail(kErrorInvalidParameter);
        m_.log("SetupDiGetClassDevsW -> " + std::to_string(kErrorInvalidParameter));
        return platform::kInvalidHandle;
    }
    DeviceInfoSet set;
    // Every interface on the bus is a USB device interface and present.
    if (!classGuid || *classGuid == platform::kGuidDevInterfaceUsbDevice) {
        for (const auto& device : m_.usb) set.paths.push_back(device.path);
    }
    m_.log("SetupDiGetClassDevsW");
    // Device setup reports success as NO_ERROR rather than leaving an older error in place.
    m_.lastError = 0;
    return m_.addObject(std::move(set));
}

bool SimUsbDevices::enumDeviceInterfaces(platform::Handle deviceInfoSet, const platform::Guid& classGuid,
                                         std::uint32_t index, platform::DeviceInterfaceData* data) {
    auto line = "SetupDiEnumDeviceInterfaces " + std::to_string(index);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (auto fault = m_.injectedFault("SetupDiEnumDeviceInterfaces")) return failWith(*fault);
    auto* set = m_.findDeviceInfoSet(deviceInfoSet);
    if (!set) return failWith(kErrorInvalidHandle);
    // Windows insists on the record's size being filled in by the caller.
    if (!data || data->cbSize != sizeof(platform::DeviceInterfaceData)) return failWith(kErrorInvalidParameter);
    if (!(classGuid == platform::kGuidDevInterfaceUsbDevice) || index >= set->paths.size()) {
        return failWith(kErrorNoMoreItems);
    }
    data->interfaceClassGuid = classGuid;
    data->flags = 0x1;  // SPINT_ACTIVE
    data->reserved = index + 1;
    m_.log(line);
    return true;
}

bool SimUsbDevices::getDeviceInterfaceDetail(platform::Handle deviceInfoSet, platform::DeviceInterfaceData* data,
                                             platform::DeviceInterfaceDetail* detail, std::uint32_t detailSize,
                                             std::uint32_t* requiredSize) {
    std::string line = "SetupDiGetDeviceInterfaceDetailW";
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (auto fault = m_.injectedFault("SetupDiGetDeviceInterfaceDetailW")) return failWith(*fault);
    auto* set = m_.findDeviceInfoSet(deviceInfoSet);
    if (!set) return failWith(kErrorInvalidHandle);
    if (!data || data->reserved == 0 || data->reserved > set->paths.size()) return failWith(kErrorInvalidParameter);
    const auto& path = set->paths[data->reserved - 1];
    line += " " + std::to_string(data->reserved - 1);

    auto needed = static_cast<std::uint32_t>(offsetof(platform::DeviceInterfaceDetail, devicePath) +
                                             (path.size() + 1) * sizeof(char16_t));
    needed = std::max(needed, platform::kDeviceInterfaceDetailFixedSize);
    if (!detail) {
        if (m_.interfaceDetailFault.fire()) return failWith(m_.interfaceDetailFault.error);
        if (requiredSize) *requiredSize = needed;
        return failWith(kErrorInsufficientBuffer);
    }
    if (detail->cbSize != platform::kDeviceInterfaceDetailFixedSize) return failWith(kErrorInvalidParameter);
    if (detailSize < needed) {
        if (requiredSize) *requiredSize = needed;
        return failWith(kErrorInsufficientBuffer);
    }
    std::memcpy(detail->devicePath, path.c_str(), (path.size() + 1) * sizeof(char16_t));
    if (requiredSize) *requiredSize = needed;
    m_.log(line);
    return true;
}

bool SimUsbDevices::destroyDeviceInfoList(platform::Handle deviceInfoSet) {
    if (auto fault = m_.injectedFault("SetupDiDestroyDeviceInfoList")) {
        m_.fail(*fault);
        m_.log("SetupDiDestroyDeviceInfoList -> " + std::to_string(*fault));
        return false;
    }
    if (!m_.findDeviceInfoSet(deviceInfoSet)) {
        m_.fail(kErrorInvalidHandle);
        m_.log("SetupDiDestroyDeviceInfoList -> " + std::to_string(kErrorInvalidHandle));
        return false;
    }
    m_.closeObject(deviceInfoSet);
    m_.log("SetupDiDestroyDeviceInfoList");
    return true;
}

}  // namespace hx::sim::detail
