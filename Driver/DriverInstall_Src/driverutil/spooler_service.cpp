// The spooler service. Without a service handle every request fails, which is
// how removal learns that it may not control the spooler.
#include "Driver/DriverInstall_Src/driverutil/spooler_service.h"

#include "Driver/DriverInstall_Src/driverutil/names.h"

namespace hx::driverutil {

using namespace hx::platform::win;

namespace {
constexpr int kServiceRequestTries = 3;
}  // namespace

SpoolerHandles::SpoolerHandles(platform::Platform& platform)
    : manager(platform.services, platform.services.openScManager(nullptr, nullptr, kScManagerEnumerateService)),
      service(platform.services,
              manager ? platform.services.openService(manager.get(), kSpoolerService, kServiceAllAccess) : nullptr) {}

bool spoolerStopped(platform::Platform& platform, platform::Handle service) {
    platform::ServiceStatus status{};
    return service != nullptr && platform.services.queryServiceStatus(service, &status) &&
           status.currentState == kServiceStopped;
}

bool stopSpoolerService(platform::Platform& platform, platform::Handle service) {
    if (spoolerStopped(platform, service)) return true;
    for (int attempt = 0; attempt < kServiceRequestTries; ++attempt) {
        platform::ServiceStatus status{};
        if (platform.services.controlService(service, kServiceControlStop, &status)) return true;
    }
    return false;
}

bool startSpoolerService(platform::Platform& platform, platform::Handle service) {
    if (!spoolerStopped(platform, service)) return true;
    for (int attempt = 0; attempt < kServiceRequestTries; ++attempt) {
        if (platform.services.startService(service, 0, nullptr)) return true;
    }
    return false;
}

bool restartSpooler(platform::Platform& platform) {
    SpoolerHandles spooler(platform);
    const bool stopped = stopSpoolerService(platform, spooler.service.get());
    platform.clock.sleep(kSpoolerSettleMs);
    const bool started = startSpoolerService(platform, spooler.service.get());
    platform.clock.sleep(kSpoolerSettleMs);
    return stopped && started;
}

}  // namespace hx::driverutil
