// The process-wide platform and its test override.
#include "platform/platform.h"

namespace hx::platform {
namespace {
Platform* g_override = nullptr;
unsigned g_generation = 0;
}  // namespace

Platform& processPlatform() { return g_override ? *g_override : defaultPlatform(); }

unsigned processPlatformGeneration() { return g_generation; }

ScopedPlatformForTesting::ScopedPlatformForTesting(Platform& platform) : previous_(g_override) {
    g_override = &platform;
    ++g_generation;
}

ScopedPlatformForTesting::~ScopedPlatformForTesting() {
    g_override = previous_;
    ++g_generation;
}

}  // namespace hx::platform
