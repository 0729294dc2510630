// Files and devices opened by path: plain files, the lock file, the printer's
// device file. One synchronous write; one overlapped read that can be abandoned.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/libraries.h"
#include "platform/types.h"

namespace hx::platform {

// One directory entry of a search (the parts of WIN32_FIND_DATAW the logic reads).
struct FindData {
    std::uint32_t attributes;
    std::uint64_t size;
    char16_t fileName[260];
};

namespace win {
inline constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
inline constexpr std::uint32_t kFileAttributeDirectory = 0x10;
}  // namespace win

// Layout-compatible with the Windows OVERLAPPED record; zero it before a read.
struct Overlapped {
    std::uintptr_t internal;
    std::uintptr_t internalHigh;
    std::uint32_t offset;
    std::uint32_t offsetHigh;
    Handle event;
};

class Files {
public:
    virtual ~Files() = default;
    // CreateFileW: kInvalidHandle on failure with the last error set; an open that
    // conflicts with another open's sharing gives kErrorSharingViolation, a missing
    // file with kOpenExisting gives kErrorFileNotFound.
    virtual Handle createFile(const char16_t* path, std::uint32_t access, std::uint32_t shareMode,
                              std::uint32_t disposition, std::uint32_t flagsAndAttributes) = 0;
    // WriteFile, synchronous: hands the buffer over in one call; *written tells how
    // many bytes were taken.
    virtual bool writeFile(Handle file, const void* data, std::uint32_t length, std::uint32_t* written) = 0;
    // ReadFile. Without `overlapped`: blocks, *read = bytes read (0 at the end).
    // With `overlapped` on a handle opened overlapped: true when it completed at
    // once; false with kErrorIoPending while it goes on, completion then signals
    // the handle (Clock::waitForSingleObject).
    virtual bool readFile(Handle file, void* buffer, std::uint32_t length, std::uint32_t* read,
                          Overlapped* overlapped) = 0;
    // GetOverlappedResult: the outcome of the read started with `overlapped`;
    // without `wait`, false with kErrorIoIncomplete while it is still going on.
    virtual bool getOverlappedResult(Handle file, Overlapped* overlapped, std::uint32_t* transferred,
                                     bool wait) = 0;
    // CancelIo: abandons this thread's outstanding reads on the handle.
    virtual bool cancelIo(Handle file) = 0;
    // GetFileSizeEx.
    virtual bool getFileSize(Handle file, std::int64_t* size) = 0;
    // CloseHandle.
    virtual bool closeHandle(Handle object) = 0;

    // CopyFileW: kErrorFileExists when `failIfExists` and the target exists,
    // kErrorSharingViolation when the target is in use.
    virtual bool copyFile(const char16_t* source, const char16_t* target, bool failIfExists) = 0;
    // DeleteFileW.
    virtual bool deleteFile(const char16_t* path) = 0;
    // FindFirstFileW: kInvalidHandle (kErrorFileNotFound) when nothing matches;
    // entries come in the file system's order. Release with findClose.
    virtual Handle findFirstFile(const char16_t* pattern, FindData* data) = 0;
    // FindNextFileW: false with kErrorNoMoreFiles after the last entry.
    virtual bool findNextFile(Handle search, FindData* data) = 0;
    // FindClose.
    virtual bool findClose(Handle search) = 0;
    // GetFileAttributesW: kInvalidFileAttributes when the path does not exist.
    virtual std::uint32_t getFileAttributes(const char16_t* path) = 0;
    // GetFullPathNameW: units written without the terminator, or the size needed
    // (with it) when the buffer is too small; *filePart points at the name.
    virtual std::uint32_t getFullPathName(const char16_t* path, std::uint32_t size, char16_t* buffer,
                                          char16_t** filePart) = 0;
    // PathIsDirectoryW.
    virtual bool pathIsDirectory(const char16_t* path) = 0;
    // PathFileExistsW: a file or a directory.
    virtual bool pathFileExists(const char16_t* path) = 0;
    // GetSystemDirectoryW: units written without the terminator; 0 on failure.
    virtual std::uint32_t getSystemDirectory(char16_t* buffer, std::uint32_t size) = 0;

    // The C runtime's _access on an ANSI path: 0 when it exists, -1 otherwise.
    virtual int accessAnsi(const char* path, int mode) = 0;
    // The C runtime's fopen on an ANSI path; null on failure. Release with closeStream.
    virtual std::FILE* openStream(const char* path, const char* mode) = 0;
    // fclose.
    virtual int closeStream(std::FILE* stream) = 0;

    // Wow64DisableWow64FsRedirection / Wow64RevertWow64FsRedirection through the
    // procedures looked up in "Kernel32.dll"; redirection stays off between them.
    virtual bool callWow64DisableFsRedirection(Procedure disable, void** oldValue) = 0;
    virtual bool callWow64RevertFsRedirection(Procedure revert, void* oldValue) = 0;
};

}  // namespace hx::platform
