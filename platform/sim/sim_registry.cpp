// The registry of the simulated machine: keys under HKEY_LOCAL_MACHINE with
// typed values, opened by counted handles, with the access checks of a
// process that may or may not write to the machine's keys.
#include <algorithm>
#include <cstring>

#include "platform/sim/machine_impl.h"

namespace hx::sim::detail {
namespace {

using namespace platform::win;

constexpr std::int32_t kErrorKeyDeleted = 1018;
constexpr std::uint32_t kKeyQueryValue = 0x1;
constexpr std::uint32_t kKeySetValue = 0x2;
constexpr std::uint32_t kKeyCreateSubKey = 0x4;
// Rights that change the key: set value, create subkey, DELETE, WRITE_DAC,
// WRITE_OWNER, GENERIC_WRITE, GENERIC_ALL. READ_CONTROL (0x20000) is part of
// KEY_READ too and does not count.
constexpr std::uint32_t kWriteRights =
    kKeySetValue | kKeyCreateSubKey | 0x10000 | 0x40000 | 0x80000 | kGenericWrite | 0x10000000;

std::string describe(const char16_t* text) { return text ? toUtf8(text) : std::string("(null)"); }

std::u16string joinPath(const std::vector<std::u16string>& path) {
    std::u16string out;
    for (const auto& part : path) {
        if (!out.empty()) out += u'\\';
        out += part;
    }
    return out;
}

}  // namespace

RegistryKey* RegistryKey::child(std::u16string_view childName) const {
    for (const auto& key : subkeys) {
        if (equalsIgnoreCase(key->name, childName)) return key.get();
    }
    return nullptr;
}

RegistryKey& RegistryKey::ensureChild(std::u16string_view childName) {
    if (auto* existing = child(childName)) return *existing;
    auto key = std::make_unique<RegistryKey>();
    key->name = std::u16string(childName);
    subkeys.push_back(std::move(key));
    return *subkeys.back();
}

RegistryValue* RegistryKey::value(std::u16string_view valueName) {
    for (auto& entry : values) {
        if (equalsIgnoreCase(entry.name, valueName)) return &entry;
    }
    return nullptr;
}

void RegistryKey::setValue(std::u16string_view valueName, std::uint32_t type, std::vector<std::uint8_t> data) {
    if (auto* existing = value(valueName)) {
        existing->type = type;
        existing->data = std::move(data);
        return;
    }
    values.push_back({std::u16string(valueName), type, std::move(data)});
}

std::vector<std::u16string> splitKeyPath(std::u16string_view path) {
    std::vector<std::u16string> parts;
    std::u16string current;
    for (char16_t c : path) {
        if (c == u'\\') {
            if (!current.empty()) parts.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) parts.push_back(std::move(current));
    return parts;
}

std::int32_t SimRegistry::regOpenKeyEx(platform::Handle root, const char16_t* subKey, std::uint32_t /*options*/,
                                       std::uint32_t access, platform::Handle* key) {
    auto line = "RegOpenKeyExW " + describe(subKey);
    auto finish = [&](std::int32_t error) {
        m_.log(error ? line + " -> " + std::to_string(error) : line);
        return error;
    };
    if (!key) return finish(kErrorInvalidParameter);
    *key = nullptr;
    if (auto fault = m_.injectedFault("RegOpenKeyExW")) return finish(static_cast<std::int32_t>(*fault));

    std::vector<std::u16string> path;
    if (root != platform::kHkeyLocalMachine) {
        auto parent = m_.registryHandles.find(reinterpret_cast<std::uintptr_t>(root));
        if (parent == m_.registryHandles.end()) return finish(kErrorInvalidHandle);
        path = parent->second.path;
    }
    if (subKey) {
        for (auto& part : splitKeyPath(subKey)) path.push_back(std::move(part));
    }
    if (!m_.registryKey(joinPath(path))) return finish(kErrorFileNotFound);
    if (!m_.facts.registryWritable && (access & kWriteRights)) return finish(kErrorAccessDenied);

    auto handle = m_.newHandle();
    m_.registryHandles.emplace(reinterpret_cast<std::uintptr_t>(handle), OpenRegistryKey{std::move(path), access});
    *key = handle;
    return finish(0);
}

std::int32_t SimRegistry::regQueryValueEx(platform::Handle key, const char16_t* name, std::uint32_t* type,
                                          std::uint8_t* data, std::uint32_t* size) {
    auto line = "RegQueryValueExW " + describe(name);
    auto finish = [&](std::int32_t error) {
        m_.log(error ? line + " -> " + std::to_string(error) : line);
        return error;
    };
    if (auto fault = m_.injectedFault("RegQueryValueExW")) return finish(static_cast<std::int32_t>(*fault));
    auto open = m_.registryHandles.find(reinterpret_cast<std::uintptr_t>(key));
    if (open == m_.registryHandles.end()) return finish(kErrorInvalidHandle);
    if (data && !size) return finish(kErrorInvalidParameter);
    if (!(open->second.access & kKeyQueryValue)) return finish(kErrorAccessDenied);
    auto* node = m_.registryKey(joinPath(open->second.path));
    if (!node) return finish(kErrorKeyDeleted);
    auto* value = node->value(name ? std::u16string_view(name) : std::u16string_view());
    if (!value) return finish(kErrorFileNotFound);

    auto needed = static_cast<std::uint32_t>(value->data.size());
    if (type) *type = value->type;
    if (data) {
        // Too small a buffer gets nothing; the caller learns the size it needs.
        if (*size < needed) {
            *size = needed;
            return finish(static_cast<std::int32_t>(kErrorMoreData));
        }
        if (needed) std::memcpy(data, value->data.data(), needed);
    }
    if (size) *size = needed;
    return finish(0);
}

std::int32_t SimRegistry::regSetValueEx(platform::Handle key, const char16_t* name, std::uint32_t type,
                                        const std::uint8_t* data, std::uint32_t size) {
    auto line = "RegSetValueExW " + describe(name);
    auto finish = [&](std::int32_t error) {
        m_.log(error ? line + " -> " + std::to_string(error) : line);
        return error;
    };
    if (auto fault = m_.injectedFault("RegSetValueExW")) return finish(static_cast<std::int32_t>(*fault));
    auto open = m_.registryHandles.find(reinterpret_cast<std::uintptr_t>(key));
    if (open == m_.registryHandles.end()) return finish(kErrorInvalidHandle);
    if (size && !data) return finish(kErrorInvalidParameter);
    if (!(open->second.access & kKeySetValue)) return finish(kErrorAccessDenied);
    auto* node = m_.registryKey(joinPath(open->second.path));
    if (!node) return finish(kErrorKeyDeleted);
    node->setValue(name ? std::u16string_view(name) : std::u16string_view(), type,
                   std::vector<std::uint8_t>(data, data + size));
    return finish(0);
}

std::int32_t SimRegistry::regDeleteValue(platform::Handle key, const char16_t* name) {
    auto line = "RegDeleteValueW " + describe(name);
    auto finish = [&](std::int32_t error) {
        m_.log(error ? line + " -> " + std::to_string(error) : line);
        return error;
    };
    if (auto fault = m_.injectedFault("RegDeleteValueW")) return finish(static_cast<std::int32_t>(*fault));
    auto open = m_.registryHandles.find(reinterpret_cast<std::uintptr_t>(key));
    if (open == m_.registryHandles.end()) return finish(kErrorInvalidHandle);
    if (!(open->second.access & kKeySetValue)) return finish(kErrorAccessDenied);
    auto* node = m_.registryKey(joinPath(open->second.path));
    if (!node) return finish(kErrorKeyDeleted);
    std::u16string_view wanted = name ? std::u16string_view(name) : std::u16string_view();
    auto it = std::find_if(node->values.begin(), node->values.end(),
                           [&](const RegistryValue& value) { return equalsIgnoreCase(value.name, wanted); });
    if (it == node->values.end()) return finish(kErrorFileNotFound);
    node->values.erase(it);
    return finish(0);
}

std::int32_t SimRegistry::regDeleteKey(platform::Handle key, const char16_t* subKey) {
    auto line = "RegDeleteKeyW " + describe(subKey);
    auto finish = [&](std::int32_t error) {
        m_.log(error ? line + " -> " + std::to_string(error) : line);
        return error;
    };
    if (auto fault = m_.injectedFault("RegDeleteKeyW")) return finish(static_cast<std::int32_t>(*fault));
    std::vector<std::u16string> path;
    if (key != platform::kHkeyLocalMachine) {
        auto open = m_.registryHandles.find(reinterpret_cast<std::uintptr_t>(key));
        if (open == m_.registryHandles.end()) return finish(kErrorInvalidHandle);
        path = open->second.path;
    }
    auto parts = subKey ? splitKeyPath(subKey) : std::vector<std::u16string>{};
    // Deleting the key the handle itself names is not allowed by this call.
    if (parts.empty()) return finish(kErrorAccessDenied);
    auto* parent = m_.registryKey(joinPath(path));
    if (!parent) return finish(kErrorKeyDeleted);
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        parent = parent->child(parts[i]);
        if (!parent) return finish(kErrorFileNotFound);
    }
    auto* target = parent->child(parts.back());
    if (!target) return finish(kErrorFileNotFound);
    if (!m_.facts.registryWritable || !target->subkeys.empty()) return finish(kErrorAccessDenied);
    std::erase_if(parent->subkeys, [&](const std::unique_ptr<RegistryKey>& child) { return child.get() == target; });
    return finish(0);
}

std::int32_t SimRegistry::regCloseKey(platform::Handle key) {
    if (m_.registryHandles.erase(reinterpret_cast<std::uintptr_t>(key)) == 0) {
        m_.log("RegCloseKey -> " + std::to_string(kErrorInvalidHandle));
        return kErrorInvalidHandle;
    }
    m_.log("RegCloseKey");
    return 0;
}

}  // namespace hx::sim::detail

namespace hx::sim {

using namespace detail;

RegistryKey* Machine::Impl::registryKey(std::u16string_view path) {
    RegistryKey* node = &registryRoot;
    for (const auto& part : splitKeyPath(path)) {
        node = node->child(part);
        if (!node) return nullptr;
    }
    return node;
}

RegistryKey& Machine::Impl::ensureRegistryKey(std::u16string_view path) {
    RegistryKey* node = &registryRoot;
    for (const auto& part : splitKeyPath(path)) node = &node->ensureChild(part);
    return *node;
}

void Machine::createRegistryKey(const std::u16string& key) { impl_->ensureRegistryKey(key); }

bool Machine::registryKeyExists(const std::u16string& key) const { return impl_->registryKey(key) != nullptr; }

void Machine::setRegistryString(const std::u16string& key, const std::u16string& name, const std::u16string& value) {
    std::vector<std::uint8_t> data((value.size() + 1) * sizeof(char16_t), 0);
    std::memcpy(data.data(), value.data(), value.size() * sizeof(char16_t));
    impl_->ensureRegistryKey(key).setValue(name, platform::win::kRegSz, std::move(data));
}

std::optional<std::u16string> Machine::registryString(const std::u16string& key, const std::u16string& name) const {
    auto* node = impl_->registryKey(key);
    auto* value = node ? node->value(name) : nullptr;
    if (!value || (value->type != platform::win::kRegSz && value->type != platform::win::kRegExpandSz)) {
        return std::nullopt;
    }
    std::u16string text(value->data.size() / sizeof(char16_t), u'\0');
    if (!text.empty()) std::memcpy(text.data(), value->data.data(), text.size() * sizeof(char16_t));
    // The stored terminator, and anything after it, is not part of the text.
    if (auto end = text.find(u'\0'); end != std::u16string::npos) text.resize(end);
    return text;
}

}  // namespace hx::sim
