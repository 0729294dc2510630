// The service control manager of the simulated machine. It knows one service,
// the print spooler, whose stop takes virtual time: a stop request leaves it
// stop-pending, and it reads as stopped once the delay has passed.
#include "platform/sim/machine_impl.h"

namespace hx::sim::detail {
namespace {

using namespace platform::win;

constexpr std::uint32_t kErrorServiceRequestTimeout = 1053;
constexpr std::uint32_t kErrorServiceCannotAcceptControl = 1061;
constexpr std::uint32_t kErrorInvalidServiceControl = 1052;
constexpr std::uint32_t kErrorDatabaseDoesNotExist = 1065;
constexpr std::uint32_t kRpcServerUnavailable = 1722;
constexpr std::uint32_t kServiceQueryStatus = 0x4;
constexpr std::uint32_t kServiceStart = 0x10;
constexpr std::uint32_t kServiceStop = 0x20;
constexpr std::uint32_t kServiceWin32OwnProcess = 0x10;
constexpr std::uint32_t kServiceAcceptStop = 0x1;

std::string describe(const char16_t* text) { return text ? toUtf8(text) : std::string("(null)"); }

}  // namespace

platform::Handle SimServices::openScManager(const char16_t* machine, const char16_t* database, std::uint32_t access) {
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log("OpenSCManagerW -> " + std::to_string(error));
        return platform::Handle{};
    };
    if (auto fault = m_.injectedFault("OpenSCManagerW")) return failWith(*fault);
    if (machine && *machine) return failWith(kRpcServerUnavailable);
    if (database && *database && !equalsIgnoreCase(database, u"ServicesActive")) {
        return failWith(kErrorDatabaseDoesNotExist);
    }
    auto handle = m_.newHandle();
    m_.serviceHandles.emplace(reinterpret_cast<std::uintptr_t>(handle), OpenService{true, access});
    m_.log("OpenSCManagerW");
    return handle;
}

platform::Handle SimServices::openService(platform::Handle manager, const char16_t* name, std::uint32_t access) {
    auto line = "OpenServiceW " + describe(name);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return platform::Handle{};
    };
    if (auto fault = m_.injectedFault("OpenServiceW")) return failWith(*fault);
    auto open = m_.serviceHandles.find(reinterpret_cast<std::uintptr_t>(manager));
    if (open == m_.serviceHandles.end() || !open->second.manager) return failWith(kErrorInvalidHandle);
    if (!name) return failWith(kErrorInvalidParameter);
    if (!equalsIgnoreCase(name, u"Spooler")) return failWith(kErrorServiceDoesNotExist);
    auto handle = m_.newHandle();
    m_.serviceHandles.emplace(reinterpret_cast<std::uintptr_t>(handle), OpenService{false, access});
    m_.log(line);
    return handle;
}

namespace {

void fillStatus(ServiceState state, std::uint32_t stopDelayMs, platform::ServiceStatus* status) {
    if (!status) return;
    *status = {};
    status->serviceType = kServiceWin32OwnProcess;
    status->currentState = static_cast<std::uint32_t>(state);
    status->controlsAccepted = state == ServiceState::Running ? kServiceAcceptStop : 0;
    bool pending = state == ServiceState::StopPending || state == ServiceState::StartPending;
    status->checkPoint = pending ? 1 : 0;
    status->waitHint = pending ? stopDelayMs : 0;
}

}  // namespace

bool SimServices::queryServiceStatus(platform::Handle service, platform::ServiceStatus* status) {
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log("QueryServiceStatus -> " + std::to_string(error));
        return false;
    };
    if (auto fault = m_.injectedFault("QueryServiceStatus")) return failWith(*fault);
    auto open = m_.serviceHandles.find(reinterpret_cast<std::uintptr_t>(service));
    if (open == m_.serviceHandles.end() || open->second.manager) return failWith(kErrorInvalidHandle);
    if (!status) return failWith(kErrorInvalidParameter);
    if (!(open->second.access & kServiceQueryStatus)) return failWith(kErrorAccessDenied);
    m_.settleSpooler();
    fillStatus(m_.spoolerState, m_.owner->spoolerStopDelayMs, status);
    m_.log("QueryServiceStatus " + std::to_string(status->currentState));
    return true;
}

bool SimServices::controlService(platform::Handle service, std::uint32_t control, platform::ServiceStatus* status) {
    auto line = "ControlService " + std::to_string(control);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (auto fault = m_.injectedFault("ControlService")) return failWith(*fault);
    auto open = m_.serviceHandles.find(reinterpret_cast<std::uintptr_t>(service));
    if (open == m_.serviceHandles.end() || open->second.manager) return failWith(kErrorInvalidHandle);
    if (control != kServiceControlStop) return failWith(kErrorInvalidServiceControl);
    if (!(open->second.access & kServiceStop)) return failWith(kErrorAccessDenied);
    m_.settleSpooler();
    if (m_.spoolerState == ServiceState::Stopped) return failWith(kErrorServiceNotActive);
    if (m_.spoolerState != ServiceState::Running || m_.spoolerStopRefusal.fire()) {
        fillStatus(m_.spoolerState, m_.owner->spoolerStopDelayMs, status);
        return failWith(kErrorServiceCannotAcceptControl);
    }
    m_.setSpooler(ServiceState::StopPending);
    fillStatus(m_.spoolerState, m_.owner->spoolerStopDelayMs, status);
    m_.log(line);
    return true;
}

bool SimServices::startService(platform::Handle service, std::uint32_t /*argCount*/, const char16_t** /*args*/) {
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log("StartServiceW -> " + std::to_string(error));
        return false;
    };
    if (auto fault = m_.injectedFault("StartServiceW")) return failWith(*fault);
    auto open = m_.serviceHandles.find(reinterpret_cast<std::uintptr_t>(service));
    if (open == m_.serviceHandles.end() || open->second.manager) return failWith(kErrorInvalidHandle);
    if (!(open->second.access & kServiceStart)) return failWith(kErrorAccessDenied);
    m_.settleSpooler();
    if (m_.spoolerState != ServiceState::Stopped) return failWith(kErrorServiceAlreadyRunning);
    if (m_.spoolerStartRefusal.fire()) return failWith(kErrorServiceRequestTimeout);
    m_.setSpooler(ServiceState::Running);
    m_.log("StartServiceW");
    return true;
}

bool SimServices::closeServiceHandle(platform::Handle handle) {
    if (auto fault = m_.injectedFault("CloseServiceHandle")) {
        m_.fail(*fault);
        m_.log("CloseServiceHandle -> " + std::to_string(*fault));
        return false;
    }
    if (m_.serviceHandles.erase(reinterpret_cast<std::uintptr_t>(handle)) == 0) {
        m_.fail(kErrorInvalidHandle);
        m_.log("CloseServiceHandle -> " + std::to_string(kErrorInvalidHandle));
        return false;
    }
    m_.log("CloseServiceHandle");
    return true;
}

}  // namespace hx::sim::detail

namespace hx::sim {

using namespace detail;

ServiceState Machine::Impl::spoolerStateNow() const {
    if (spoolerState == ServiceState::StopPending && nowMs >= spoolerStopsAtMs) return ServiceState::Stopped;
    return spoolerState;
}

void Machine::Impl::settleSpooler() { setSpooler(spoolerStateNow()); }

void Machine::Impl::setSpooler(ServiceState state) {
    if (state == spoolerState) return;
    if (state == ServiceState::StopPending) spoolerStopsAtMs = nowMs + owner->spoolerStopDelayMs;
    // Whatever the spooler held open goes with the run that is ending, and
    // printers deleted while their handles were open go for good.
    if (spoolerState == ServiceState::Running) {
        ++spoolerRun;
        printersPendingDeletion.clear();
    }
    spoolerState = state;
}

ServiceState Machine::spoolerState() const { return impl_->spoolerStateNow(); }
void Machine::setSpoolerState(ServiceState state) { impl_->setSpooler(state); }
void Machine::refuseSpoolerStop(int times) { impl_->spoolerStopRefusal.set(kErrorServiceCannotAcceptControl, times); }
void Machine::refuseSpoolerStart(int times) { impl_->spoolerStartRefusal.set(kErrorServiceRequestTimeout, times); }

}  // namespace hx::sim
