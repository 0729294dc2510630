// Redirection off, restored with the saved value before the library is freed.
#include "Driver/DriverInstall_Src/driverutil/redirection.h"

namespace hx::driverutil {

RedirectionOff::RedirectionOff(platform::Platform& platform)
    : platform_(platform), kernel32_(platform.libraries, platform.libraries.loadLibrary(u"Kernel32.dll")) {
    if (!kernel32_) return;
    auto& libraries = platform.libraries;
    const auto disable = libraries.getProcAddress(kernel32_.get(), "Wow64DisableWow64FsRedirection");
    revert_ = libraries.getProcAddress(kernel32_.get(), "Wow64RevertWow64FsRedirection");
    // A 64-bit process has no redirection to switch: the call fails and the
    // pass simply runs again on the same directory.
    if (disable != nullptr && revert_ != nullptr) {
        disabled_ = platform.files.callWow64DisableFsRedirection(disable, &oldValue_);
    }
}

RedirectionOff::~RedirectionOff() {
    if (disabled_) (void)platform_.files.callWow64RevertFsRedirection(revert_, oldValue_);
    // kernel32_ is freed after the revert, by member destruction.
}

}  // namespace hx::driverutil
