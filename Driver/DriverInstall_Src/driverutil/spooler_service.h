// Stopping and starting the print spooler service around removal's steps.
#pragma once

#include "platform/platform.h"
#include "platform/unique_handle.h"

namespace hx::driverutil {

inline constexpr std::uint32_t kSpoolerSettleMs = 1000;

// The manager and the "Spooler" service, each null when it could not be opened.
struct SpoolerHandles {
    explicit SpoolerHandles(platform::Platform& platform);
    platform::UniqueServiceHandle manager;
    platform::UniqueServiceHandle service;
};

// True when the service is stopped, or a stop request was accepted (up to
// three requests); it does not wait for the stopped state.
[[nodiscard]] bool stopSpoolerService(platform::Platform& platform, platform::Handle service);
// True when the service is not stopped, or a start succeeded (up to three tries).
[[nodiscard]] bool startSpoolerService(platform::Platform& platform, platform::Handle service);
// Stop, settle, start, settle: true when both steps succeeded.
[[nodiscard]] bool restartSpooler(platform::Platform& platform);
// Whether the service state can be read and is "stopped".
[[nodiscard]] bool spoolerStopped(platform::Platform& platform, platform::Handle service);

}  // namespace hx::driverutil
