// Files over the kernel's file calls; reads may be synchronous or overlapped.
#include <windows.h>

#include <cstddef>

#include "platform/win32/services.h"

namespace hx::platform::win32 {
namespace {

static_assert(sizeof(Overlapped) == sizeof(OVERLAPPED));
static_assert(alignof(Overlapped) == alignof(OVERLAPPED));
static_assert(offsetof(Overlapped, internal) == offsetof(OVERLAPPED, Internal));
static_assert(offsetof(Overlapped, internalHigh) == offsetof(OVERLAPPED, InternalHigh));
static_assert(offsetof(Overlapped, offset) == offsetof(OVERLAPPED, Offset));
static_assert(offsetof(Overlapped, offsetHigh) == offsetof(OVERLAPPED, OffsetHigh));
static_assert(offsetof(Overlapped, event) == offsetof(OVERLAPPED, hEvent));

OVERLAPPED* native(Overlapped* overlapped) { return reinterpret_cast<OVERLAPPED*>(overlapped); }

class Win32Files final : public Files {
public:
    Handle createFile(const char16_t* path, std::uint32_t access, std::uint32_t shareMode, std::uint32_t disposition,
                      std::uint32_t flagsAndAttributes) override {
        return ::CreateFileW(wide(path), access, shareMode, nullptr, disposition, flagsAndAttributes, nullptr);
    }

    bool writeFile(Handle file, const void* data, std::uint32_t length, std::uint32_t* written) override {
        DWORD count = 0;
        const BOOL ok = ::WriteFile(file, data, length, &count, nullptr);
        if (written) *written = count;
        return ok != FALSE;
    }

    // The count is only meaningful when the read completed at once; a pending
    // read reports its count through getOverlappedResult.
    bool readFile(Handle file, void* buffer, std::uint32_t length, std::uint32_t* read,
                  Overlapped* overlapped) override {
        DWORD count = 0;
        const BOOL ok = ::ReadFile(file, buffer, length, &count, native(overlapped));
        if (read) *read = count;
        return ok != FALSE;
    }

    bool getOverlappedResult(Handle file, Overlapped* overlapped, std::uint32_t* transferred, bool wait) override {
        DWORD count = 0;
        const BOOL ok = ::GetOverlappedResult(file, native(overlapped), &count, wait ? TRUE : FALSE);
        if (transferred) *transferred = count;
        return ok != FALSE;
    }

    bool cancelIo(Handle file) override { return ::CancelIo(file) != FALSE; }

    bool getFileSize(Handle file, std::int64_t* size) override {
        LARGE_INTEGER value{};
        const BOOL ok = ::GetFileSizeEx(file, &value);
        if (ok && size) *size = value.QuadPart;
        return ok != FALSE;
    }

    bool closeHandle(Handle object) override { return ::CloseHandle(object) != FALSE; }
};

}  // namespace

Files& files() {
    static Win32Files instance;
    return instance;
}

}  // namespace hx::platform::win32
