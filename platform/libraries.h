// Modules loaded and procedures looked up at run time, and calls through the
// procedures so found. A procedure is opaque to the logic: it is only handed
// back to the typed call of the interface that knows its signature.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace hx::platform {

using Procedure = void (*)();

class Libraries {
public:
    virtual ~Libraries() = default;
    // LoadLibraryW: null on failure. Release with freeLibrary.
    virtual Handle loadLibrary(const char16_t* name) = 0;
    // GetModuleHandleW: an already loaded module, not counted; null when absent.
    virtual Handle getModuleHandle(const char16_t* name) = 0;
    // GetProcAddress: null when the module lacks it.
    virtual Procedure getProcAddress(Handle module, const char* name) = 0;
    // FreeLibrary.
    virtual bool freeLibrary(Handle module) = 0;
    // GetModuleFileNameW: units written without the terminator, 0 on failure;
    // a null module is the program's executable.
    virtual std::uint32_t getModuleFileName(Handle module, char16_t* buffer, std::uint32_t size) = 0;
};

}  // namespace hx::platform
