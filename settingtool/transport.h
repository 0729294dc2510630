// Reaching the printer: finding its USB device path, the cross-process lock
// file, one write per command and one bounded read per reply.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "platform/platform.h"
#include "platform/unique_handle.h"
#include "settingtool/HX352SettingTool.h"

namespace hx::settingtool {

// The library's last error: every failure stores its code, success never clears it.
class ErrorState {
public:
    void set(HXError code) { last_ = code; }
    [[nodiscard]] std::int32_t get() const { return last_; }

private:
    std::int32_t last_ = HX_ERR_SUCCESS;
};

inline constexpr std::size_t kReplyBufferSize = 64;
using ReplyBuffer = std::array<std::uint8_t, kReplyBufferSize>;

// Paths live in buffers of 260 units with the terminator; longer ones are never used.
inline constexpr std::size_t kMaxPathUnits = 259;
inline constexpr std::uint32_t kReplyWaitMs = 1000;
inline constexpr std::uint32_t kLockRetryPauseMs = 100;
inline constexpr int kLockOpenAttempts = 3;
inline constexpr char16_t kLockFileName[] = u"hx352-usb-lock.txt";

// True when a device path names the printer: both tokens upper-case or both
// lower-case; mixed forms are some other device.
[[nodiscard]] bool isPrinterDevicePath(std::u16string_view path);

class Transport {
public:
    Transport(platform::Platform& platform, ErrorState& errors) : platform_(platform), errors_(errors) {}

    // Finds the printer once per process; error 50 when it is not there.
    [[nodiscard]] bool ensurePrinter();
    // Searches the present USB device interfaces; sets no error.
    [[nodiscard]] bool findUsbPrinter();
    // Takes the lock when it can, writes all bytes in one call; leaves the lock held.
    [[nodiscard]] bool usbWrite(std::span<const std::uint8_t> bytes);
    // One read of up to `length` bytes that gives up after 1000 ms; `length`
    // becomes the count received.
    [[nodiscard]] bool usbRead(std::uint8_t* buffer, std::uint32_t& length);
    // Zero-fills the reply buffer and reads one reply into it.
    [[nodiscard]] bool readReply(ReplyBuffer& reply);
    void releaseTransferLock() { lock_.reset(); }

    [[nodiscard]] const std::u16string& devicePath() const { return devicePath_; }
    [[nodiscard]] const std::u16string& lockPath() const { return lockPath_; }
    [[nodiscard]] bool lockHeld() const { return lock_.valid(); }

private:
    void buildLockPath();
    void acquireLock();

    platform::Platform& platform_;
    ErrorState& errors_;
    std::u16string devicePath_;  // set once, by the first successful discovery
    std::u16string lockPath_;    // built by the first write that can have the driver directory
    platform::UniqueFile lock_;
};

}  // namespace hx::settingtool
