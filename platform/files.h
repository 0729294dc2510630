// Files and devices opened by path: plain files, the lock file, the printer's
// device file. One synchronous write; one overlapped read that can be abandoned.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace hx::platform {

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
};

}  // namespace hx::platform
