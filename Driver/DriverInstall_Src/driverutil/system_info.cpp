// The operating-system name by one decision table over the version record, and
// the small system facts.
#include "Driver/DriverInstall_Src/driverutil/system_info.h"

#include <algorithm>
#include <string_view>

#include "Driver/DriverInstall_Src/driverutil/names.h"
#include "platform/unique_handle.h"

namespace hx::driverutil {

using namespace hx::platform::win;

namespace {

constexpr std::uint32_t kAny = 0xFFFFFFFFu;

// The further test a row of the name table puts to the system.
enum class Test {
    None,
    PlatformNt,
    PlatformWindows,
    WorkstationOnAmd64,
    ServerR2,
    Workstation,
    WorkstationTrueMajor10,
};

struct NameRow {
    std::uint32_t major;  // kAny: any major
    std::uint32_t minor;  // kAny: any minor
    Test test;
    const char16_t* name;  // null: nothing is written
};

// The first row that matches decides. Windows 8 and later report 6.2 to a
// program that does not declare them, so 6.2 asks the true version; 6.2 on a
// server is named like 6.1 on purpose.
constexpr NameRow kNameTable[] = {
    {4, 0, Test::PlatformNt, u"Microsoft Windows NT 4.0"},
    {4, 0, Test::PlatformWindows, u"Microsoft Windows 95"},
    {4, 0, Test::None, nullptr},
    {4, 10, Test::None, u"Microsoft Windows 98"},
    {4, 90, Test::None, u"Microsoft Windows Me"},
    {4, kAny, Test::None, nullptr},
    {5, 0, Test::None, u"Microsoft Windows 2000"},
    {5, 1, Test::None, u"Microsoft Windows XP"},
    {5, 2, Test::WorkstationOnAmd64, u"Microsoft Windows XP Professional x64 Edition"},
    {5, 2, Test::ServerR2, u"Microsoft Windows Server 2003 R2"},
    {5, 2, Test::None, u"Microsoft Windows Server 2003"},
    {5, kAny, Test::None, nullptr},
    {6, 0, Test::Workstation, u"Microsoft Windows Vista"},
    {6, 0, Test::None, u"Microsoft Windows Server 2008"},
    {6, 1, Test::Workstation, u"Microsoft Windows 7"},
    {6, 1, Test::None, u"Microsoft Windows Server 2008 R2"},
    {6, 2, Test::WorkstationTrueMajor10, u"Microsoft Windows 10"},
    {6, 2, Test::Workstation, u"Microsoft Windows 8"},
    {6, 2, Test::None, u"Microsoft Windows Server 2008 R2"},
    {6, kAny, Test::None, nullptr},
    {kAny, kAny, Test::None, u"Unknow OS"},
};

static_assert(std::all_of(std::begin(kNameTable), std::end(kNameTable), [](const NameRow& row) {
    return row.name == nullptr || std::u16string_view(row.name).size() < kOsNameUnits;
}));

// The major version the system really runs, through RtlGetNtVersionNumbers;
// 0 when ntdll or the procedure is not there.
std::uint32_t trueMajorVersion(platform::Platform& platform) {
    platform::UniqueLibrary ntdll(platform.libraries, platform.libraries.loadLibrary(u"ntdll.dll"));
    if (!ntdll) return 0;
    const platform::Procedure procedure = platform.libraries.getProcAddress(ntdll.get(), "RtlGetNtVersionNumbers");
    if (procedure == nullptr) return 0;
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t build = 0;
    platform.system.callRtlGetNtVersionNumbers(procedure, &major, &minor, &build);
    return major;
}

bool passes(Test test, platform::Platform& platform, const platform::OsVersionInfoEx& version,
            std::uint16_t architecture) {
    const bool workstation = version.productType == kVerNtWorkstation;
    switch (test) {
        case Test::None:
            return true;
        case Test::PlatformNt:
            return version.platformId == kVerPlatformWin32Nt;
        case Test::PlatformWindows:
            return version.platformId == kVerPlatformWin32Windows;
        case Test::WorkstationOnAmd64:
            return workstation && architecture == kProcessorArchitectureAmd64;
        case Test::ServerR2:
            return platform.system.getSystemMetrics(kSmServerR2) != 0;
        case Test::Workstation:
            return workstation;
        case Test::WorkstationTrueMajor10:
            return workstation && trueMajorVersion(platform) == 10;
    }
    return false;
}

}  // namespace

bool getOsName(platform::Platform& platform, char16_t* name) {
    if (name == nullptr) return false;
    const std::uint16_t architecture = platform.system.getSystemInfo().processorArchitecture;
    platform::OsVersionInfoEx version{};
    version.osVersionInfoSize = sizeof(version);
    if (!platform.system.getVersionEx(&version)) return false;

    for (const NameRow& row : kNameTable) {
        if (row.major != kAny && row.major != version.majorVersion) continue;
        if (row.minor != kAny && row.minor != version.minorVersion) continue;
        if (!passes(row.test, platform, version, architecture)) continue;
        if (row.name != nullptr) {
            // Bounded by the name itself: the caller's buffer holds the longest one.
            const std::u16string_view text(row.name);
            std::copy(text.begin(), text.end(), name);
            name[text.size()] = u'\0';
        }
        break;
    }
    return true;
}

int getSystemBits(platform::SystemInfo& system) {
    // The native view tells a 32-bit process on a 64-bit machine the truth;
    // where it is missing, the process's own view is all there is.
    const auto info = system.hasNativeSystemInfo() ? system.getNativeSystemInfo() : system.getSystemInfo();
    const bool is64 = info.processorArchitecture == kProcessorArchitectureAmd64 ||
                      info.processorArchitecture == kProcessorArchitectureIa64;
    return is64 ? 64 : 32;
}

const char16_t* getEnvironment(bool is64Bit) { return is64Bit ? kEnvironmentX64 : kEnvironmentX86; }

bool isChineseOs(platform::SystemInfo& system) { return system.getSystemDefaultLangId() == kLangChineseSimplified; }

}  // namespace hx::driverutil
