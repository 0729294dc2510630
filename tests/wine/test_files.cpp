// Files the Wine tier makes for its checks, written with the system's own calls.
#include <windows.h>

#include "tests/wine/checks.h"

namespace hx::wine_tests {

bool writeFile(const wchar_t* path, std::string_view bytes) {
    const HANDLE file = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = bytes.empty() || (::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                                                  nullptr) &&
                                      written == bytes.size());
    ::CloseHandle(file);
    return ok;
}

}  // namespace hx::wine_tests
