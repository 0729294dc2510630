// The process-wide platform of the Windows build: the real services.
#include "platform/win32/services.h"

namespace hx::platform {

Platform& defaultPlatform() {
    static Platform platform{.clock = win32::clock(),
                             .codePages = win32::codePages(),
                             .files = win32::files(),
                             .lastError = win32::lastError(),
                             .memory = win32::memory(),
                             .resources = win32::resources(),
                             .spooler = win32::spooler(),
                             .system = win32::systemInfo(),
                             .usb = win32::usbDevices(),
                             .deviceSetup = win32::deviceSetup(),
                             .libraries = win32::libraries(),
                             .registry = win32::registry(),
                             .serial = win32::serialPorts(),
                             .services = win32::services(),
                             .shell = win32::shell(),
                             .token = win32::token(),
                             .ui = win32::windowsUi()};
    return platform;
}

}  // namespace hx::platform
