// The library's process-wide state: the platform it acts on, the last error,
// the transport with its device path and lock, the kind of the last setting
// command and the text language. One instance per process (per test platform).
#pragma once

#include <cstdint>
#include <optional>

#include "platform/platform.h"
#include "settingtool/HX352SettingTool.h"
#include "settingtool/texts.h"
#include "settingtool/transport.h"

namespace hx::settingtool {

// Which acknowledgement GetSettingResult waits for.
enum class SettingKind : std::int32_t {
    None = 0,
    PrintSetting = 1,
    UserDefSetting = 2,
    RestoreFactory = 3,
    Location = 4,
    DumpMode = 5,
    Firmware = 6,
    PaperLearn = 7,
};

class Session {
public:
    explicit Session(platform::Platform& platform) : platform(platform), transport(platform, errors) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The instance the exports use, built on the process platform; a test that
    // installs its own platform gets a fresh one.
    static Session& process();
    // Drops the process instance, releasing what it holds (the transfer lock)
    // through the platform it was built on.
    static void discardProcess();

    platform::Platform& platform;
    ErrorState errors;
    Transport transport;
    SettingKind settingKind = SettingKind::None;
    std::optional<Language> language;  // read on first lookup, kept for the process
};

// Runs the exports on `platform` with a fresh session, and drops that session
// while the platform still lives.
class ScopedSessionForTesting {
public:
    explicit ScopedSessionForTesting(platform::Platform& platform) : platform_(platform) { Session::discardProcess(); }
    ~ScopedSessionForTesting() { Session::discardProcess(); }
    ScopedSessionForTesting(const ScopedSessionForTesting&) = delete;
    ScopedSessionForTesting& operator=(const ScopedSessionForTesting&) = delete;

private:
    platform::ScopedPlatformForTesting platform_;
};

}  // namespace hx::settingtool
