// Discovery, the lock file and the device transfers.
#include "settingtool/transport.h"

#include <cstring>

#include "settingtool/driver_directory.h"

namespace hx::settingtool {

using namespace hx::platform::win;
using platform::kInvalidHandle;

bool isPrinterDevicePath(std::u16string_view path) {
    const auto has = [&](std::u16string_view token) { return path.find(token) != std::u16string_view::npos; };
    return (has(u"PID_811E") && has(u"VID_0FE6")) || (has(u"vid_0fe6") && has(u"pid_811e"));
}

bool Transport::ensurePrinter() {
    if (devicePath_.empty()) (void)findUsbPrinter();
    if (devicePath_.empty()) {
        errors_.set(HX_ERR_NOT_FINE_USB_PRINTER);
        return false;
    }
    return true;
}

bool Transport::findUsbPrinter() {
    auto& usb = platform_.usb;
    const auto& usbClass = platform::kGuidDevInterfaceUsbDevice;
    platform::UniqueDeviceInfoSet set(usb, usb.getClassDevs(&usbClass, nullptr, kDigcfPresent | kDigcfDeviceInterface));
    const std::uint32_t setError = platform_.lastError.getLastError();
    if (!set || setError == kErrorInvalidParameter || setError == kErrorInvalidFlags) return false;

    for (std::uint32_t index = 0;; ++index) {
        platform::DeviceInterfaceData data{};
        data.cbSize = sizeof data;
        if (!usb.enumDeviceInterfaces(set.get(), usbClass, index, &data)) return false;

        std::uint32_t required = 0;
        if (!usb.getDeviceInterfaceDetail(set.get(), &data, nullptr, 0, &required) &&
            platform_.lastError.getLastError() != kErrorInsufficientBuffer) {
            return false;
        }
        if (required < platform::kDeviceInterfaceDetailFixedSize) continue;
        // One spare unit so the path is terminated whatever the call wrote.
        platform::UniqueHeapBlock block(platform_.memory,
                                        platform_.memory.allocate(required + sizeof(char16_t), true));
        if (!block) continue;
        auto* detail = static_cast<platform::DeviceInterfaceDetail*>(block.get());
        detail->cbSize = platform::kDeviceInterfaceDetailFixedSize;
        if (!usb.getDeviceInterfaceDetail(set.get(), &data, detail, required, nullptr)) continue;

        const std::u16string_view path(detail->devicePath);
        // A path that does not fit the 260-unit state could only be kept cut,
        // and a cut path names another device: pass it by.
        if (isPrinterDevicePath(path) && path.size() <= kMaxPathUnits) {
            devicePath_ = path;
            return true;
        }
    }
}

void Transport::buildLockPath() {
    const auto directory = getPrinterDriverDir(platform_, getSystemBits(platform_.system) == 64);
    if (!directory) return;
    std::u16string path = *directory + u"\\" + kLockFileName;
    // Too long for the state: no lock path, writes go ahead without the lock.
    if (path.size() <= kMaxPathUnits) lockPath_ = std::move(path);
}

void Transport::acquireLock() {
    if (lockPath_.empty()) buildLockPath();
    if (lockPath_.empty()) return;
    for (int attempt = 0; attempt < kLockOpenAttempts; ++attempt) {
        const auto handle = platform_.files.createFile(lockPath_.c_str(), kGenericRead | kGenericWrite, 0,
                                                       kOpenExisting,
                                                       kFileFlagSequentialScan | kFileAttributeNormal);
        if (handle != kInvalidHandle) {
            lock_ = platform::UniqueFile(platform_.files, handle);
            return;
        }
        const std::uint32_t error = platform_.lastError.getLastError();
        if (error == kErrorFileNotFound) return;
        if (error == kErrorSharingViolation) platform_.clock.sleep(kLockRetryPauseMs);
    }
}

bool Transport::usbWrite(std::span<const std::uint8_t> bytes) {
    releaseTransferLock();
    acquireLock();
    if (devicePath_.empty()) {
        errors_.set(HX_ERR_CANNOT_OPEN_USB_PRINTER);
        return false;
    }
    auto& files = platform_.files;
    platform::UniqueFile device(files, files.createFile(devicePath_.c_str(), kGenericRead | kGenericWrite,
                                                        kFileShareRead | kFileShareWrite, kOpenAlways,
                                                        kFileAttributeNormal));
    if (!device) {
        errors_.set(HX_ERR_CANNOT_OPEN_USB_PRINTER);
        return false;
    }
    const auto length = static_cast<std::uint32_t>(bytes.size());
    std::uint32_t written = 0;
    if (bytes.size() != length || !files.writeFile(device.get(), bytes.data(), length, &written) ||
        written < length) {
        errors_.set(HX_ERR_WRITE_USB_FAIL);
        return false;
    }
    return true;
}

bool Transport::usbRead(std::uint8_t* buffer, std::uint32_t& length) {
    if (devicePath_.empty()) {
        errors_.set(HX_ERR_CANNOT_OPEN_USB_PRINTER);
        return false;
    }
    auto& files = platform_.files;
    platform::UniqueFile device(
        files, files.createFile(devicePath_.c_str(), kGenericRead | kGenericWrite, 0, kOpenExisting,
                                kFileFlagOverlapped | kFileFlagSequentialScan | kFileAttributeNormal));
    if (!device) {
        errors_.set(HX_ERR_CANNOT_OPEN_USB_PRINTER);
        return false;
    }
    platform::Overlapped overlapped{};
    std::uint32_t received = 0;
    if (files.readFile(device.get(), buffer, length, &received, &overlapped)) {
        length = received;
        return true;
    }
    if (platform_.lastError.getLastError() == kErrorIoPending) {
        (void)platform_.clock.waitForSingleObject(device.get(), kReplyWaitMs);
        if (files.getOverlappedResult(device.get(), &overlapped, &received, false) && received > 0) {
            length = received;
            return true;
        }
        (void)files.cancelIo(device.get());
        // The read owns the buffer and the record until the cancellation lands.
        (void)files.getOverlappedResult(device.get(), &overlapped, &received, true);
    }
    length = 0;
    errors_.set(HX_ERR_READ_USB_FAIL);
    return false;
}

bool Transport::readReply(ReplyBuffer& reply) {
    reply.fill(0);
    std::uint32_t length = static_cast<std::uint32_t>(reply.size());
    return usbRead(reply.data(), length);
}

}  // namespace hx::settingtool
