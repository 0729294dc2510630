// The process-wide session behind the exports.
#include <memory>

#include "settingtool/session.h"

namespace hx::settingtool {

Session& Session::process() {
    static std::unique_ptr<Session> session;
    static unsigned generation = 0;
    if (!session || generation != platform::processPlatformGeneration()) {
        session.reset();
        generation = platform::processPlatformGeneration();
        session = std::make_unique<Session>(platform::processPlatform());
    }
    return *session;
}

}  // namespace hx::settingtool
