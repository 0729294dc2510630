// Spooler over winspool.
#include <windows.h>
#include <winspool.h>

#include "platform/win32/services.h"

namespace hx::platform::win32 {
namespace {

// winspool declares its name arguments non-const but only reads them.
wchar_t* input(const char16_t* text) { return const_cast<wchar_t*>(wide(text)); }

class Win32Spooler final : public Spooler {
public:
    bool getPrinterDriverDirectory(const char16_t* server, const char16_t* environment, std::uint32_t level,
                                   std::uint8_t* buffer, std::uint32_t bufferSize, std::uint32_t* needed) override {
        DWORD size = 0;
        const BOOL ok =
            ::GetPrinterDriverDirectoryW(input(server), input(environment), level, buffer, bufferSize, &size);
        if (needed) *needed = size;
        return ok != FALSE;
    }
};

}  // namespace

Spooler& spooler() {
    static Win32Spooler instance;
    return instance;
}

}  // namespace hx::platform::win32
