// configCOM and configLPT: the serial line settings through the platform's
// settings dialog, and the parallel-port time-out through the caller's dialog.
#include "Driver/DriverInstall_Src/driverutil/port_settings.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "Driver/DriverInstall_Src/driverutil/HX352DriverUtil.h"
#include "Driver/DriverInstall_Src/driverutil/allocator.h"
#include "platform/unique_handle.h"

namespace hx::driverutil {

using namespace hx::platform::win;

namespace {

static_assert(sizeof(platform::Dcb) == 28);
static_assert(sizeof(platform::CommConfig) == 52);

constexpr std::uint32_t kCommConfigVersion = 0x100;
constexpr std::uint32_t kSlowestDefaultedBaud = 9600;
constexpr std::u16string_view kDevicePrefix = u"\\\\.\\";
constexpr const char16_t* kWindowsKey = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
constexpr const char16_t* kRetryTimeoutValue = u"TransmissionRetryTimeout";

// A port name or device path in its 32-unit buffer.
using PortText = std::array<char16_t, 32>;

// The name without its trailing colon; nothing when it would not fit its
// buffer, since a cut name would name another port.
std::optional<PortText> nameWithoutColon(const char16_t* portName) {
    if (portName == nullptr) return std::nullopt;
    std::u16string_view name(portName);
    if (!name.empty() && name.back() == u':') name.remove_suffix(1);
    PortText out{};
    if (name.size() >= out.size()) return std::nullopt;
    std::copy(name.begin(), name.end(), out.begin());
    return out;
}

std::optional<PortText> devicePath(const PortText& name) {
    const std::u16string_view bare(name.data());
    PortText out{};
    if (kDevicePrefix.size() + bare.size() >= out.size()) return std::nullopt;
    std::copy(bare.begin(), bare.end(), std::copy(kDevicePrefix.begin(), kDevicePrefix.end(), out.begin()));
    return out;
}

bool isSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

}  // namespace

platform::Dcb defaultSerialSettings(std::uint32_t baudRate) {
    platform::Dcb dcb{};
    dcb.dcbLength = sizeof(platform::Dcb);
    dcb.baudRate = baudRate;
    dcb.flags = kDcbBinary | kDcbDtrControlEnable;
    dcb.xonLim = 2048;
    dcb.xoffLim = 512;
    dcb.byteSize = 8;
    dcb.parity = 0;
    dcb.stopBits = 0;
    dcb.xonChar = 0x11;
    dcb.xoffChar = 0x13;
    return dcb;
}

std::int32_t configCom(platform::Platform& platform, const char16_t* portName, std::int32_t baudRate,
                       platform::Handle owner, void** savedSettings, bool showDialog) {
    // Names too long for the 32-unit name or device-path buffers are refused
    // before the device is touched.
    const auto name = nameWithoutColon(portName);
    if (!name) return kPortConfigFailed;
    const auto path = devicePath(*name);
    if (!path) return kPortConfigFailed;

    platform::CommConfig config{};
    config.size = sizeof(platform::CommConfig);
    config.version = kCommConfigVersion;

    platform::UniqueFile device(
        platform.files, platform.files.createFile(path->data(), kGenericRead | kGenericWrite, 0, kOpenExisting, 0));
    if (!device) return kPortConfigFailed;

    void* remembered = savedSettings != nullptr ? *savedSettings : nullptr;
    if (remembered != nullptr) {
        std::memcpy(&config.dcb, remembered, sizeof(platform::Dcb));
    } else {
        if (!platform.serial.getCommState(device.get(), &config.dcb)) return kPortConfigFailed;
        // Only a device slower than 9600 baud, asked for exactly 9600, starts
        // from the defaults; the baud argument has no other say.
        if (config.dcb.baudRate < kSlowestDefaultedBaud &&
            baudRate == static_cast<std::int32_t>(kSlowestDefaultedBaud)) {
            config.dcb = defaultSerialSettings(kSlowestDefaultedBaud);
        }
    }

    // A cancelled dialog leaves the prepared settings, which are applied all the same.
    if (showDialog) (void)platform.serial.commConfigDialog(name->data(), owner, &config);

    if (!platform.serial.setCommState(device.get(), &config.dcb)) return kPortConfigFailed;

    if (savedSettings == nullptr) return kPortConfigured;
    if (*savedSettings == nullptr) {
        // Kept for the caller's next call, for as long as the caller likes;
        // not being able to remember is no failure of the configuration.
        OwnedBlock block = allocateOwned(platform.memory, sizeof(platform::Dcb), false);
        if (!block) return kPortConfigured;
        *savedSettings = block.release();
    }
    std::memcpy(*savedSettings, &config.dcb, sizeof(platform::Dcb));
    return kPortConfigured;
}

std::int32_t configLpt(platform::Platform& platform, const char16_t* portName, std::int32_t templateId,
                       platform::DialogProc dialogProc) {
    const auto name = nameWithoutColon(portName);
    if (!name) return kPortConfigFailed;

    // One extra zero unit keeps a value that fills the whole capacity terminated.
    std::array<char16_t, 261> timeout{};
    {
        platform::Handle opened = nullptr;
        if (platform.registry.regOpenKeyEx(platform::kHkeyLocalMachine, kWindowsKey, 0, kKeyReadWrite, &opened) !=
            kErrorSuccess) {
            return kPortConfigFailed;
        }
        platform::UniqueRegistryKey key(platform.registry, opened);
        std::uint32_t type = 0;
        std::uint32_t size = 520;
        if (platform.registry.regQueryValueEx(key.get(), kRetryTimeoutValue, &type,
                                              reinterpret_cast<std::uint8_t*>(timeout.data()),
                                              &size) != kErrorSuccess) {
            // What a failed read left behind is not the value: read it as absent.
            timeout.fill(u'\0');
        }
    }

    // The dialog procedure finds the port and the current time-out in its
    // WM_INITDIALOG parameter; the block lives until the modal dialog ends.
    const LPTDialogParam param{reinterpret_cast<const std::uint16_t*>(name->data()),
                               leadingNumber(std::u16string_view(timeout.data()))};
    // Only the low word names the template; the dialog's end result is not used.
    (void)platform.ui.dialogBoxParam(nullptr, static_cast<std::uint16_t>(templateId & 0xFFFF), nullptr, dialogProc,
                                     reinterpret_cast<std::intptr_t>(&param));
    return kPortConfigured;
}

std::int32_t leadingNumber(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = std::min(value * 10 + (text[i] - u'0'), kLimit);
    }
    if (negative) return static_cast<std::int32_t>(-value);
    return static_cast<std::int32_t>(std::min<std::int64_t>(value, kLimit - 1));
}

}  // namespace hx::driverutil
