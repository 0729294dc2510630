// Data built into a module (on Windows, its resource section).
#pragma once

#include <cstdint>
#include <span>

namespace hx::platform {

class Resources {
public:
    virtual ~Resources() = default;
    // GetModuleHandleW + FindResourceW + LoadResource + LockResource + SizeofResource:
    // the bytes of resource (`type`, `id`) of the loaded module named `moduleName`;
    // empty when the module or the resource is missing. The bytes live as long as
    // the module.
    virtual std::span<const std::uint8_t> findModuleResource(const char16_t* moduleName, const char16_t* type,
                                                             std::uint16_t id) = 0;
};

}  // namespace hx::platform
