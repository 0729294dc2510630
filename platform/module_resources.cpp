// The process-wide table of data that modules built without a resource section
// register at static initialisation, found the way FindResourceW finds it.
#include "platform/module_resources.h"

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace hx::platform {
namespace {

struct Entry {
    std::u16string module;
    std::u16string type;
    std::uint16_t id;
    std::span<const std::uint8_t> bytes;
};

struct Registry {
    std::mutex mutex;
    std::vector<Entry> entries;
};

// Built on first use, so registrations from any module's static
// initialisation find it ready whatever the order.
Registry& registry() {
    static Registry instance;
    return instance;
}

std::u16string upper(std::u16string_view text) {
    std::u16string out(text);
    for (auto& c : out) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    }
    return out;
}

// Module names compare as GetModuleHandleW compares them: without regard to
// case or directory, and with ".DLL" understood when no extension is given.
std::u16string moduleKey(const char16_t* name) {
    std::u16string_view view = name ? name : u"";
    if (auto slash = view.find_last_of(u"\\/"); slash != std::u16string_view::npos) view.remove_prefix(slash + 1);
    auto key = upper(view);
    if (key.find(u'.') == std::u16string::npos) key += u".DLL";
    return key;
}

}  // namespace

void registerModuleResource(const char16_t* moduleName, const char16_t* type, std::uint16_t id,
                            std::span<const std::uint8_t> bytes) {
    auto& table = registry();
    std::lock_guard lock(table.mutex);
    auto module = moduleKey(moduleName);
    auto typeKey = upper(type ? type : u"");
    for (auto& entry : table.entries) {
        if (entry.module == module && entry.type == typeKey && entry.id == id) {
            entry.bytes = bytes;
            return;
        }
    }
    table.entries.push_back({std::move(module), std::move(typeKey), id, bytes});
}

std::span<const std::uint8_t> findRegisteredModuleResource(const char16_t* moduleName, const char16_t* type,
                                                           std::uint16_t id) {
    auto& table = registry();
    std::lock_guard lock(table.mutex);
    auto module = moduleKey(moduleName);
    auto typeKey = upper(type ? type : u"");
    for (const auto& entry : table.entries) {
        if (entry.module == module && entry.type == typeKey && entry.id == id) return entry.bytes;
    }
    return {};
}

}  // namespace hx::platform
