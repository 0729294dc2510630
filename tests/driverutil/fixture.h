// Shared set-up for the driver utility library's tests: a fresh simulated
// machine installed as the process platform, and a check after every test
// that nothing the library acquired was left open.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "Driver/DriverInstall_Src/driverutil/HX352DriverUtil.h"
#include "platform/sim/machine.h"
#include "settingtool/session.h"

namespace hx::test {

class DriverUtilTest : public ::testing::Test {
protected:
    void TearDown() override {
        // The settings library may keep its transfer lock by design; nothing else stays open.
        auto open = machine.openResources();
        if (settingtool::Session::process().transport.lockHeld()) --open.fileHandles;
        EXPECT_TRUE(open.none()) << machine.describeOpenResources();
    }

    sim::Machine machine;
    // Also gives the settings library, which installation calls, a fresh session.
    settingtool::ScopedSessionForTesting scope{machine.platform()};
};

inline const uint16_t* w(const std::u16string& text) { return reinterpret_cast<const uint16_t*>(text.c_str()); }
inline const uint16_t* w(const char16_t* text) { return reinterpret_cast<const uint16_t*>(text); }
inline std::u16string u16(const uint16_t* text) { return reinterpret_cast<const char16_t*>(text); }

}  // namespace hx::test
