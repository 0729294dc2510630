// Services over the service control manager.
#include <windows.h>

#include <cstddef>

#include "platform/win32/services.h"

namespace hx::platform::win32 {
namespace {

static_assert(sizeof(ServiceStatus) == sizeof(SERVICE_STATUS));
static_assert(offsetof(ServiceStatus, serviceType) == offsetof(SERVICE_STATUS, dwServiceType));
static_assert(offsetof(ServiceStatus, currentState) == offsetof(SERVICE_STATUS, dwCurrentState));
static_assert(offsetof(ServiceStatus, controlsAccepted) == offsetof(SERVICE_STATUS, dwControlsAccepted));
static_assert(offsetof(ServiceStatus, win32ExitCode) == offsetof(SERVICE_STATUS, dwWin32ExitCode));
static_assert(offsetof(ServiceStatus, serviceSpecificExitCode) ==
              offsetof(SERVICE_STATUS, dwServiceSpecificExitCode));
static_assert(offsetof(ServiceStatus, checkPoint) == offsetof(SERVICE_STATUS, dwCheckPoint));
static_assert(offsetof(ServiceStatus, waitHint) == offsetof(SERVICE_STATUS, dwWaitHint));

static_assert(win::kScManagerEnumerateService == SC_MANAGER_ENUMERATE_SERVICE);
static_assert(win::kServiceAllAccess == SERVICE_ALL_ACCESS);
static_assert(win::kServiceControlStop == SERVICE_CONTROL_STOP);
static_assert(win::kServiceStopped == SERVICE_STOPPED && win::kServiceRunning == SERVICE_RUNNING);
static_assert(win::kServiceStartPending == SERVICE_START_PENDING && win::kServiceStopPending == SERVICE_STOP_PENDING);

SC_HANDLE native(Handle handle) { return static_cast<SC_HANDLE>(handle); }
SERVICE_STATUS* native(ServiceStatus* status) { return reinterpret_cast<SERVICE_STATUS*>(status); }

class Win32Services final : public Services {
public:
    Handle openScManager(const char16_t* machine, const char16_t* database, std::uint32_t access) override {
        return ::OpenSCManagerW(wide(machine), wide(database), access);
    }

    Handle openService(Handle manager, const char16_t* name, std::uint32_t access) override {
        return ::OpenServiceW(native(manager), wide(name), access);
    }

    bool queryServiceStatus(Handle service, ServiceStatus* status) override {
        return ::QueryServiceStatus(native(service), native(status)) != FALSE;
    }

    // Windows insists on a status record even when the caller wants none.
    bool controlService(Handle service, std::uint32_t control, ServiceStatus* status) override {
        ServiceStatus ignored{};
        return ::ControlService(native(service), control, native(status ? status : &ignored)) != FALSE;
    }

    bool startService(Handle service, std::uint32_t argCount, const char16_t** args) override {
        return ::StartServiceW(native(service), argCount, reinterpret_cast<const wchar_t**>(args)) != FALSE;
    }

    bool closeServiceHandle(Handle handle) override { return ::CloseServiceHandle(native(handle)) != FALSE; }
};

}  // namespace

Services& services() {
    static Win32Services instance;
    return instance;
}

}  // namespace hx::platform::win32
