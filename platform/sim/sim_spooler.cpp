// The spooler of the simulated machine, as far as its printer-driver
// directories go.
#include <cstring>

#include "platform/sim/machine_impl.h"

namespace hx::sim::detail {
namespace {

using namespace platform::win;

constexpr std::uint32_t kErrorInvalidLevel = 124;
constexpr std::uint32_t kErrorInvalidEnvironment = 1805;
constexpr std::uint32_t kRpcServerUnavailable = 1722;

struct DriverEnvironment {
    std::u16string_view name;
    std::u16string_view directory;
};
constexpr DriverEnvironment kEnvironments[] = {
    {u"Windows x64", kDriverDirX64},
    {u"Windows NT x86", kDriverDirX86},
};

}  // namespace

bool SimSpooler::getPrinterDriverDirectory(const char16_t* server, const char16_t* environment,
                                           std::uint32_t level, std::uint8_t* buffer, std::uint32_t bufferSize,
                                           std::uint32_t* needed) {
    std::string line = "GetPrinterDriverDirectoryW " + (environment ? toUtf8(environment) : std::string("(null)"));
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (!needed) return failWith(kErrorInvalidParameter);
    if (m_.driverDirectoryFault.fire()) {
        *needed = 0;
        return failWith(m_.driverDirectoryFault.error);
    }
    if (server && *server) return failWith(kRpcServerUnavailable);
    if (level != 1) return failWith(kErrorInvalidLevel);

    // No environment: the one of the calling process.
    std::u16string_view wanted = environment ? std::u16string_view(environment)
                                 : m_.facts.processArchitecture == kProcessorArchitectureAmd64
                                     ? kEnvironments[0].name
                                     : kEnvironments[1].name;
    const DriverEnvironment* match = nullptr;
    for (const auto& candidate : kEnvironments) {
        if (equalsIgnoreCase(candidate.name, wanted)) match = &candidate;
    }
    if (!match) return failWith(kErrorInvalidEnvironment);

    auto bytes = static_cast<std::uint32_t>((match->directory.size() + 1) * sizeof(char16_t));
    *needed = bytes;
    if (!buffer || bufferSize < bytes) return failWith(kErrorInsufficientBuffer);
    std::memcpy(buffer, match->directory.data(), bytes - sizeof(char16_t));
    std::memset(buffer + bytes - sizeof(char16_t), 0, sizeof(char16_t));
    m_.log(line);
    return true;
}

}  // namespace hx::sim::detail
