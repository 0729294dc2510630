// File-system redirection switched off for the lifetime of one object, so the
// second pass of a 64-bit installation or removal reaches the real system
// directory from a 32-bit process.
#pragma once

#include "platform/platform.h"
#include "platform/unique_handle.h"

namespace hx::driverutil {

class RedirectionOff {
public:
    explicit RedirectionOff(platform::Platform& platform);
    ~RedirectionOff();
    RedirectionOff(const RedirectionOff&) = delete;
    RedirectionOff& operator=(const RedirectionOff&) = delete;

    // False when "Kernel32.dll" could not be loaded: the pass is skipped.
    [[nodiscard]] bool libraryLoaded() const { return kernel32_.valid(); }

private:
    platform::Platform& platform_;
    platform::UniqueLibrary kernel32_;
    platform::Procedure revert_ = nullptr;
    void* oldValue_ = nullptr;
    bool disabled_ = false;
};

}  // namespace hx::driverutil
