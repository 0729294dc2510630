// Time: pauses and bounded waits. The simulation runs them on virtual time.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace hx::platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Sleep: blocks the caller for `milliseconds`.
    virtual void sleep(std::uint32_t milliseconds) = 0;
    // WaitForSingleObject: blocks until `object` is signalled (kWaitObject0) or
    // `milliseconds` pass (kWaitTimeout); kWaitFailed with the last error set.
    // A file handle opened for overlapped use is signalled when its read completes.
    virtual std::uint32_t waitForSingleObject(Handle object, std::uint32_t milliseconds) = 0;
    // GetTickCount64: milliseconds since an arbitrary start; never goes back.
    virtual std::uint64_t tickCount() = 0;
};

}  // namespace hx::platform
