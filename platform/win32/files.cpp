// Files over the kernel's file calls (reads may be synchronous or overlapped),
// the shell's path tests and the C runtime's streams.
#include <windows.h>
// After <windows.h>, on which it builds.
#include <shlwapi.h>

#include <io.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <iterator>

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

static_assert(win::kInvalidFileAttributes == INVALID_FILE_ATTRIBUTES);
static_assert(win::kFileAttributeDirectory == FILE_ATTRIBUTE_DIRECTORY);
static_assert(std::size(FindData{}.fileName) == std::size(WIN32_FIND_DATAW{}.cFileName));

// The part of a directory entry the interface hands on; the name is cut to the
// record's capacity and always terminated.
void convert(const WIN32_FIND_DATAW& found, FindData* data) {
    if (!data) return;
    data->attributes = found.dwFileAttributes;
    data->size = (std::uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow;
    const auto* name = reinterpret_cast<const char16_t*>(found.cFileName);
    const std::size_t capacity = std::size(data->fileName);
    const std::size_t length = std::find(name, name + capacity - 1, u'\0') - name;
    std::copy_n(name, length, data->fileName);
    data->fileName[length] = u'\0';
}

// The kernel's redirection switches, as Kernel32.dll exports them.
using Wow64DisableFn = BOOL(WINAPI*)(PVOID* oldValue);
using Wow64RevertFn = BOOL(WINAPI*)(PVOID oldValue);

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

    bool copyFile(const char16_t* source, const char16_t* target, bool failIfExists) override {
        return ::CopyFileW(wide(source), wide(target), failIfExists ? TRUE : FALSE) != FALSE;
    }

    bool deleteFile(const char16_t* path) override { return ::DeleteFileW(wide(path)) != FALSE; }

    Handle findFirstFile(const char16_t* pattern, FindData* data) override {
        WIN32_FIND_DATAW found{};
        const HANDLE search = ::FindFirstFileW(wide(pattern), &found);
        if (search != INVALID_HANDLE_VALUE) convert(found, data);
        return search;
    }

    bool findNextFile(Handle search, FindData* data) override {
        WIN32_FIND_DATAW found{};
        if (!::FindNextFileW(search, &found)) return false;
        convert(found, data);
        return true;
    }

    bool findClose(Handle search) override { return ::FindClose(search) != FALSE; }

    std::uint32_t getFileAttributes(const char16_t* path) override { return ::GetFileAttributesW(wide(path)); }

    std::uint32_t getFullPathName(const char16_t* path, std::uint32_t size, char16_t* buffer,
                                  char16_t** filePart) override {
        wchar_t* part = nullptr;
        const DWORD length = ::GetFullPathNameW(wide(path), size, wide(buffer), filePart ? &part : nullptr);
        if (filePart) *filePart = utf16(part);
        return length;
    }

    bool pathIsDirectory(const char16_t* path) override { return ::PathIsDirectoryW(wide(path)) != FALSE; }

    bool pathFileExists(const char16_t* path) override { return ::PathFileExistsW(wide(path)) != FALSE; }

    std::uint32_t getSystemDirectory(char16_t* buffer, std::uint32_t size) override {
        return ::GetSystemDirectoryW(wide(buffer), size);
    }

    int accessAnsi(const char* path, int mode) override { return ::_access(path, mode); }

    std::FILE* openStream(const char* path, const char* mode) override { return std::fopen(path, mode); }

    int closeStream(std::FILE* stream) override { return std::fclose(stream); }

    bool callWow64DisableFsRedirection(Procedure disable, void** oldValue) override {
        return procedureAs<Wow64DisableFn>(disable)(oldValue) != FALSE;
    }

    bool callWow64RevertFsRedirection(Procedure revert, void* oldValue) override {
        return procedureAs<Wow64RevertFn>(revert)(oldValue) != FALSE;
    }
};

}  // namespace

Files& files() {
    static Win32Files instance;
    return instance;
}

}  // namespace hx::platform::win32
