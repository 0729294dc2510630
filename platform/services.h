// The service control manager, for the print spooler service.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace hx::platform {

// Layout-compatible with SERVICE_STATUS.
struct ServiceStatus {
    std::uint32_t serviceType;
    std::uint32_t currentState;
    std::uint32_t controlsAccepted;
    std::uint32_t win32ExitCode;
    std::uint32_t serviceSpecificExitCode;
    std::uint32_t checkPoint;
    std::uint32_t waitHint;
};

namespace win {
inline constexpr std::uint32_t kScManagerEnumerateService = 0x4;
inline constexpr std::uint32_t kServiceAllAccess = 0xF01FF;
inline constexpr std::uint32_t kServiceControlStop = 1;
inline constexpr std::uint32_t kServiceStopped = 1;
inline constexpr std::uint32_t kServiceStartPending = 2;
inline constexpr std::uint32_t kServiceStopPending = 3;
inline constexpr std::uint32_t kServiceRunning = 4;
inline constexpr std::uint32_t kErrorServiceNotActive = 1062;
inline constexpr std::uint32_t kErrorServiceAlreadyRunning = 1056;
inline constexpr std::uint32_t kErrorServiceDoesNotExist = 1060;
}  // namespace win

class Services {
public:
    virtual ~Services() = default;
    // OpenSCManagerW: null on failure (last error set).
    virtual Handle openScManager(const char16_t* machine, const char16_t* database, std::uint32_t access) = 0;
    // OpenServiceW: null on failure.
    virtual Handle openService(Handle manager, const char16_t* name, std::uint32_t access) = 0;
    // QueryServiceStatus: the state now (a stop takes time to complete).
    virtual bool queryServiceStatus(Handle service, ServiceStatus* status) = 0;
    // ControlService: true when the request was accepted (not when it completed).
    virtual bool controlService(Handle service, std::uint32_t control, ServiceStatus* status) = 0;
    // StartServiceW: kErrorServiceAlreadyRunning when it is not stopped.
    virtual bool startService(Handle service, std::uint32_t argCount, const char16_t** args) = 0;
    // CloseServiceHandle.
    virtual bool closeServiceHandle(Handle handle) = 0;
};

}  // namespace hx::platform
