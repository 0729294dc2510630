// The print spooler.
#pragma once

#include <cstdint>

namespace hx::platform {

class Spooler {
public:
    virtual ~Spooler() = default;
    // GetPrinterDriverDirectoryW: size query (null buffer: false with
    // kErrorInsufficientBuffer, *needed = bytes) then fill. `server` null is the
    // local machine; `environment` e.g. u"Windows x64".
    virtual bool getPrinterDriverDirectory(const char16_t* server, const char16_t* environment,
                                           std::uint32_t level, std::uint8_t* buffer, std::uint32_t bufferSize,
                                           std::uint32_t* needed) = 0;
};

}  // namespace hx::platform
