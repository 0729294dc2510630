// Ownership of platform handles: one wrapper, one alias per kind of handle, so
// every path out of a step releases what it acquired.
#pragma once

#include <cstdio>
#include <utility>

#include "platform/platform.h"

namespace hx::platform {

template <class Traits>
class UniqueHandle {
public:
    using Owner = typename Traits::Owner;
    using Value = typename Traits::Value;

    UniqueHandle() = default;
    UniqueHandle(Owner& owner, Value value) : owner_(&owner), value_(value) {}
    UniqueHandle(UniqueHandle&& other) noexcept
        : owner_(other.owner_), value_(std::exchange(other.value_, Traits::invalid())) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            owner_ = other.owner_;
            value_ = std::exchange(other.value_, Traits::invalid());
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    [[nodiscard]] bool valid() const { return value_ != Traits::invalid(); }
    explicit operator bool() const { return valid(); }
    [[nodiscard]] Value get() const { return value_; }

    void reset() {
        if (valid()) Traits::close(*owner_, value_);
        value_ = Traits::invalid();
    }

    // Hands the value over to a caller that will give it back itself.
    [[nodiscard]] Value release() { return std::exchange(value_, Traits::invalid()); }

private:
    Owner* owner_ = nullptr;
    Value value_ = Traits::invalid();
};

// The traits of one kind: its owning interface, its value, the value that
// means "nothing held", and the call that gives it back.
template <class OwnerType, class ValueType, ValueType (*Invalid)(), void (*Close)(OwnerType&, ValueType)>
struct HandleTraits {
    using Owner = OwnerType;
    using Value = ValueType;
    static Value invalid() { return Invalid(); }
    static void close(Owner& owner, Value value) { Close(owner, value); }
};

namespace handles {
inline Handle invalidHandle() { return kInvalidHandle; }
template <class T>
T none() { return nullptr; }
inline void closeFile(Files& files, Handle h) { files.closeHandle(h); }
inline void destroyUsbSet(UsbDevices& usb, Handle h) { usb.destroyDeviceInfoList(h); }
inline void releaseHeapBlock(Memory& memory, void* block) { memory.release(block); }
inline void closeKey(Registry& registry, Handle key) { registry.regCloseKey(key); }
inline void closeService(Services& services, Handle h) { services.closeServiceHandle(h); }
inline void closePrinter(Spooler& spooler, Handle h) { spooler.closePrinter(h); }
inline void destroySetupSet(DeviceSetup& setup, Handle h) { setup.destroyDeviceInfoList(h); }
inline void freeLibrary(Libraries& libraries, Handle module) { libraries.freeLibrary(module); }
inline void findClose(Files& files, Handle h) { files.findClose(h); }
inline void closeStream(Files& files, std::FILE* stream) { files.closeStream(stream); }
inline void closeToken(Token& token, Handle h) { token.closeToken(h); }
inline void freeGlobalBlock(Memory& memory, void* block) { memory.globalFree(block); }
}  // namespace handles

using UniqueFile = UniqueHandle<HandleTraits<Files, Handle, handles::invalidHandle, handles::closeFile>>;
using UniqueDeviceInfoSet = UniqueHandle<HandleTraits<UsbDevices, Handle, handles::invalidHandle, handles::destroyUsbSet>>;
using UniqueHeapBlock = UniqueHandle<HandleTraits<Memory, void*, handles::none<void*>, handles::releaseHeapBlock>>;
using UniqueRegistryKey = UniqueHandle<HandleTraits<Registry, Handle, handles::none<Handle>, handles::closeKey>>;
using UniqueServiceHandle = UniqueHandle<HandleTraits<Services, Handle, handles::none<Handle>, handles::closeService>>;
using UniquePrinter = UniqueHandle<HandleTraits<Spooler, Handle, handles::none<Handle>, handles::closePrinter>>;
using UniqueSetupDeviceInfoSet =
    UniqueHandle<HandleTraits<DeviceSetup, Handle, handles::invalidHandle, handles::destroySetupSet>>;
using UniqueLibrary = UniqueHandle<HandleTraits<Libraries, Handle, handles::none<Handle>, handles::freeLibrary>>;
using UniqueFindHandle = UniqueHandle<HandleTraits<Files, Handle, handles::invalidHandle, handles::findClose>>;
using UniqueStream = UniqueHandle<HandleTraits<Files, std::FILE*, handles::none<std::FILE*>, handles::closeStream>>;
using UniqueToken = UniqueHandle<HandleTraits<Token, Handle, handles::none<Handle>, handles::closeToken>>;
using UniqueGlobalBlock = UniqueHandle<HandleTraits<Memory, void*, handles::none<void*>, handles::freeGlobalBlock>>;

}  // namespace hx::platform
