// Version facts of the simulated machine: the version record a program without
// a compatibility manifest is shown, the R2 metric, and the true version that
// ntdll tells whatever the manifest says.
#include <algorithm>
#include <iterator>

#include "platform/sim/machine_impl.h"

namespace hx::sim::detail {
namespace {

using namespace platform::win;

// OSVERSIONINFOW, the record without the service-pack and product fields.
constexpr std::uint32_t kOsVersionInfoSize = 276;
constexpr std::uint16_t kVerSuiteSingleUserTs = 0x100;
constexpr std::uint16_t kVerSuiteTerminal = 0x10;
// RtlGetNtVersionNumbers marks the build of a released (free) system so.
constexpr std::uint32_t kFreeBuildMark = 0xF0000000u;

static_assert(sizeof(platform::OsVersionInfoEx) == 284);

}  // namespace

bool SimSystemInfo::getVersionEx(platform::OsVersionInfoEx* info) {
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log("GetVersionExW -> " + std::to_string(error));
        return false;
    };
    if (auto fault = m_.injectedFault("GetVersionExW")) return failWith(*fault);
    if (!info || m_.facts.versionQueryFails) return failWith(kErrorInvalidParameter);
    std::uint32_t size = info->osVersionInfoSize;
    if (size != sizeof(platform::OsVersionInfoEx) && size != kOsVersionInfoSize) {
        return failWith(kErrorInvalidParameter);
    }
    const auto& facts = m_.facts;
    info->majorVersion = facts.majorVersion;
    info->minorVersion = facts.minorVersion;
    info->buildNumber = facts.buildNumber;
    info->platformId = facts.platformId;
    std::fill(std::begin(info->csdVersion), std::end(info->csdVersion), u'\0');
    if (size == sizeof(platform::OsVersionInfoEx)) {
        info->servicePackMajor = 0;
        info->servicePackMinor = 0;
        info->suiteMask = facts.productType == kVerNtWorkstation ? kVerSuiteSingleUserTs
                                                                 : kVerSuiteSingleUserTs | kVerSuiteTerminal;
        info->productType = facts.productType;
        info->reserved = 0;
    }
    m_.log("GetVersionExW " + std::to_string(facts.majorVersion) + "." + std::to_string(facts.minorVersion) + "." +
           std::to_string(facts.buildNumber));
    return true;
}

int SimSystemInfo::getSystemMetrics(int index) {
    if (auto fault = m_.injectedFault("GetSystemMetrics")) {
        m_.fail(*fault);
        m_.log("GetSystemMetrics " + std::to_string(index) + " -> " + std::to_string(*fault));
        return 0;
    }
    int value = index == kSmServerR2 ? m_.facts.serverR2Metric : 0;
    m_.log("GetSystemMetrics " + std::to_string(index) + " " + std::to_string(value));
    return value;
}

void SimSystemInfo::callRtlGetNtVersionNumbers(platform::Procedure procedure, std::uint32_t* major,
                                               std::uint32_t* minor, std::uint32_t* build) {
    constexpr std::string_view kName = "RtlGetNtVersionNumbers";
    // The procedure has no result: a failure leaves the outputs alone.
    if (auto fault = m_.injectedFault(kName)) {
        m_.log(std::string(kName) + " -> " + std::to_string(*fault));
        return;
    }
    const auto& facts = m_.facts;
    if (!procedure || procedure != procedureFor(kName) || !facts.trueMajorVersion) {
        m_.log(std::string(kName) + " -> " + std::to_string(kErrorInvalidParameter));
        return;
    }
    // The version record may be the compatibility one (6.2 for 10.0); only a
    // matching major version vouches for its minor version.
    std::uint32_t trueMinor = *facts.trueMajorVersion == facts.majorVersion ? facts.minorVersion : 0;
    if (major) *major = *facts.trueMajorVersion;
    if (minor) *minor = trueMinor;
    if (build) *build = facts.buildNumber | kFreeBuildMark;
    m_.log(std::string(kName) + " " + std::to_string(*facts.trueMajorVersion) + "." + std::to_string(trueMinor));
}

}  // namespace hx::sim::detail
