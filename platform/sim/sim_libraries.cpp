// Modules of the simulated machine: the three system modules the libraries
// load or look into, reference-counted loads, and procedures that are only
// tokens to hand back to the typed calls that stand for them.
#include <algorithm>
#include <cstring>

#include "platform/sim/machine_impl.h"

namespace hx::sim::detail {
namespace {

using namespace platform::win;

// Distinct bodies keep the linker from folding them into one address.
volatile int sentinelTouched = 0;
template <int N>
void sentinel() {
    sentinelTouched = N;
}

struct KnownProcedure {
    std::string_view name;
    platform::Procedure procedure;
};
constexpr KnownProcedure kProcedures[] = {
    {"GetNativeSystemInfo", &sentinel<1>},
    {"Wow64DisableWow64FsRedirection", &sentinel<2>},
    {"Wow64RevertWow64FsRedirection", &sentinel<3>},
    {"RtlGetNtVersionNumbers", &sentinel<4>},
    {"AddPortExA", &sentinel<5>},
};

struct Module {
    std::u16string_view name;       // canonical, as GetModuleFileNameW reports it
    std::u16string_view base;       // the name without extension
    std::u16string_view extension;  // the one a caller may leave out
    std::uintptr_t address;
    bool alwaysLoaded;
};
constexpr Module kModules[] = {
    {u"kernel32.dll", u"kernel32", u".dll", 0x7FF8A0000000u, true},
    {u"ntdll.dll", u"ntdll", u".dll", 0x7FF8B0000000u, true},
    {u"winspool.drv", u"winspool", u".drv", 0x7FF8C0000000u, false},
};

// What GetModuleHandleW(null) gives: the program's own module.
constexpr std::uintptr_t kProgramModule = 0x140000000u;

std::string describe(const char16_t* text) { return text ? toUtf8(text) : std::string("(null)"); }

// The module a name means: its own name with or without the extension,
// bare or in the system directory.
const Module* moduleNamed(std::u16string_view name, std::u16string_view systemDirectory) {
    if (auto slash = name.find_last_of(u"\\/"); slash != std::u16string_view::npos) {
        auto directory = name.substr(0, slash);
        if (!equalsIgnoreCase(directory, systemDirectory)) return nullptr;
        name.remove_prefix(slash + 1);
    }
    for (const auto& module : kModules) {
        if (equalsIgnoreCase(name, module.name) || equalsIgnoreCase(name, module.base)) return &module;
    }
    return nullptr;
}

const Module* moduleAt(platform::Handle handle) {
    for (const auto& module : kModules) {
        if (reinterpret_cast<std::uintptr_t>(handle) == module.address) return &module;
    }
    return nullptr;
}

bool isLoaded(const Module& module, const std::map<std::u16string, int>& loads) {
    if (module.alwaysLoaded) return true;
    auto found = loads.find(std::u16string(module.name));
    return found != loads.end() && found->second > 0;
}

}  // namespace

platform::Procedure procedureFor(std::string_view name) {
    for (const auto& known : kProcedures) {
        if (known.name == name) return known.procedure;
    }
    return nullptr;
}

platform::Handle SimLibraries::loadLibrary(const char16_t* name) {
    auto line = "LoadLibraryW " + describe(name);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return platform::Handle{};
    };
    if (auto fault = m_.injectedFault("LoadLibraryW")) return failWith(*fault);
    if (!name) return failWith(kErrorInvalidParameter);
    const auto* module = moduleNamed(name, m_.facts.systemDirectory);
    if (!module) return failWith(kErrorModNotFound);
    ++m_.libraryLoads[std::u16string(module->name)];
    m_.log(line);
    return reinterpret_cast<platform::Handle>(module->address);
}

platform::Handle SimLibraries::getModuleHandle(const char16_t* name) {
    auto line = "GetModuleHandleW " + describe(name);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return platform::Handle{};
    };
    if (auto fault = m_.injectedFault("GetModuleHandleW")) return failWith(*fault);
    if (!name) {
        // The program's own module.
        m_.log(line);
        return reinterpret_cast<platform::Handle>(kProgramModule);
    }
    const auto* module = moduleNamed(name, m_.facts.systemDirectory);
    if (!module || !isLoaded(*module, m_.libraryLoads)) return failWith(kErrorModNotFound);
    m_.log(line);
    return reinterpret_cast<platform::Handle>(module->address);
}

platform::Procedure SimLibraries::getProcAddress(platform::Handle handle, const char* name) {
    // A name below 0x10000 is an ordinal, not text to read.
    bool byOrdinal = reinterpret_cast<std::uintptr_t>(name) < 0x10000;
    auto line = "GetProcAddress " +
                (byOrdinal ? "#" + std::to_string(reinterpret_cast<std::uintptr_t>(name)) : std::string(name));
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return platform::Procedure{};
    };
    if (auto fault = m_.injectedFault("GetProcAddress")) return failWith(*fault);
    if (reinterpret_cast<std::uintptr_t>(handle) == kProgramModule) return failWith(kErrorProcNotFound);
    const auto* module = moduleAt(handle);
    if (!module || !isLoaded(*module, m_.libraryLoads)) return failWith(kErrorModNotFound);
    if (byOrdinal) return failWith(kErrorProcNotFound);
    std::string_view wanted(name);
    // Which module exports what, and what the machine's facts take away.
    bool exported = false;
    if (module->base == u"kernel32") {
        exported = (wanted == "GetNativeSystemInfo" && m_.facts.hasNativeSystemInfo) ||
                   wanted == "Wow64DisableWow64FsRedirection" || wanted == "Wow64RevertWow64FsRedirection";
    } else if (module->base == u"ntdll") {
        exported = wanted == "RtlGetNtVersionNumbers" && m_.facts.trueMajorVersion.has_value();
    } else if (module->base == u"winspool") {
        exported = wanted == "AddPortExA";
    }
    if (!exported) return failWith(kErrorProcNotFound);
    m_.log(line);
    return procedureFor(wanted);
}

bool SimLibraries::freeLibrary(platform::Handle handle) {
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log("FreeLibrary -> " + std::to_string(error));
        return false;
    };
    if (auto fault = m_.injectedFault("FreeLibrary")) return failWith(*fault);
    const auto* module = moduleAt(handle);
    if (!module) return failWith(kErrorModNotFound);
    // Freeing more often than loading would unbalance a real module's count;
    // it is refused so that the caller's mistake shows.
    auto loads = m_.libraryLoads.find(std::u16string(module->name));
    if (loads == m_.libraryLoads.end() || loads->second == 0) return failWith(kErrorInvalidHandle);
    if (--loads->second == 0) m_.libraryLoads.erase(loads);
    m_.log("FreeLibrary " + toUtf8(module->name));
    return true;
}

std::uint32_t SimLibraries::getModuleFileName(platform::Handle handle, char16_t* buffer, std::uint32_t size) {
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log("GetModuleFileNameW -> " + std::to_string(error));
        return std::uint32_t{0};
    };
    if (auto fault = m_.injectedFault("GetModuleFileNameW")) return failWith(*fault);
    if (!buffer) return failWith(kErrorInvalidParameter);
    std::u16string path;
    if (!handle || reinterpret_cast<std::uintptr_t>(handle) == kProgramModule) {
        path = m_.facts.programPath;
    } else if (const auto* module = moduleAt(handle); module && isLoaded(*module, m_.libraryLoads)) {
        path = m_.facts.systemDirectory + u"\\" + std::u16string(module->name);
    } else {
        return failWith(kErrorModNotFound);
    }
    if (size == 0) return failWith(kErrorInsufficientBuffer);
    // A path that does not fit is cut, terminated, and reported with the
    // buffer's full size and kErrorInsufficientBuffer.
    auto count = static_cast<std::uint32_t>(std::min<std::size_t>(path.size(), size - 1));
    std::memcpy(buffer, path.data(), count * sizeof(char16_t));
    buffer[count] = u'\0';
    if (path.size() >= size) {
        m_.fail(kErrorInsufficientBuffer);
        m_.log("GetModuleFileNameW " + toUtf8(path.substr(0, count)) + " -> " +
               std::to_string(kErrorInsufficientBuffer));
        return size;
    }
    m_.log("GetModuleFileNameW " + toUtf8(path));
    return count;
}

}  // namespace hx::sim::detail
