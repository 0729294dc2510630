// The process-wide platform of the Windows build: the real services.
#include "platform/win32/services.h"

namespace hx::platform {

Platform& defaultPlatform() {
    static Platform platform{win32::clock(),     win32::codePages(),  win32::files(),
                             win32::lastError(), win32::memory(),     win32::resources(),
                             win32::spooler(),   win32::systemInfo(), win32::usbDevices()};
    return platform;
}

}  // namespace hx::platform
