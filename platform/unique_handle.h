// Ownership of platform handles: one wrapper, one traits type per kind of
// handle, so every path out of a step releases what it acquired.
#pragma once

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

private:
    Owner* owner_ = nullptr;
    Value value_ = Traits::invalid();
};

struct FileHandleTraits {
    using Owner = Files;
    using Value = Handle;
    static Value invalid() { return kInvalidHandle; }
    static void close(Owner& files, Value h) { files.closeHandle(h); }
};
using UniqueFile = UniqueHandle<FileHandleTraits>;

struct DeviceInfoSetTraits {
    using Owner = UsbDevices;
    using Value = Handle;
    static Value invalid() { return kInvalidHandle; }
    static void close(Owner& usb, Value h) { usb.destroyDeviceInfoList(h); }
};
using UniqueDeviceInfoSet = UniqueHandle<DeviceInfoSetTraits>;

struct HeapBlockTraits {
    using Owner = Memory;
    using Value = void*;
    static Value invalid() { return nullptr; }
    static void close(Owner& memory, Value block) { memory.release(block); }
};
using UniqueHeapBlock = UniqueHandle<HeapBlockTraits>;

struct RegistryKeyTraits {
    using Owner = Registry;
    using Value = Handle;
    static Value invalid() { return nullptr; }
    static void close(Owner& registry, Value key) { registry.regCloseKey(key); }
};
using UniqueRegistryKey = UniqueHandle<RegistryKeyTraits>;

struct ServiceHandleTraits {
    using Owner = Services;
    using Value = Handle;
    static Value invalid() { return nullptr; }
    static void close(Owner& services, Value h) { services.closeServiceHandle(h); }
};
using UniqueServiceHandle = UniqueHandle<ServiceHandleTraits>;

struct PrinterHandleTraits {
    using Owner = Spooler;
    using Value = Handle;
    static Value invalid() { return nullptr; }
    static void close(Owner& spooler, Value h) { spooler.closePrinter(h); }
};
using UniquePrinter = UniqueHandle<PrinterHandleTraits>;

struct SetupDeviceInfoSetTraits {
    using Owner = DeviceSetup;
    using Value = Handle;
    static Value invalid() { return kInvalidHandle; }
    static void close(Owner& setup, Value h) { setup.destroyDeviceInfoList(h); }
};
using UniqueSetupDeviceInfoSet = UniqueHandle<SetupDeviceInfoSetTraits>;

struct LibraryTraits {
    using Owner = Libraries;
    using Value = Handle;
    static Value invalid() { return nullptr; }
    static void close(Owner& libraries, Value module) { libraries.freeLibrary(module); }
};
using UniqueLibrary = UniqueHandle<LibraryTraits>;

struct FindHandleTraits {
    using Owner = Files;
    using Value = Handle;
    static Value invalid() { return kInvalidHandle; }
    static void close(Owner& files, Value h) { files.findClose(h); }
};
using UniqueFindHandle = UniqueHandle<FindHandleTraits>;

struct StreamTraits {
    using Owner = Files;
    using Value = std::FILE*;
    static Value invalid() { return nullptr; }
    static void close(Owner& files, Value stream) { files.closeStream(stream); }
};
using UniqueStream = UniqueHandle<StreamTraits>;

struct TokenTraits {
    using Owner = Token;
    using Value = Handle;
    static Value invalid() { return nullptr; }
    static void close(Owner& token, Value h) { token.closeToken(h); }
};
using UniqueToken = UniqueHandle<TokenTraits>;

struct GlobalBlockTraits {
    using Owner = Memory;
    using Value = void*;
    static Value invalid() { return nullptr; }
    static void close(Owner& memory, Value block) { memory.globalFree(block); }
};
using UniqueGlobalBlock = UniqueHandle<GlobalBlockTraits>;

}  // namespace hx::platform
