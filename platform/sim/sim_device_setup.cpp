// Device installation on the simulated machine: the INF's setup class, device
// elements that the class installer registers as the machine's devices, and
// the plug-and-play driver update that installs an INF's driver for them.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "platform/sim/machine_impl.h"

namespace hx::sim::detail {
namespace {

using namespace platform::win;

constexpr std::uint32_t kErrorInvalidData = 13;
constexpr std::uint32_t kErrorInvalidUserBuffer = 1784;
constexpr std::uint32_t kErrorClassMismatch = 0xE0000201;
constexpr std::uint32_t kErrorInvalidDevinstName = 0xE0000205;
constexpr std::uint32_t kErrorInvalidClass = 0xE0000206;
constexpr std::uint32_t kErrorDevinstAlreadyExists = 0xE0000207;
constexpr std::uint32_t kErrorInvalidRegProperty = 0xE0000209;
constexpr std::uint32_t kErrorNoCompatDrivers = 0xE0000228;
constexpr std::uint32_t kErrorInWow64 = 0xE0000235;
constexpr std::uint32_t kDicdInheritClassDrivers = 0x2;
constexpr std::uint32_t kInstallFlagReadOnly = 0x2;
constexpr std::uint32_t kInstallFlagNonInteractive = 0x4;
constexpr std::uint32_t kSpdrpMaximumProperty = 0x25;
constexpr std::uint32_t kRegSz = 1;

// {4D36E979-E325-11CE-BFC1-08002BE10318}
constexpr platform::Guid kPrinterClass = {0x4D36E979, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
// The hardware ID the simulated printer reports on the USB bus.
constexpr std::u16string_view kUsbPrinterHardwareId = u"USBPRINT\\HX-35290EE";

static_assert(sizeof(platform::DeviceInfoData) == 32);

std::string describe(const char16_t* text) { return text ? toUtf8(text) : std::string("(null)"); }

// ---- INF files ----

struct InfLine {
    std::u16string key;  // empty for a line without '='
    std::vector<std::u16string> fields;
};
struct InfSection {
    std::u16string name;
    std::vector<InfLine> lines;
};
using Inf = std::vector<InfSection>;

std::u16string_view trim(std::u16string_view text) {
    auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// A field as it stands once its quotes are gone.
std::u16string unquote(std::u16string_view text) {
    std::u16string out;
    for (char16_t c : trim(text)) {
        if (c != u'"') out += c;
    }
    return out;
}

// `text` cut at each `separator` outside quotes.
std::vector<std::u16string_view> splitOutsideQuotes(std::u16string_view text, char16_t separator, bool once = false) {
    std::vector<std::u16string_view> parts;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'"') quoted = !quoted;
        if (!quoted && text[i] == separator && !(once && !parts.empty())) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(text.substr(start));
    return parts;
}

Inf parseInf(std::u16string_view text) {
    Inf inf;
    std::size_t start = 0;
    while (start <= text.size()) {
        auto end = text.find(u'\n', start);
        if (end == std::u16string_view::npos) end = text.size();
        auto line = text.substr(start, end - start);
        start = end + 1;
        bool quoted = false;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == u'"') quoted = !quoted;
            if (!quoted && line[i] == u';') {
                line = line.substr(0, i);
                break;
            }
        }
        line = trim(line);
        if (line.empty()) continue;
        if (line.front() == u'[') {
            auto close = line.find(u']');
            inf.push_back({std::u16string(trim(line.substr(1, close == std::u16string_view::npos ? line.size() - 1
                                                                                               : close - 1))),
                           {}});
            continue;
        }
        if (inf.empty()) continue;
        InfLine entry;
        auto keyAndValue = splitOutsideQuotes(line, u'=', true);
        auto value = keyAndValue.back();
        if (keyAndValue.size() == 2) entry.key = unquote(keyAndValue[0]);
        for (auto field : splitOutsideQuotes(value, u',')) entry.fields.push_back(unquote(field));
        inf.back().lines.push_back(std::move(entry));
    }
    return inf;
}

const InfSection* findSection(const Inf& inf, std::u16string_view name) {
    for (const auto& section : inf) {
        if (equalsIgnoreCase(section.name, name)) return &section;
    }
    return nullptr;
}

const InfLine* findLine(const InfSection* section, std::u16string_view key) {
    if (!section) return nullptr;
    for (const auto& line : section->lines) {
        if (equalsIgnoreCase(line.key, key)) return &line;
    }
    return nullptr;
}

// %name% replaced by the [Strings] entry of that name; "%%" is a percent sign.
std::u16string expand(const Inf& inf, std::u16string_view text) {
    const auto* strings = findSection(inf, u"Strings");
    std::u16string out;
    std::size_t i = 0;
    while (i < text.size()) {
        auto close = text[i] == u'%' ? text.find(u'%', i + 1) : std::u16string_view::npos;
        if (close == std::u16string_view::npos) {
            out += text[i++];
            continue;
        }
        auto name = text.substr(i + 1, close - i - 1);
        const auto* entry = name.empty() ? nullptr : findLine(strings, name);
        if (name.empty()) {
            out += u'%';
        } else if (entry && !entry->fields.empty()) {
            out += entry->fields.front();
        } else {
            out += text.substr(i, close - i + 1);
        }
        i = close + 1;
    }
    return out;
}

std::optional<std::u16string> fieldOf(const Inf& inf, const InfSection* section, std::u16string_view key) {
    const auto* line = findLine(section, key);
    if (!line || line->fields.empty()) return std::nullopt;
    return expand(inf, line->fields.front());
}

// The file's bytes, or nothing when it cannot be read.
std::optional<std::string> readBytes(const std::filesystem::path& host) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(host, ec)) return std::nullopt;
    std::ifstream in(host, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// INF text is UTF-16 LE after its byte-order mark, UTF-8 after its mark, or
// else in the ANSI code page (whose ASCII part is all an INF's syntax uses).
std::u16string decodeInf(const std::string& bytes, std::uint32_t ansiCodePage) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::u16string text;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8));
        }
        return text;
    }
    if (bytes.starts_with("\xEF\xBB\xBF")) return fromUtf8(std::string_view(bytes).substr(3));
    if (ansiCodePage == kCpUtf8) return fromUtf8(bytes);
    std::u16string text;
    for (char c : bytes) text += static_cast<char16_t>(static_cast<unsigned char>(c));
    return text;
}

std::optional<platform::Guid> parseGuid(std::u16string_view text) {
    text = trim(text);
    if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') return std::nullopt;
    std::uint8_t bytes[16];
    std::size_t byte = 0;
    unsigned nibble = 0;
    unsigned value = 0;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
        char16_t c = text[i];
        if (i == 9 || i == 14 || i == 19 || i == 24) {
            if (c != u'-') return std::nullopt;
            continue;
        }
        unsigned digit = 0;
        if (c >= u'0' && c <= u'9') {
            digit = c - u'0';
        } else if (foldAscii(c) >= u'A' && foldAscii(c) <= u'F') {
            digit = foldAscii(c) - u'A' + 10;
        } else {
            return std::nullopt;
        }
        value = (value << 4) | digit;
        if (++nibble == 2) {
            bytes[byte++] = static_cast<std::uint8_t>(value);
            nibble = 0;
            value = 0;
        }
    }
    platform::Guid guid{};
    guid.data1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) |
                 bytes[3];
    guid.data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
    guid.data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
    std::copy(bytes + 8, bytes + 16, guid.data4);
    return guid;
}

// The model section decoration that fits the machine's own architecture.
std::u16string_view platformDecoration(const SystemFacts& facts) {
    if (facts.nativeArchitecture == kProcessorArchitectureAmd64) return u"NTamd64";
    if (facts.nativeArchitecture == kProcessorArchitectureIa64) return u"NTia64";
    return u"NTx86";
}

bool startsWithIgnoringCase(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && equalsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

// The section `base` as decorated for this platform when the INF has that.
const InfSection* decoratedSection(const Inf& inf, const std::u16string& base, const SystemFacts& facts) {
    for (auto decoration : {platformDecoration(facts), std::u16string_view(u"NT")}) {
        if (const auto* section = findSection(inf, base + u"." + std::u16string(decoration))) return section;
    }
    return findSection(inf, base);
}

// What a models line says of a device: the model's name and its install section.
struct Model {
    std::u16string name;
    std::u16string installSection;
};

// The model whose line names `hardwareId`: in the models sections that
// [Manufacturer] lists for this platform, or anywhere when it lists none.
std::optional<Model> modelFor(const Inf& inf, std::u16string_view hardwareId, const SystemFacts& facts) {
    std::vector<const InfSection*> candidates;
    if (const auto* manufacturer = findSection(inf, u"Manufacturer")) {
        for (const auto& line : manufacturer->lines) {
            if (line.fields.empty()) continue;
            auto base = expand(inf, line.fields[0]);
            const InfSection* chosen = findSection(inf, base);
            for (std::size_t i = 1; i < line.fields.size(); ++i) {
                auto decoration = expand(inf, line.fields[i]);
                if (startsWithIgnoringCase(decoration, platformDecoration(facts))) {
                    if (const auto* section = findSection(inf, base + u"." + decoration)) chosen = section;
                }
            }
            if (chosen) candidates.push_back(chosen);
        }
    } else {
        for (const auto& section : inf) candidates.push_back(&section);
    }
    for (const auto* section : candidates) {
        for (const auto& line : section->lines) {
            if (line.key.empty() || line.fields.size() < 2) continue;
            for (std::size_t i = 1; i < line.fields.size(); ++i) {
                if (equalsIgnoreCase(expand(inf, line.fields[i]), hardwareId)) {
                    return Model{expand(inf, line.key), expand(inf, line.fields[0])};
                }
            }
        }
    }
    return std::nullopt;
}

// The language monitor an install section registers ("name,dll").
std::optional<std::pair<std::u16string, std::u16string>> languageMonitorOf(const Inf& inf, const Model& model,
                                                                        const SystemFacts& facts) {
    const auto* line = findLine(decoratedSection(inf, model.installSection, facts), u"LanguageMonitor");
    if (!line) return std::nullopt;
    std::u16string joined;
    for (const auto& field : line->fields) joined += (joined.empty() ? u"" : u",") + expand(inf, field);
    auto comma = joined.find(u',');
    if (comma == std::u16string::npos) return std::nullopt;
    return std::pair{std::u16string(trim(std::u16string_view(joined).substr(0, comma))),
                     std::u16string(trim(std::u16string_view(joined).substr(comma + 1)))};
}

std::vector<std::uint8_t> registryString(std::u16string_view text) {
    std::vector<std::uint8_t> data;
    for (char16_t c : text) {
        data.push_back(static_cast<std::uint8_t>(c & 0xFF));
        data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

// The strings of a REG_MULTI_SZ of `size` bytes; none when the list does not
// end with its empty string inside the buffer.
std::optional<std::vector<std::u16string>> parseMultiString(const std::uint8_t* buffer, std::uint32_t size) {
    if (size % 2 != 0 || size < 2) return std::nullopt;
    std::vector<std::u16string> strings;
    std::u16string current;
    for (std::uint32_t i = 0; i + 1 < size; i += 2) {
        auto unit = static_cast<char16_t>(buffer[i] | (buffer[i + 1] << 8));
        if (unit != 0) {
            current += unit;
        } else if (current.empty()) {
            return strings;
        } else {
            strings.push_back(std::move(current));
            current.clear();
        }
    }
    return std::nullopt;
}

std::u16string parseString(const std::uint8_t* buffer, std::uint32_t size) {
    std::u16string text;
    for (std::uint32_t i = 0; i + 1 < size; i += 2) {
        auto unit = static_cast<char16_t>(buffer[i] | (buffer[i + 1] << 8));
        if (unit == 0) break;
        text += unit;
    }
    return text;
}

}  // namespace

bool SimDeviceSetup::getInfClass(const char16_t* infPath, platform::Guid* classGuid, char16_t* className,
                                 std::uint32_t classNameSize, std::uint32_t* requiredSize) {
    std::string line = "SetupDiGetINFClassW " + describe(infPath);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (auto fault = m_.injectedFault("SetupDiGetINFClassW")) return failWith(*fault);
    if (!infPath || !classGuid) return failWith(kErrorInvalidParameter);
    auto bytes = *infPath ? readBytes(m_.processPath(infPath)) : std::nullopt;
    if (!bytes) return failWith(kErrorFileNotFound);
    auto inf = parseInf(decodeInf(*bytes, m_.facts.ansiCodePage));
    const auto* version = findSection(inf, u"Version");
    auto name = fieldOf(inf, version, u"Class");
    auto guidText = fieldOf(inf, version, u"ClassGuid");
    auto guid = guidText ? parseGuid(*guidText) : std::nullopt;
    // A class named without its GUID, or the other way round, is completed
    // from the classes the machine knows (printers only).
    if (!name && guid == kPrinterClass) name = u"Printer";
    if (!name || name->empty()) return failWith(kErrorInvalidClass);
    if (!guid) guid = equalsIgnoreCase(*name, u"Printer") ? kPrinterClass : platform::Guid{};
    auto needed = static_cast<std::uint32_t>(name->size() + 1);
    if (requiredSize) *requiredSize = needed;
    if (!className || classNameSize < needed) return failWith(kErrorInsufficientBuffer);
    std::copy(name->begin(), name->end(), className);
    className[name->size()] = 0;
    *classGuid = *guid;
    m_.lastError = kErrorSuccess;
    m_.log(line + " " + toUtf8(*name));
    return true;
}

platform::Handle SimDeviceSetup::createDeviceInfoList(const platform::Guid* classGuid, platform::Handle /*window*/) {
    if (auto fault = m_.injectedFault("SetupDiCreateDeviceInfoList")) {
        m_.fail(*fault);
        m_.log("SetupDiCreateDeviceInfoList -> " + std::to_string(*fault));
        return platform::kInvalidHandle;
    }
    DeviceInfoSet set;
    if (classGuid) set.classGuid = *classGuid;
    m_.lastError = kErrorSuccess;
    m_.log("SetupDiCreateDeviceInfoList");
    return m_.addObject(std::move(set));
}

bool SimDeviceSetup::createDeviceInfo(platform::Handle setHandle, const char16_t* deviceName,
                                      const platform::Guid* classGuid, const char16_t* description,
                                      platform::Handle /*window*/, std::uint32_t flags,
                                      platform::DeviceInfoData* data) {
    std::string line = "SetupDiCreateDeviceInfoW " + describe(deviceName);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (auto fault = m_.injectedFault("SetupDiCreateDeviceInfoW")) return failWith(*fault);
    auto* set = m_.findDeviceInfoSet(setHandle);
    if (!set) return failWith(kErrorInvalidHandle);
    if (data && data->cbSize != sizeof(platform::DeviceInfoData)) return failWith(kErrorInvalidUserBuffer);
    if (flags & ~(kDicdGenerateId | kDicdInheritClassDrivers)) return failWith(kErrorInvalidFlags);
    if (!classGuid) return failWith(kErrorInvalidParameter);
    if (set->classGuid && !(*set->classGuid == *classGuid)) return failWith(kErrorClassMismatch);
    if (!deviceName || !*deviceName) return failWith(kErrorInvalidDevinstName);

    // Instance IDs in use: the machine's devices and every element being created.
    auto taken = [&](std::u16string_view id) {
        for (const auto& device : m_.devices) {
            if (equalsIgnoreCase(device.instanceId, id)) return true;
        }
        for (const auto& [value, object] : m_.objects) {
            const auto* other = std::get_if<DeviceInfoSet>(&object);
            if (!other) continue;
            for (const auto& element : other->elements) {
                if (equalsIgnoreCase(element.instanceId, id)) return true;
            }
        }
        return false;
    };
    std::u16string instanceId;
    if (flags & kDicdGenerateId) {
        // The name is an enumerator-less device name: ROOT\NAME\nnnn, the first free number.
        std::u16string_view name(deviceName);
        if (name.find(u'\\') != std::u16string_view::npos) return failWith(kErrorInvalidDevinstName);
        for (int number = 0; number < 10000 && instanceId.empty(); ++number) {
            auto digits = fromUtf8(std::to_string(10000 + number).substr(1));
            auto candidate = u"ROOT\\" + upperAscii(name) + u"\\" + digits;
            if (!taken(candidate)) instanceId = candidate;
        }
        if (instanceId.empty()) return failWith(kErrorDevinstAlreadyExists);
    } else {
        instanceId = upperAscii(deviceName);
        if (taken(instanceId)) return failWith(kErrorDevinstAlreadyExists);
    }

    DeviceInfoElement element;
    element.instanceId = instanceId;
    element.classGuid = *classGuid;
    element.devInst = m_.nextDevInst++;
    if (description) element.description = description;
    if (data) {
        data->classGuid = element.classGuid;
        data->devInst = element.devInst;
        data->reserved = 0;
    }
    set->elements.push_back(std::move(element));
    m_.lastError = kErrorSuccess;
    m_.log("SetupDiCreateDeviceInfoW " + toUtf8(instanceId));
    return true;
}

bool SimDeviceSetup::setDeviceRegistryProperty(platform::Handle setHandle, platform::DeviceInfoData* data,
                                               std::uint32_t property, const std::uint8_t* buffer,
                                               std::uint32_t size) {
    std::string line = "SetupDiSetDeviceRegistryPropertyW " + std::to_string(property);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (auto fault = m_.injectedFault("SetupDiSetDeviceRegistryPropertyW")) return failWith(*fault);
    auto* set = m_.findDeviceInfoSet(setHandle);
    if (!set) return failWith(kErrorInvalidHandle);
    if (!data) return failWith(kErrorInvalidParameter);
    if (data->cbSize != sizeof(platform::DeviceInfoData)) return failWith(kErrorInvalidUserBuffer);
    auto element = std::find_if(set->elements.begin(), set->elements.end(),
                                [&](const DeviceInfoElement& e) { return e.devInst == data->devInst; });
    if (element == set->elements.end()) return failWith(kErrorInvalidParameter);
    if (property >= kSpdrpMaximumProperty) return failWith(kErrorInvalidRegProperty);
    if (!buffer && size != 0) return failWith(kErrorInvalidParameter);

    std::string shown;
    if (property == kSpdrpHardwareId) {
        // No buffer deletes the property.
        std::vector<std::u16string> ids;
        if (buffer) {
            auto parsed = parseMultiString(buffer, size);
            if (!parsed) return failWith(kErrorInvalidData);
            ids = std::move(*parsed);
        }
        element->hardwareIds = std::move(ids);
        for (const auto& id : element->hardwareIds) shown += " " + toUtf8(id);
    } else if (property == kSpdrpDeviceDesc) {
        element->description = buffer ? parseString(buffer, size) : std::u16string();
        shown = " " + toUtf8(element->description);
    }
    // A registered element is the machine's device: it changes with it.
    if (element->registered) {
        for (auto& device : m_.devices) {
            if (!equalsIgnoreCase(device.instanceId, element->instanceId)) continue;
            device.hardwareId = element->hardwareIds.empty() ? std::u16string() : element->hardwareIds.front();
            device.description = element->description;
        }
    }
    m_.lastError = kErrorSuccess;
    m_.log(line + shown);
    return true;
}

bool SimDeviceSetup::callClassInstaller(std::uint32_t function, platform::Handle setHandle,
                                        platform::DeviceInfoData* data) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%X", function);
    std::string line = std::string("SetupDiCallClassInstaller ") + code;
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (auto fault = m_.injectedFault("SetupDiCallClassInstaller")) return failWith(*fault);
    auto* set = m_.findDeviceInfoSet(setHandle);
    if (!set) return failWith(kErrorInvalidHandle);
    // Class installers run only in a process of the machine's own word size.
    if (m_.isWow64Process()) return failWith(kErrorInWow64);
    if (function != kDifRegisterDevice) {
        m_.lastError = kErrorSuccess;
        m_.log(line);
        return true;
    }
    if (!data) return failWith(kErrorInvalidParameter);
    if (data->cbSize != sizeof(platform::DeviceInfoData)) return failWith(kErrorInvalidUserBuffer);
    auto element = std::find_if(set->elements.begin(), set->elements.end(),
                                [&](const DeviceInfoElement& e) { return e.devInst == data->devInst; });
    if (element == set->elements.end()) return failWith(kErrorInvalidParameter);
    if (!element->registered) {
        element->registered = true;
        SimDevice device;
        device.instanceId = element->instanceId;
        if (!element->hardwareIds.empty()) device.hardwareId = element->hardwareIds.front();
        device.description = element->description;
        m_.devices.push_back(std::move(device));
    }
    m_.lastError = kErrorSuccess;
    m_.log(line + " " + toUtf8(element->instanceId));
    return true;
}

bool SimDeviceSetup::destroyDeviceInfoList(platform::Handle setHandle) {
    if (auto fault = m_.injectedFault("SetupDiDestroyDeviceInfoList")) {
        m_.fail(*fault);
        m_.log("SetupDiDestroyDeviceInfoList -> " + std::to_string(*fault));
        return false;
    }
    if (!m_.findDeviceInfoSet(setHandle)) {
        m_.fail(kErrorInvalidHandle);
        m_.log("SetupDiDestroyDeviceInfoList -> " + std::to_string(kErrorInvalidHandle));
        return false;
    }
    // Elements never registered go with the set.
    m_.closeObject(setHandle);
    m_.log("SetupDiDestroyDeviceInfoList");
    return true;
}

bool SimDeviceSetup::updateDriverForPlugAndPlayDevices(platform::Handle /*window*/, const char16_t* hardwareId,
                                                       const char16_t* infPath, std::uint32_t flags,
                                                       bool* rebootRequired) {
    std::string line = "UpdateDriverForPlugAndPlayDevicesW " + describe(hardwareId) + " " + describe(infPath);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (auto fault = m_.injectedFault("UpdateDriverForPlugAndPlayDevicesW")) return failWith(*fault);
    if (!hardwareId || !*hardwareId || !infPath) return failWith(kErrorInvalidParameter);
    if (flags & ~(kInstallFlagForce | kInstallFlagReadOnly | kInstallFlagNonInteractive)) {
        return failWith(kErrorInvalidFlags);
    }
    if (m_.isWow64Process()) return failWith(kErrorInWow64);
    auto bytes = *infPath ? readBytes(m_.processPath(infPath)) : std::nullopt;
    if (!bytes) return failWith(kErrorFileNotFound);

    std::vector<SimDevice*> devices;
    for (auto& device : m_.devices) {
        if (equalsIgnoreCase(device.hardwareId, hardwareId)) devices.push_back(&device);
    }
    bool printerPresent = equalsIgnoreCase(hardwareId, kUsbPrinterHardwareId) &&
                          std::any_of(m_.usb.begin(), m_.usb.end(), [](const auto& i) { return i.printer != nullptr; });
    if (devices.empty() && !printerPresent) return failWith(kErrorNoSuchDevinst);

    auto inf = parseInf(decodeInf(*bytes, m_.facts.ansiCodePage));
    auto model = modelFor(inf, hardwareId, m_.facts);
    if (!model) return failWith(kErrorNoCompatDrivers);
    auto environment = std::u16string(nativeEnvironment(m_.facts));
    bool driverPresent = std::any_of(m_.drivers.begin(), m_.drivers.end(), [&](const SimDriver& driver) {
        return equalsIgnoreCase(driver.name, model->name) && equalsIgnoreCase(driver.environment, environment);
    });
    // Without the force flag the same driver again is no better than the current one.
    bool current = driverPresent && std::all_of(devices.begin(), devices.end(),
                                                [](const SimDevice* device) { return device->driverInstalled; });
    if (!(flags & kInstallFlagForce) && current) return failWith(kErrorNoMoreItems);
    m_.log(line);

    // The INF goes to <windir>\inf as oemN.inf, unless a copy with the same
    // contents is there already.
    const auto& system = m_.facts.systemDirectory;
    auto infDirectory = system.substr(0, system.find_last_of(u'\\')) + u"\\inf";
    auto infHost = m_.hostPath(infDirectory);
    std::error_code ec;
    std::filesystem::create_directories(infHost, ec);
    std::u16string oemName;
    for (const auto& entry : std::filesystem::directory_iterator(infHost, ec)) {
        auto name = fromUtf8(entry.path().filename().string());
        if (startsWithIgnoringCase(name, u"oem") && name.size() > 7 &&
            equalsIgnoreCase(std::u16string_view(name).substr(name.size() - 4), u".inf") &&
            readBytes(entry.path()) == bytes) {
            oemName = name;
        }
    }
    if (oemName.empty()) {
        for (int number = 0; oemName.empty(); ++number) {
            auto candidate = u"oem" + fromUtf8(std::to_string(number)) + u".inf";
            if (!std::filesystem::exists(m_.hostPath(infDirectory + u"\\" + candidate), ec)) oemName = candidate;
        }
        std::ofstream(infHost / toUtf8(oemName), std::ios::binary) << *bytes;
        m_.log("  INF copied to " + toUtf8(infDirectory + u"\\" + oemName));
    }

    if (!driverPresent) {
        m_.drivers.push_back({model->name, environment});
        m_.log("  printer driver " + toUtf8(model->name) + " added for " + toUtf8(environment));
    }
    if (auto monitor = languageMonitorOf(inf, *model, m_.facts)) {
        auto key = std::u16string(kMonitorsKey) + u"\\" + monitor->first;
        m_.ensureRegistryKey(key).setValue(u"Driver", kRegSz, registryString(monitor->second));
        m_.log("  language monitor " + toUtf8(monitor->first) + " (" + toUtf8(monitor->second) + ")");
    }
    for (auto* device : devices) {
        device->driverInstalled = true;
        m_.log("  driver installed on " + toUtf8(device->instanceId));
    }
    if (rebootRequired) *rebootRequired = false;
    m_.lastError = kErrorSuccess;
    return true;
}

}  // namespace hx::sim::detail

namespace hx::sim {

std::vector<SimDevice>& Machine::devices() { return impl_->devices; }

}  // namespace hx::sim
