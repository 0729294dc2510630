// The calling thread's last-error value, as every platform operation leaves it.
#pragma once

#include <cstdint>

namespace hx::platform {

class LastError {
public:
    virtual ~LastError() = default;
    // GetLastError: the value the latest failing operation of this thread stored.
    virtual std::uint32_t getLastError() = 0;
    // SetLastError.
    virtual void setLastError(std::uint32_t code) = 0;
};

}  // namespace hx::platform
