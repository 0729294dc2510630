// The process-wide session behind the exports.
#include <memory>

#include "settingtool/session.h"

namespace hx::settingtool {
namespace {
std::unique_ptr<Session> g_session;
unsigned g_generation = 0;
}  // namespace

Session& Session::process() {
    if (!g_session || g_generation != platform::processPlatformGeneration()) {
        g_session.reset();
        g_generation = platform::processPlatformGeneration();
        g_session = std::make_unique<Session>(platform::processPlatform());
    }
    return *g_session;
}

void Session::discardProcess() { g_session.reset(); }

}  // namespace hx::settingtool
