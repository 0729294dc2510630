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

}  // namespace hx::platform
