// The operating-system name table, the word size, the environment names and
// the Chinese-system test.
#include <algorithm>
#include <optional>
#include <string>

#include "tests/driverutil/fixture.h"

namespace hx::test {
namespace {

constexpr uint16_t kUntouched = 0xAAAA;

using SystemInfoTest = DriverUtilTest;

TEST_F(SystemInfoTest, OsNameByTheDecisionTable) {
    struct Case {
        uint32_t major;
        uint32_t minor;
        uint32_t platformId = 2;
        uint8_t productType = 1;
        int serverR2 = 0;
        std::optional<uint32_t> trueMajor = 10;
        uint16_t processArchitecture = 9;
        uint16_t nativeArchitecture = 9;
        bool ntdllMissing = false;
        std::optional<std::u16string> name = std::nullopt;  // none: nothing is written
    };
    const Case cases[] = {
        {.major = 4, .minor = 0, .platformId = 2, .name = u"Microsoft Windows NT 4.0"},
        {.major = 4, .minor = 0, .platformId = 1, .name = u"Microsoft Windows 95"},
        {.major = 4, .minor = 0, .platformId = 0},
        {.major = 4, .minor = 0, .platformId = 3},
        {.major = 4, .minor = 10, .platformId = 1, .name = u"Microsoft Windows 98"},
        {.major = 4, .minor = 90, .platformId = 1, .name = u"Microsoft Windows Me"},
        {.major = 4, .minor = 1},
        {.major = 5, .minor = 0, .productType = 3, .name = u"Microsoft Windows 2000"},
        {.major = 5, .minor = 1, .name = u"Microsoft Windows XP"},
        {.major = 5, .minor = 2, .name = u"Microsoft Windows XP Professional x64 Edition"},
        {.major = 5, .minor = 2, .serverR2 = 1, .name = u"Microsoft Windows XP Professional x64 Edition"},
        {.major = 5, .minor = 2, .processArchitecture = 6, .name = u"Microsoft Windows Server 2003"},
        {.major = 5, .minor = 2, .serverR2 = 1, .processArchitecture = 6, .name = u"Microsoft Windows Server 2003 R2"},
        // A 32-bit process on the x64 edition sees an x86 processor in GetSystemInfo.
        {.major = 5, .minor = 2, .processArchitecture = 0, .name = u"Microsoft Windows Server 2003"},
        {.major = 5, .minor = 2, .productType = 3, .name = u"Microsoft Windows Server 2003"},
        {.major = 5, .minor = 2, .productType = 2, .serverR2 = 1, .name = u"Microsoft Windows Server 2003 R2"},
        {.major = 5, .minor = 3},
        {.major = 6, .minor = 0, .name = u"Microsoft Windows Vista"},
        {.major = 6, .minor = 0, .productType = 3, .name = u"Microsoft Windows Server 2008"},
        {.major = 6, .minor = 0, .productType = 2, .name = u"Microsoft Windows Server 2008"},
        {.major = 6, .minor = 1, .name = u"Microsoft Windows 7"},
        {.major = 6, .minor = 1, .productType = 3, .name = u"Microsoft Windows Server 2008 R2"},
        {.major = 6, .minor = 2, .trueMajor = 10, .name = u"Microsoft Windows 10"},
        {.major = 6, .minor = 2, .trueMajor = 6, .name = u"Microsoft Windows 8"},
        {.major = 6, .minor = 2, .trueMajor = std::nullopt, .name = u"Microsoft Windows 8"},
        {.major = 6, .minor = 2, .trueMajor = 10, .ntdllMissing = true, .name = u"Microsoft Windows 8"},
        {.major = 6, .minor = 2, .productType = 3, .trueMajor = 10, .name = u"Microsoft Windows Server 2008 R2"},
        {.major = 6, .minor = 3},
        {.major = 6, .minor = 4},
        {.major = 3, .minor = 51, .name = u"Unknow OS"},
        {.major = 10, .minor = 0, .name = u"Unknow OS"},
        {.major = 7, .minor = 2, .name = u"Unknow OS"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.major << "." << c.minor << " platform " << c.platformId << " product " << int(c.productType)
                     << " R2 " << c.serverR2 << " arch " << c.processArchitecture << " true major "
                     << (c.trueMajor ? int(*c.trueMajor) : -1) << (c.ntdllMissing ? " no ntdll" : ""));
        auto& facts = machine.system();
        facts.majorVersion = c.major;
        facts.minorVersion = c.minor;
        facts.platformId = c.platformId;
        facts.productType = c.productType;
        facts.serverR2Metric = c.serverR2;
        facts.trueMajorVersion = c.trueMajor;
        facts.processArchitecture = c.processArchitecture;
        facts.nativeArchitecture = c.nativeArchitecture;
        if (c.ntdllMissing) machine.failOperation("LoadLibraryW", platform::win::kErrorModNotFound, 1);

        uint16_t name[256];
        std::fill(std::begin(name), std::end(name), kUntouched);
        EXPECT_EQ(getOsName(name), 1);
        if (c.name) {
            EXPECT_EQ(u16(name), *c.name);
            // The copy ends with the terminator.
            EXPECT_TRUE(
                std::all_of(name + c.name->size() + 1, std::end(name), [](uint16_t u) { return u == kUntouched; }));
        } else {
            EXPECT_TRUE(std::all_of(std::begin(name), std::end(name), [](uint16_t u) { return u == kUntouched; }));
        }
        EXPECT_EQ(machine.openResources().libraries, 0);
    }
}

TEST_F(SystemInfoTest, OsNameWithoutDestinationOrVersionWritesNothing) {
    EXPECT_EQ(getOsName(nullptr), 0);
    machine.system().versionQueryFails = true;
    uint16_t name[64];
    std::fill(std::begin(name), std::end(name), kUntouched);
    EXPECT_EQ(getOsName(name), 0);
    EXPECT_TRUE(std::all_of(std::begin(name), std::end(name), [](uint16_t u) { return u == kUntouched; }));
}

TEST_F(SystemInfoTest, AZeroFilledDestinationStaysEmptyWithoutAName) {
    machine.system().majorVersion = 6;
    machine.system().minorVersion = 3;
    uint16_t name[256] = {};
    EXPECT_EQ(getOsName(name), 1);
    EXPECT_EQ(u16(name), u"");
}

TEST_F(SystemInfoTest, SystemBitsFollowTheNativeArchitecture) {
    struct Case {
        bool hasNative;
        uint16_t native;
        uint16_t process;
        int32_t bits;
    };
    const Case cases[] = {
        {true, 9, 9, 64}, {true, 9, 0, 64},  {true, 6, 6, 64},  {true, 0, 9, 32},  {true, 12, 12, 32},
        {true, 5, 5, 32}, {false, 9, 0, 32}, {false, 0, 9, 64}, {false, 0, 6, 64},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "native " << c.hasNative << " " << c.native << " process " << c.process);
        machine.system().hasNativeSystemInfo = c.hasNative;
        machine.system().nativeArchitecture = c.native;
        machine.system().processArchitecture = c.process;
        EXPECT_EQ(GetSystemBits(), c.bits);
    }
}

TEST(Environment, NonZeroFlagsNameThe64BitEnvironment) {
    EXPECT_EQ(u16(getEnvironment(0)), u"Windows NT x86");
    for (int32_t flag : {1, 2, 5, -1}) {
        EXPECT_EQ(u16(getEnvironment(flag)), u"Windows x64") << flag;
        EXPECT_EQ(getEnvironment(flag), getEnvironment(1));
    }
}

TEST_F(SystemInfoTest, OnlySimplifiedChineseCountsAsChinese) {
    const std::pair<uint16_t, int32_t> cases[] = {{0x0804, 1}, {0x0404, 0}, {0x0C04, 0}, {0x1004, 0},
                                                  {0x1404, 0}, {0x0004, 0}, {0x0409, 0}};
    for (const auto& [langId, chinese] : cases) {
        machine.system().defaultLangId = langId;
        EXPECT_EQ(isChineseOs(), chinese) << std::hex << langId;
    }
}

}  // namespace
}  // namespace hx::test
