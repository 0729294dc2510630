// Where a module built without a resource section (the Linux builds) registers
// the data that Windows would carry as resources, so that Resources finds it by
// module name, type and id just as FindResourceW would.
#pragma once

#include <cstdint>
#include <span>

namespace hx::platform {

void registerModuleResource(const char16_t* moduleName, const char16_t* type, std::uint16_t id,
                            std::span<const std::uint8_t> bytes);

// Empty when nothing was registered under these names.
std::span<const std::uint8_t> findRegisteredModuleResource(const char16_t* moduleName, const char16_t* type,
                                                           std::uint16_t id);

// Registers at static initialisation of the module that defines it.
struct ModuleResourceRegistration {
    ModuleResourceRegistration(const char16_t* moduleName, const char16_t* type, std::uint16_t id,
                               std::span<const std::uint8_t> bytes) {
        registerModuleResource(moduleName, type, id, bytes);
    }
};

}  // namespace hx::platform
