// The simulated machine between processes: what a fresh machine holds, and
// the machine kept in a directory (drive C as files, every other area as a
// readable text file replaced atomically) with the process-wide machine that
// lives there.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>

#include "platform/sim/machine_impl.h"

namespace hx::sim {
namespace detail {
namespace {

using namespace platform::win;

// ---- The fresh machine ----

constexpr std::u16string_view kSetupDirectory = u"C:\\HX352Setup";

std::string infText(std::string_view language) {
    std::string lines[] = {
        "; HX-352 label printer driver package (" + std::string(language) + ")",
        "[Version]",
        "Signature=\"$Windows NT$\"",
        "Class=Printer",
        "ClassGuid={4D36E979-E325-11CE-BFC1-08002BE10318}",
        "Provider=%Maker%",
        "DriverVer=03/01/2024,1.0.0.1",
        "",
        "[Manufacturer]",
        "%Maker%=Models,NTamd64",
        "",
        "[Models]",
        "\"HX-352\" = HX352.Install, USBPRINT\\HX-35290EE",
        "",
        "[Models.NTamd64]",
        "\"HX-352\" = HX352.Install, USBPRINT\\HX-35290EE",
        "",
        "[HX352.Install]",
        "CopyFiles=HX352.Files",
        "LanguageMonitor=%LanguageMonitor%,HX352LM.DLL",
        "",
        "[HX352.Files]",
        "HX352.DLL",
        "",
        "[Strings]",
        "Maker=\"Velmor\"",
        "LanguageMonitor=\"HX352 Language Monitor\"",
    };
    std::string text;
    for (const auto& line : lines) text += line + "\r\n";
    return text;
}

void placeFile(const std::filesystem::path& path, std::string_view contents) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) return;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

std::vector<std::uint8_t> stringBytes(std::u16string_view text) {
    std::vector<std::uint8_t> bytes((text.size() + 1) * sizeof(char16_t), 0);
    std::memcpy(bytes.data(), text.data(), text.size() * sizeof(char16_t));
    return bytes;
}

}  // namespace

void setUpFreshMachine(Machine::Impl& m, bool populateDrive) {
    m.facts = SystemFacts{};
    m.tokenPrivileges = freshProcessToken();
    m.spoolerState = ServiceState::Running;

    m.ports.clear();
    for (auto name : {u"COM1:", u"COM2:", u"COM3:", u"COM4:", u"LPT1:", u"LPT2:", u"LPT3:", u"FILE:"}) {
        m.ports.push_back({name, u"Local Port", u"Local Port", 0x1});
    }
    m.monitors = {{u"Local Port", u"Windows x64", u"localspl.dll"},
                  {u"Standard TCP/IP Port", u"Windows x64", u"tcpmon.dll"}};
    m.printers.clear();
    m.drivers.clear();

    m.registryRoot = RegistryKey{};
    for (const auto& monitor : m.monitors) {
        m.ensureRegistryKey(std::u16string(kMonitorsKey) + u"\\" + monitor.name)
            .setValue(u"Driver", kRegSz, stringBytes(monitor.dll));
    }
    m.ensureRegistryKey(u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows")
        .setValue(u"TransmissionRetryTimeout", kRegSz, stringBytes(u"90"));

    if (!populateDrive) return;
    for (auto directory : {u"C:\\Windows\\SysWOW64", u"C:\\Windows\\inf", u"C:\\Users\\Public"}) {
        std::filesystem::create_directories(m.hostPath(directory));
    }
    auto system = m.facts.systemDirectory + u"\\";
    placeFile(m.hostPath(system + u"localspl.dll"), "MZ stand-in for localspl.dll\n");
    placeFile(m.hostPath(system + u"tcpmon.dll"), "MZ stand-in for tcpmon.dll\n");
    auto setup = std::u16string(kSetupDirectory) + u"\\";
    placeFile(m.hostPath(setup + u"HX-352DriverInstall.exe"), "MZ stand-in for HX-352DriverInstall.exe\n");
    placeFile(m.hostPath(setup + u"VelmorUSBMon.dll"), "MZ stand-in for VelmorUSBMon.dll\n");
    placeFile(m.hostPath(setup + u"VelmorUSBMonUI.dll"), "MZ stand-in for VelmorUSBMonUI.dll\n");
    placeFile(m.hostPath(setup + u"srclient.dll"), "MZ stand-in for srclient.dll\n");
    placeFile(m.hostPath(setup + u"HX-352\\ENG\\HX-352.INF"), infText("English"));
    placeFile(m.hostPath(setup + u"HX-352\\CHN\\HX-352.INF"), infText("Simplified Chinese"));
}

namespace {

// ---- Text form ----

std::string hexNumber(std::uint64_t value, int digits) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%0*llx", digits, static_cast<unsigned long long>(value));
    return buffer;
}

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// A quoted string in UTF-8: backslash and quote escaped, control characters
// and unpaired surrogates as \u{XXXX}, so every UTF-16 string comes back as it was.
std::string quote(std::u16string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c == u'\\') {
            out += "\\\\";
        } else if (c == u'"') {
            out += "\\\"";
        } else if (c == u'\n') {
            out += "\\n";
        } else if (c == u'\r') {
            out += "\\r";
        } else if (c == u'\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u{" + hexNumber(c, 4).substr(2) + "}";
        } else if (isHighSurrogate(c) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            out += toUtf8(text.substr(i, 2));
            ++i;
        } else if (isHighSurrogate(c) || isLowSurrogate(c)) {
            out += "\\u{" + hexNumber(c, 4).substr(2) + "}";
        } else {
            out += toUtf8(text.substr(i, 1));
        }
    }
    return out + "\"";
}

// Bytes (the printer's texts, in its code page) as a quoted string whose
// units are the byte values.
std::string quoteBytes(std::string_view bytes) {
    std::u16string units;
    for (unsigned char byte : bytes) units += static_cast<char16_t>(byte);
    std::string out = "\"";
    for (char16_t c : units) {
        if (c >= 0x80) {
            out += "\\u{" + hexNumber(c, 4).substr(2) + "}";
        } else {
            out += quote(std::u16string(1, c)).substr(1, std::string::npos);
            out.pop_back();
        }
    }
    return out + "\"";
}

// Key names in section headers: "%" and characters a line cannot carry as %XXXX.
std::string keyComponent(std::u16string_view name) {
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char16_t c = name[i];
        bool paired = isHighSurrogate(c) && i + 1 < name.size() && isLowSurrogate(name[i + 1]);
        if (c == u'%' || c < 0x20 || c == 0x7F || ((isHighSurrogate(c) || isLowSurrogate(c)) && !paired)) {
            out += "%" + hexNumber(c, 4).substr(2);
        } else if (paired) {
            out += toUtf8(name.substr(i, 2));
            ++i;
        } else {
            out += toUtf8(name.substr(i, 1));
        }
    }
    return out;
}

bool validUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        std::size_t extra = byte < 0x80             ? 0
                            : (byte & 0xE0) == 0xC0 ? 1
                            : (byte & 0xF0) == 0xE0 ? 2
                            : (byte & 0xF8) == 0xF0 ? 3
                                                    : 4;
        if (extra == 4 || (extra == 1 && byte < 0xC2) || i + extra >= text.size()) return false;
        for (std::size_t j = 1; j <= extra; ++j) {
            if ((static_cast<unsigned char>(text[i + j]) & 0xC0) != 0x80) return false;
        }
        i += extra + 1;
    }
    return true;
}

void writeAtomically(const std::filesystem::path& path, const std::string& contents) {
    // A reader never sees half a file: the new one takes the old one's place
    // in one rename within the same directory.
    auto temporary = path;
    temporary += ".tmp-" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
        out.flush();
        if (!out) throw std::runtime_error("cannot write " + temporary.string());
    }
    std::filesystem::rename(temporary, path);
}

// ---- Reading ----

struct Token {
    bool quoted = false;
    std::string text;      // as written, for words and numbers
    std::u16string value;  // the string of a quoted token
};

// The lines of one machine file, read with their numbers; every complaint
// names the file and the line.
class Reader {
public:
    explicit Reader(std::filesystem::path path) : path_(std::move(path)) {
        std::ifstream in(path_, std::ios::binary);
        if (!in) throw MachineLoadError(path_.string() + ": missing or unreadable");
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines_.push_back(std::move(line));
        }
    }

    // The next line that is neither blank nor a comment.
    bool next() {
        while (++index_ < static_cast<long>(lines_.size())) {
            const auto& line = lines_[index_];
            auto start = line.find_first_not_of(" \t");
            if (start == std::string::npos || line[start] == '#') continue;
            if (!validUtf8(line)) fail("not UTF-8 text");
            return true;
        }
        return false;
    }
    [[nodiscard]] std::string_view line() const { return lines_[index_]; }

    // Past the last line, the complaint is about the end of the file.
    [[noreturn]] void fail(const std::string& problem) const {
        bool atEnd = index_ < 0 || index_ >= static_cast<long>(lines_.size());
        auto number = atEnd ? std::max<long>(1, static_cast<long>(lines_.size())) : index_ + 1;
        throw MachineLoadError(path_.string() + ":" + std::to_string(number) + ": " + (atEnd ? "at the end: " : "") +
                               problem);
    }

    [[nodiscard]] std::vector<Token> tokens(std::string_view text) const {
        std::vector<Token> tokens;
        std::size_t i = 0;
        while (i < text.size()) {
            if (text[i] == ' ' || text[i] == '\t') {
                ++i;
                continue;
            }
            Token token;
            if (text[i] == '"') {
                token.quoted = true;
                i = unquote(text, i + 1, token.value);
            } else {
                auto end = text.find_first_of(" \t\"", i);
                if (end == std::string_view::npos) end = text.size();
                token.text = std::string(text.substr(i, end - i));
                i = end;
            }
            tokens.push_back(std::move(token));
        }
        return tokens;
    }
    [[nodiscard]] std::vector<Token> tokens() const { return tokens(line()); }

    [[nodiscard]] std::u16string string(const Token& token, std::string_view what) const {
        if (!token.quoted) fail(std::string(what) + ": expected a quoted string, found '" + token.text + "'");
        return token.value;
    }
    [[nodiscard]] std::string bytes(const Token& token, std::string_view what) const {
        std::string out;
        for (char16_t c : string(token, what)) {
            if (c > 0xFF) fail(std::string(what) + ": a character beyond \\u{00ff} in a byte string");
            out += static_cast<char>(c);
        }
        return out;
    }
    [[nodiscard]] std::uint64_t number(const Token& token, std::string_view what, std::uint64_t max) const {
        auto problem = std::string(what) + ": expected a number up to " + std::to_string(max) + ", found " +
                       (token.quoted ? quote(token.value) : "'" + token.text + "'");
        if (token.quoted || token.text.empty()) fail(problem);
        std::string_view digits = token.text;
        int base = 10;
        if (digits.starts_with("0x") || digits.starts_with("0X")) {
            digits.remove_prefix(2);
            base = 16;
        }
        if (digits.empty() || digits.size() > 20) fail(problem);
        std::uint64_t value = 0;
        for (char c : digits) {
            int digit = c >= '0' && c <= '9'                 ? c - '0'
                        : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                             : -1;
            if (digit < 0 || value > (max - static_cast<std::uint64_t>(digit)) / static_cast<std::uint64_t>(base)) {
                fail(problem);
            }
            value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        }
        return value;
    }
    [[nodiscard]] std::int64_t signedNumber(const Token& token, std::string_view what, std::int64_t min,
                                            std::int64_t max) const {
        if (!token.quoted && token.text.starts_with('-')) {
            Token positive = token;
            positive.text.erase(0, 1);
            auto magnitude = number(positive, what, static_cast<std::uint64_t>(-min));
            return -static_cast<std::int64_t>(magnitude);
        }
        return static_cast<std::int64_t>(number(token, what, static_cast<std::uint64_t>(max)));
    }
    [[nodiscard]] bool boolean(const Token& token, std::string_view what) const {
        if (!token.quoted && token.text == "true") return true;
        if (!token.quoted && token.text == "false") return false;
        fail(std::string(what) + ": expected true or false");
    }
    template <class Enum, std::size_t N>
    [[nodiscard]] Enum word(const Token& token, std::string_view what,
                            const std::pair<std::string_view, Enum> (&words)[N]) const {
        for (const auto& [name, value] : words) {
            if (!token.quoted && token.text == name) return value;
        }
        std::string known;
        for (const auto& entry : words) known += (known.empty() ? "" : ", ") + std::string(entry.first);
        fail(std::string(what) + ": expected one of " + known);
    }

    // "key = value..." lines: the key and the tokens after "=".
    [[nodiscard]] std::pair<std::string, std::vector<Token>> assignment() const {
        auto all = tokens();
        if (all.size() < 3 || all[0].quoted || all[1].quoted || all[1].text != "=") fail("expected 'key = value'");
        return {all[0].text, std::vector<Token>(all.begin() + 2, all.end())};
    }

private:
    // The text of a quoted string from `i` (after the opening quote); the
    // index after the closing quote.
    std::size_t unquote(std::string_view text, std::size_t i, std::u16string& out) const {
        std::string pending;  // plain UTF-8 run
        auto flush = [&] {
            out += fromUtf8(pending);
            pending.clear();
        };
        while (i < text.size()) {
            char c = text[i];
            if (c == '"') {
                flush();
                return i + 1;
            }
            if (c != '\\') {
                pending += c;
                ++i;
                continue;
            }
            flush();
            if (i + 1 >= text.size()) break;
            char e = text[i + 1];
            i += 2;
            switch (e) {
                case '\\':
                    out += u'\\';
                    break;
                case '"':
                    out += u'"';
                    break;
                case 'n':
                    out += u'\n';
                    break;
                case 'r':
                    out += u'\r';
                    break;
                case 't':
                    out += u'\t';
                    break;
                case 'u': {
                    auto close = text.find('}', i);
                    if (i >= text.size() || text[i] != '{' || close == std::string_view::npos || close - i - 1 == 0 ||
                        close - i - 1 > 4) {
                        fail("a \\u escape is written \\u{XXXX}");
                    }
                    unsigned value = 0;
                    for (auto d : text.substr(i + 1, close - i - 1)) {
                        int digit = d >= '0' && d <= '9'   ? d - '0'
                                    : d >= 'a' && d <= 'f' ? d - 'a' + 10
                                    : d >= 'A' && d <= 'F' ? d - 'A' + 10
                                                           : -1;
                        if (digit < 0) fail("a \\u escape is written \\u{XXXX}");
                        value = value * 16 + static_cast<unsigned>(digit);
                    }
                    out += static_cast<char16_t>(value);
                    i = close + 1;
                    break;
                }
                default:
                    fail(std::string("unknown escape \\") + e);
            }
        }
        fail("a quoted string has no closing quote");
    }

    std::filesystem::path path_;
    std::vector<std::string> lines_;
    long index_ = -1;
};

// The name-value pairs after a record's leading word(s); each one must be
// taken once, and none may be left over.
class Fields {
public:
    Fields(const Reader& reader, const std::vector<Token>& tokens, std::size_t from) : reader_(reader) {
        if ((tokens.size() - from) % 2 != 0) reader.fail("expected name-value pairs");
        for (std::size_t i = from; i < tokens.size(); i += 2) {
            if (tokens[i].quoted) reader.fail("expected a field name, found a quoted string");
            if (!values_.emplace(tokens[i].text, tokens[i + 1]).second) {
                reader.fail("field '" + tokens[i].text + "' given twice");
            }
        }
    }
    const Token& take(const std::string& name) {
        auto it = values_.find(name);
        if (it == values_.end()) reader_.fail("field '" + name + "' missing");
        taken_.push_back(*it);
        values_.erase(it);
        return taken_.back().second;
    }
    void done() const {
        if (!values_.empty()) reader_.fail("unknown field '" + values_.begin()->first + "'");
    }

private:
    const Reader& reader_;
    std::map<std::string, Token> values_;
    std::deque<std::pair<std::string, Token>> taken_;
};

constexpr std::pair<std::string_view, ServiceState> kServiceStates[] = {
    {"Stopped", ServiceState::Stopped},
    {"StartPending", ServiceState::StartPending},
    {"StopPending", ServiceState::StopPending},
    {"Running", ServiceState::Running},
};
constexpr std::pair<std::string_view, AckBehaviour> kAcks[] = {
    {"Accept", AckBehaviour::Accept},
    {"Refuse", AckBehaviour::Refuse},
    {"Silent", AckBehaviour::Silent},
};
template <class Enum, std::size_t N>
std::string_view wordFor(Enum value, const std::pair<std::string_view, Enum> (&words)[N]) {
    for (const auto& [name, candidate] : words) {
        if (candidate == value) return name;
    }
    return "?";
}

// ---- "key = value" areas: the system facts and a printer's facts ----

// One key of such an area: how its value is written and read back.
template <class Owner>
struct Setting {
    std::string_view key;
    std::function<std::string(const Owner&)> write;
    std::function<void(Owner&, const std::vector<Token>&, const Reader&)> read;
};

// `hexDigits` writes a number in hexadecimal (both forms are read).
template <class Owner, class T>
Setting<Owner> setting(std::string_view key, T Owner::*member, int hexDigits = 0) {
    Setting<Owner> entry{key, {}, {}};
    entry.write = [member, hexDigits](const Owner& owner) {
        const T& value = owner.*member;
        if constexpr (std::is_same_v<T, bool>) {
            return std::string(value ? "true" : "false");
        } else if constexpr (std::is_same_v<T, std::u16string>) {
            return quote(value);
        } else if constexpr (std::is_same_v<T, std::string>) {
            return quoteBytes(value);
        } else if constexpr (std::is_same_v<T, std::optional<std::uint32_t>>) {
            return value ? std::to_string(*value) : std::string("none");
        } else if constexpr (std::is_same_v<T, AckBehaviour>) {
            return std::string(wordFor(value, kAcks));
        } else {
            return hexDigits ? hexNumber(static_cast<std::uint64_t>(value), hexDigits) : std::to_string(value);
        }
    };
    entry.read = [member, key](Owner& owner, const std::vector<Token>& tokens, const Reader& reader) {
        std::string what(key);
        if (tokens.size() != 1) reader.fail(what + ": expected one value");
        const auto& token = tokens.front();
        T& value = owner.*member;
        if constexpr (std::is_same_v<T, bool>) {
            value = reader.boolean(token, what);
        } else if constexpr (std::is_same_v<T, std::u16string>) {
            value = reader.string(token, what);
        } else if constexpr (std::is_same_v<T, std::string>) {
            value = reader.bytes(token, what);
        } else if constexpr (std::is_same_v<T, std::optional<std::uint32_t>>) {
            if (!token.quoted && token.text == "none") {
                value.reset();
            } else {
                value = static_cast<std::uint32_t>(reader.number(token, what, UINT32_MAX));
            }
        } else if constexpr (std::is_same_v<T, AckBehaviour>) {
            value = reader.word(token, what, kAcks);
        } else if constexpr (std::is_signed_v<T>) {
            value = static_cast<T>(
                reader.signedNumber(token, what, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
        } else {
            value = static_cast<T>(reader.number(token, what, std::numeric_limits<T>::max()));
        }
    };
    return entry;
}

template <class Owner>
std::string writeSettings(const Owner& owner, const std::vector<Setting<Owner>>& settings) {
    std::string out;
    for (const auto& entry : settings) out += std::string(entry.key) + " = " + entry.write(owner) + "\n";
    return out;
}

// Reads "key = value" lines while they name settings of this table; stops
// (returning false) at a line that is not an assignment of one of them, or
// at the end (true). Every setting must have been given exactly once.
template <class Owner>
bool readSettings(Owner& owner, const std::vector<Setting<Owner>>& settings, Reader& reader, bool moreFollow) {
    std::set<std::string_view> seen;
    bool atEnd = true;
    while (reader.next()) {
        auto tokens = reader.tokens();
        if (moreFollow && (tokens.size() < 2 || tokens[1].quoted || tokens[1].text != "=")) {
            atEnd = false;
            break;
        }
        auto [key, values] = reader.assignment();
        auto entry = std::find_if(settings.begin(), settings.end(), [&](const auto& s) { return s.key == key; });
        if (entry == settings.end()) reader.fail("unknown key '" + key + "'");
        if (!seen.insert(entry->key).second) reader.fail("key '" + key + "' given twice");
        entry->read(owner, values, reader);
    }
    for (const auto& entry : settings) {
        if (!seen.contains(entry.key)) reader.fail("key '" + std::string(entry.key) + "' missing");
    }
    return atEnd;
}

const std::vector<Setting<SystemFacts>>& factSettings() {
    static const std::vector<Setting<SystemFacts>> settings{
        setting("nativeArchitecture", &SystemFacts::nativeArchitecture),
        setting("processArchitecture", &SystemFacts::processArchitecture),
        setting("hasNativeSystemInfo", &SystemFacts::hasNativeSystemInfo),
        setting("defaultLangId", &SystemFacts::defaultLangId, 4),
        setting("ansiCodePage", &SystemFacts::ansiCodePage),
        setting("majorVersion", &SystemFacts::majorVersion),
        setting("minorVersion", &SystemFacts::minorVersion),
        setting("buildNumber", &SystemFacts::buildNumber),
        setting("platformId", &SystemFacts::platformId),
        setting("productType", &SystemFacts::productType),
        setting("versionQueryFails", &SystemFacts::versionQueryFails),
        setting("serverR2Metric", &SystemFacts::serverR2Metric),
        setting("trueMajorVersion", &SystemFacts::trueMajorVersion),
        setting("systemDirectory", &SystemFacts::systemDirectory),
        setting("programPath", &SystemFacts::programPath),
        setting("currentDirectory", &SystemFacts::currentDirectory),
        setting("registryWritable", &SystemFacts::registryWritable),
    };
    return settings;
}

// The machine's own clock is kept with the facts, so a stop still pending
// completes on time in the next process.
struct SystemArea {
    SystemFacts facts;
    std::uint64_t clockMs = 0;
};

std::vector<Setting<SystemArea>> systemSettings() {
    std::vector<Setting<SystemArea>> settings;
    for (const auto& fact : factSettings()) {
        settings.push_back({fact.key, [write = fact.write](const SystemArea& area) { return write(area.facts); },
                            [read = fact.read](SystemArea& area, const std::vector<Token>& tokens,
                                               const Reader& reader) { read(area.facts, tokens, reader); }});
    }
    settings.push_back(setting("clockMs", &SystemArea::clockMs));
    return settings;
}

const std::vector<Setting<SimPrinter>>& printerSettings() {
    static const std::vector<Setting<SimPrinter>> settings{
        setting("type", &SimPrinter::type),
        setting("serialNumber", &SimPrinter::serialNumber),
        setting("firmwareVersion", &SimPrinter::firmwareVersion),
        setting("status", &SimPrinter::status),
        setting("printedLength", &SimPrinter::printedLength),
        setting("badDotCount", &SimPrinter::badDotCount),
        {"settings",
         [](const SimPrinter& printer) {
             const auto& s = printer.settings;
             std::ostringstream out;
             out << +s.field1 << ' ' << +s.field2 << ' ' << s.field3 << ' ' << +s.field4 << ' ' << +s.field5 << ' '
                 << +s.field6 << ' ' << +s.field7 << ' ' << +s.field8 << ' ' << +s.field9 << ' ' << +s.field10 << ' '
                 << +s.field11 << ' ' << s.field12 << ' ' << s.field13;
             return out.str();
         },
         [](SimPrinter& printer, const std::vector<Token>& tokens, const Reader& reader) {
             if (tokens.size() != 13) reader.fail("settings: expected 13 numbers");
             auto& s = printer.settings;
             auto u8 = [&](std::size_t i) {
                 return static_cast<std::uint8_t>(reader.number(tokens[i], "settings", 0xFF));
             };
             s.field1 = u8(0);
             s.field2 = u8(1);
             s.field3 = static_cast<std::uint16_t>(reader.number(tokens[2], "settings", 0xFFFF));
             s.field4 = u8(3);
             s.field5 = u8(4);
             s.field6 = u8(5);
             s.field7 = u8(6);
             s.field8 = u8(7);
             s.field9 = u8(8);
             s.field10 = u8(9);
             s.field11 = u8(10);
             s.field12 = static_cast<std::int16_t>(reader.signedNumber(tokens[11], "settings", INT16_MIN, INT16_MAX));
             s.field13 = static_cast<std::uint16_t>(reader.number(tokens[12], "settings", 0xFFFF));
         }},
        setting("userDefSetting", &SimPrinter::userDefSetting),
        setting("locationSetting", &SimPrinter::locationSetting),
        setting("dumpMode", &SimPrinter::dumpMode),
        setting("settingAck", &SimPrinter::settingAck),
        setting("firmwareAck", &SimPrinter::firmwareAck),
        setting("replyDelayMs", &SimPrinter::replyDelayMs),
        setting("keepPayloads", &SimPrinter::keepPayloads),
    };
    return settings;
}

// ---- The areas ----

constexpr const char* kSystemFile = "system.txt";
constexpr const char* kRegistryFile = "registry.txt";
constexpr const char* kSpoolerFile = "spooler.txt";
constexpr const char* kDevicesFile = "devices.txt";
constexpr const char* kUsbFile = "usb.txt";
constexpr const char* kSerialFile = "serial.txt";

std::string writeSystem(const Machine::Impl& m) {
    SystemArea area{m.facts, m.nowMs};
    return "# System facts of the simulated machine and its clock.\n" + writeSettings(area, systemSettings());
}

void readSystem(Machine::Impl& m, Reader reader) {
    SystemArea area;
    readSettings(area, systemSettings(), reader, false);
    m.facts = area.facts;
    m.nowMs = area.clockMs;
}

void writeKey(const RegistryKey& key, const std::string& path, std::string& out) {
    out += "\n[" + path + "]\n";
    for (const auto& value : key.values) {
        out += quote(value.name) + " = ";
        const auto& data = value.data;
        bool text = (value.type == kRegSz || value.type == kRegExpandSz) && data.size() >= 2 && data.size() % 2 == 0;
        std::u16string units;
        if (text) {
            units.resize(data.size() / 2);
            std::memcpy(units.data(), data.data(), data.size());
            text = units.back() == u'\0' && units.find(u'\0') == units.size() - 1;
        }
        if (text) {
            units.pop_back();
            out += (value.type == kRegSz ? "REG_SZ " : "REG_EXPAND_SZ ") + quote(units);
        } else if (value.type == kRegDword && data.size() == 4) {
            std::uint32_t number = 0;
            std::memcpy(&number, data.data(), 4);
            out += "REG_DWORD " + hexNumber(number, 8);
        } else {
            // Anything else keeps its exact bytes under its type number.
            out += value.type == 3 ? std::string("REG_BINARY") : "hex(" + std::to_string(value.type) + ")";
            for (auto byte : data) out += " " + hexNumber(byte, 2).substr(2);
        }
        out += "\n";
    }
    for (const auto& child : key.subkeys) writeKey(*child, path + "\\" + keyComponent(child->name), out);
}

std::string writeRegistry(const Machine::Impl& m) {
    std::string out =
        "# HKEY_LOCAL_MACHINE: a [HKLM\\path] section per key, then its values as\n"
        "# \"name\" = REG_SZ \"text\" | REG_EXPAND_SZ \"text\" | REG_DWORD 0x... | REG_BINARY hex bytes | hex(type) "
        "bytes\n";
    writeKey(m.registryRoot, "HKLM", out);
    return out;
}

std::u16string readKeyComponent(std::string_view text, const Reader& reader) {
    std::string plain;
    std::u16string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            plain += text[i];
            continue;
        }
        out += fromUtf8(plain);
        plain.clear();
        if (i + 4 >= text.size()) reader.fail("a % escape in a key name is %XXXX");
        unsigned value = 0;
        for (std::size_t j = i + 1; j <= i + 4; ++j) {
            char d = text[j];
            int digit = d >= '0' && d <= '9'   ? d - '0'
                        : d >= 'a' && d <= 'f' ? d - 'a' + 10
                        : d >= 'A' && d <= 'F' ? d - 'A' + 10
                                               : -1;
            if (digit < 0) reader.fail("a % escape in a key name is %XXXX");
            value = value * 16 + static_cast<unsigned>(digit);
        }
        out += static_cast<char16_t>(value);
        i += 4;
    }
    return out + fromUtf8(plain);
}

void readRegistry(Machine::Impl& m, Reader reader) {
    m.registryRoot = RegistryKey{};
    RegistryKey* current = nullptr;
    while (reader.next()) {
        auto line = reader.line();
        auto start = line.find_first_not_of(" \t");
        if (line[start] == '[') {
            auto end = line.find_last_of(']');
            if (end == std::string_view::npos || end < start) reader.fail("a section header ends with ']'");
            auto path = line.substr(start + 1, end - start - 1);
            if (path != "HKLM" && !path.starts_with("HKLM\\")) reader.fail("a key path starts with HKLM");
            current = &m.registryRoot;
            std::size_t from = 4;
            while (from < path.size()) {
                auto next = path.find('\\', from + 1);
                if (next == std::string_view::npos) next = path.size();
                auto component = path.substr(from + 1, next - from - 1);
                if (component.empty()) reader.fail("an empty key name");
                current = &current->ensureChild(readKeyComponent(component, reader));
                from = next;
            }
            continue;
        }
        if (!current) reader.fail("a value before the first [HKLM...] section");
        auto tokens = reader.tokens();
        if (tokens.size() < 3 || tokens[1].quoted || tokens[1].text != "=" || tokens[2].quoted) {
            reader.fail("expected '\"name\" = TYPE data'");
        }
        auto name = reader.string(tokens[0], "value name");
        if (current->value(name)) reader.fail("value " + quote(name) + " given twice");
        const auto& type = tokens[2].text;
        std::vector<Token> data(tokens.begin() + 3, tokens.end());
        if (type == "REG_SZ" || type == "REG_EXPAND_SZ") {
            if (data.size() != 1) reader.fail(type + ": expected one quoted string");
            current->setValue(name, type == "REG_SZ" ? kRegSz : kRegExpandSz,
                              stringBytes(reader.string(data[0], type)));
        } else if (type == "REG_DWORD") {
            if (data.size() != 1) reader.fail("REG_DWORD: expected one number");
            auto number = static_cast<std::uint32_t>(reader.number(data[0], "REG_DWORD", UINT32_MAX));
            std::vector<std::uint8_t> bytes(4);
            std::memcpy(bytes.data(), &number, 4);
            current->setValue(name, kRegDword, std::move(bytes));
        } else if (type == "REG_BINARY" || (type.starts_with("hex(") && type.ends_with(")"))) {
            std::uint32_t typeNumber = 3;
            if (type != "REG_BINARY") {
                Token inner;
                inner.text = type.substr(4, type.size() - 5);
                typeNumber = static_cast<std::uint32_t>(reader.number(inner, "value type", UINT32_MAX));
            }
            std::vector<std::uint8_t> bytes;
            for (const auto& token : data) {
                if (token.quoted || token.text.size() != 2) reader.fail("binary data is written as hex bytes");
                Token byte;
                byte.text = "0x" + token.text;
                bytes.push_back(static_cast<std::uint8_t>(reader.number(byte, "binary data", 0xFF)));
            }
            current->setValue(name, typeNumber, std::move(bytes));
        } else {
            reader.fail("unknown value type '" + type + "'");
        }
    }
}

std::string writeSpooler(const Machine::Impl& m) {
    std::string out =
        "# The print spooler: its service, then ports, monitors, drivers, and printers each\n"
        "# followed by its jobs.\n";
    out += "service " + std::string(wordFor(m.spoolerStateNow(), kServiceStates)) + " stopsAtMs " +
           std::to_string(m.spoolerStopsAtMs) + "\n";
    for (const auto& port : m.ports) {
        out += "port " + quote(port.name) + " monitor " + quote(port.monitor) + " description " +
               quote(port.description) + " type " + std::to_string(port.type) + "\n";
    }
    for (const auto& monitor : m.monitors) {
        out += "monitor " + quote(monitor.name) + " environment " + quote(monitor.environment) + " dll " +
               quote(monitor.dll) + "\n";
    }
    for (const auto& driver : m.drivers) {
        out += "driver " + quote(driver.name) + " environment " + quote(driver.environment) + "\n";
    }
    for (const auto& printer : m.printers) {
        out += "printer " + quote(printer.name) + " driver " + quote(printer.driver) + " port " + quote(printer.port) +
               "\n";
        for (const auto& job : printer.jobs) {
            out += "job " + std::to_string(job.id) + " document " + quote(job.document) + "\n";
        }
    }
    return out;
}

void readSpooler(Machine::Impl& m, Reader reader) {
    m.ports.clear();
    m.monitors.clear();
    m.drivers.clear();
    m.printers.clear();
    bool service = false;
    while (reader.next()) {
        auto tokens = reader.tokens();
        if (tokens.size() < 2 || tokens[0].quoted)
            reader.fail("expected a record: service, port, monitor, driver, printer or job");
        const auto& kind = tokens[0].text;
        if (kind == "service") {
            if (service) reader.fail("a second service line");
            service = true;
            m.spoolerState = reader.word(tokens[1], "service", kServiceStates);
            Fields fields(reader, tokens, 2);
            m.spoolerStopsAtMs = reader.number(fields.take("stopsAtMs"), "stopsAtMs", UINT64_MAX);
            fields.done();
        } else if (kind == "port") {
            Fields fields(reader, tokens, 2);
            SimPort port;
            port.name = reader.string(tokens[1], "port");
            port.monitor = reader.string(fields.take("monitor"), "monitor");
            port.description = reader.string(fields.take("description"), "description");
            port.type = static_cast<std::uint32_t>(reader.number(fields.take("type"), "type", UINT32_MAX));
            fields.done();
            m.ports.push_back(std::move(port));
        } else if (kind == "monitor") {
            Fields fields(reader, tokens, 2);
            SimMonitor monitor;
            monitor.name = reader.string(tokens[1], "monitor");
            monitor.environment = reader.string(fields.take("environment"), "environment");
            monitor.dll = reader.string(fields.take("dll"), "dll");
            fields.done();
            m.monitors.push_back(std::move(monitor));
        } else if (kind == "driver") {
            Fields fields(reader, tokens, 2);
            SimDriver driver;
            driver.name = reader.string(tokens[1], "driver");
            driver.environment = reader.string(fields.take("environment"), "environment");
            fields.done();
            m.drivers.push_back(std::move(driver));
        } else if (kind == "printer") {
            Fields fields(reader, tokens, 2);
            SimPrinterQueue printer;
            printer.name = reader.string(tokens[1], "printer");
            printer.driver = reader.string(fields.take("driver"), "driver");
            printer.port = reader.string(fields.take("port"), "port");
            fields.done();
            m.printers.push_back(std::move(printer));
        } else if (kind == "job") {
            if (m.printers.empty()) reader.fail("a job before any printer");
            Fields fields(reader, tokens, 2);
            SimJob job;
            job.id = static_cast<std::uint32_t>(reader.number(tokens[1], "job", UINT32_MAX));
            job.document = reader.string(fields.take("document"), "document");
            fields.done();
            m.printers.back().jobs.push_back(std::move(job));
        } else {
            reader.fail("unknown record '" + kind + "'");
        }
    }
    if (!service) reader.fail("the service line is missing");
}

std::string writeDevices(const Machine::Impl& m) {
    std::string out = "# Device elements registered through device setup.\n";
    for (const auto& device : m.devices) {
        out += "device " + quote(device.instanceId) + " hardwareId " + quote(device.hardwareId) + " description " +
               quote(device.description) + " driverInstalled " + (device.driverInstalled ? "true" : "false") + "\n";
    }
    return out;
}

void readDevices(Machine::Impl& m, Reader reader) {
    m.devices.clear();
    while (reader.next()) {
        auto tokens = reader.tokens();
        if (tokens.size() < 2 || tokens[0].quoted || tokens[0].text != "device")
            reader.fail("expected a device record");
        Fields fields(reader, tokens, 2);
        SimDevice device;
        device.instanceId = reader.string(tokens[1], "device");
        device.hardwareId = reader.string(fields.take("hardwareId"), "hardwareId");
        device.description = reader.string(fields.take("description"), "description");
        device.driverInstalled = reader.boolean(fields.take("driverInstalled"), "driverInstalled");
        fields.done();
        m.devices.push_back(std::move(device));
    }
}

std::string writeUsb(const Machine::Impl& m) {
    std::string out =
        "# The USB bus in enumeration order: each interface, and when a printer is behind it\n"
        "# ('printer'; 'none' for another device) the printer's facts.\n";
    for (const auto& device : m.usb) {
        out += "interface " + quote(device.path) + (device.printer ? " printer\n" : " none\n");
        if (device.printer) out += writeSettings(*device.printer, printerSettings());
    }
    return out;
}

void readUsb(Machine::Impl& m, Reader reader) {
    m.usb.clear();
    bool pending = reader.next();
    while (pending) {
        auto tokens = reader.tokens();
        if (tokens.size() != 3 || tokens[0].quoted || tokens[0].text != "interface" || tokens[2].quoted ||
            (tokens[2].text != "printer" && tokens[2].text != "none")) {
            reader.fail("expected 'interface \"path\" printer' or 'interface \"path\" none'");
        }
        Machine::UsbInterface device{reader.string(tokens[1], "interface"), nullptr};
        if (tokens[2].text == "printer") {
            device.printer = std::make_shared<SimPrinter>();
            pending = !readSettings(*device.printer, printerSettings(), reader, true);
        } else {
            pending = reader.next();
        }
        m.usb.push_back(std::move(device));
    }
}

std::string writeSerial(const Machine::Impl& m) {
    std::string out = "# Serial ports: each one's line settings (a DCB) and whether it refuses new ones.\n";
    for (const auto& port : m.serialPorts) {
        const auto& d = port.dcb;
        out += "port " + quote(port.name) + " dcbLength " + std::to_string(d.dcbLength) + " baudRate " +
               std::to_string(d.baudRate) + " flags " + hexNumber(d.flags, 8) + " reserved " +
               std::to_string(d.reserved) + " xonLim " + std::to_string(d.xonLim) + " xoffLim " +
               std::to_string(d.xoffLim) + " byteSize " + std::to_string(d.byteSize) + " parity " +
               std::to_string(d.parity) + " stopBits " + std::to_string(d.stopBits) + " xonChar " +
               std::to_string(static_cast<unsigned char>(d.xonChar)) + " xoffChar " +
               std::to_string(static_cast<unsigned char>(d.xoffChar)) + " errorChar " +
               std::to_string(static_cast<unsigned char>(d.errorChar)) + " eofChar " +
               std::to_string(static_cast<unsigned char>(d.eofChar)) + " evtChar " +
               std::to_string(static_cast<unsigned char>(d.evtChar)) + " reserved1 " + std::to_string(d.reserved1) +
               " refuseSettings " + (port.refuseSettings ? "true" : "false") + "\n";
    }
    return out;
}

void readSerial(Machine::Impl& m, Reader reader) {
    m.serialPorts.clear();
    while (reader.next()) {
        auto tokens = reader.tokens();
        if (tokens.size() < 2 || tokens[0].quoted || tokens[0].text != "port") reader.fail("expected a port record");
        Fields fields(reader, tokens, 2);
        SimSerialPort port;
        port.name = reader.string(tokens[1], "port");
        auto& d = port.dcb;
        auto take = [&](const char* name, std::uint64_t max) { return reader.number(fields.take(name), name, max); };
        d.dcbLength = static_cast<std::uint32_t>(take("dcbLength", UINT32_MAX));
        d.baudRate = static_cast<std::uint32_t>(take("baudRate", UINT32_MAX));
        d.flags = static_cast<std::uint32_t>(take("flags", UINT32_MAX));
        d.reserved = static_cast<std::uint16_t>(take("reserved", 0xFFFF));
        d.xonLim = static_cast<std::uint16_t>(take("xonLim", 0xFFFF));
        d.xoffLim = static_cast<std::uint16_t>(take("xoffLim", 0xFFFF));
        d.byteSize = static_cast<std::uint8_t>(take("byteSize", 0xFF));
        d.parity = static_cast<std::uint8_t>(take("parity", 0xFF));
        d.stopBits = static_cast<std::uint8_t>(take("stopBits", 0xFF));
        d.xonChar = static_cast<char>(take("xonChar", 0xFF));
        d.xoffChar = static_cast<char>(take("xoffChar", 0xFF));
        d.errorChar = static_cast<char>(take("errorChar", 0xFF));
        d.eofChar = static_cast<char>(take("eofChar", 0xFF));
        d.evtChar = static_cast<char>(take("evtChar", 0xFF));
        d.reserved1 = static_cast<std::uint16_t>(take("reserved1", 0xFFFF));
        port.refuseSettings = reader.boolean(fields.take("refuseSettings"), "refuseSettings");
        fields.done();
        m.serialPorts.push_back(std::move(port));
    }
}

struct Area {
    const char* file;
    std::string (*write)(const Machine::Impl&);
    void (*read)(Machine::Impl&, Reader);
};
constexpr Area kAreas[] = {
    {kSystemFile, writeSystem, readSystem},
    {kRegistryFile, writeRegistry, readRegistry},
    {kSpoolerFile, writeSpooler, readSpooler},
    {kDevicesFile, writeDevices, readDevices},
    {kUsbFile, writeUsb, readUsb},
    {kSerialFile, writeSerial, readSerial},
};

void writeState(const Machine::Impl& m, const std::filesystem::path& stateDirectory) {
    std::filesystem::create_directories(stateDirectory);
    for (const auto& area : kAreas) writeAtomically(stateDirectory / area.file, area.write(m));
}

std::filesystem::path processMachineDirectory() {
    if (const char* explicitPath = std::getenv("HX352_SIM_MACHINE"); explicitPath && *explicitPath) {
        return explicitPath;
    }
    std::filesystem::path state;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg) {
        state = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        state = std::filesystem::path(home) / ".local" / "state";
    } else {
        state = std::filesystem::temp_directory_path();
    }
    return state / "hx352-sim" / "machine";
}

// The process's machine, saved when the process ends so that the next
// process finds what this one did.
struct ProcessMachine {
    // Never destroyed: libraries unloaded after this holder may still give
    // back what they hold (the settings library's lock file) while the
    // process ends, and the machine must be there to take it.
    Machine* machine = nullptr;
    ProcessMachine() {
        try {
            machine = Machine::openDirectory(processMachineDirectory()).release();
        } catch (const std::exception& error) {
            // The libraries cannot act without their machine.
            std::fprintf(stderr, "hx352-sim: %s\n", error.what());
            std::fflush(stderr);
            std::exit(3);
        }
    }
    ~ProcessMachine() {
        try {
            machine->save();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "hx352-sim: the machine could not be saved: %s\n", error.what());
        }
    }
    ProcessMachine(const ProcessMachine&) = delete;
    ProcessMachine& operator=(const ProcessMachine&) = delete;
};

}  // namespace
}  // namespace detail

using namespace detail;

std::unique_ptr<Machine> Machine::openDirectory(const std::filesystem::path& directory) {
    auto state = directory / "machine";
    std::error_code ec;
    if (!std::filesystem::exists(state, ec)) {
        auto impl = std::make_unique<Impl>(directory / "C");
        impl->machineDirectory = directory;
        std::unique_ptr<Machine> machine(new Machine(std::move(impl)));
        machine->save();
        return machine;
    }
    auto impl = std::make_unique<Impl>(directory / "C", false);
    impl->machineDirectory = directory;
    for (const auto& area : kAreas) area.read(*impl, Reader(state / area.file));
    return std::unique_ptr<Machine>(new Machine(std::move(impl)));
}

void Machine::save() const {
    if (impl_->machineDirectory.empty()) throw std::logic_error("this machine was not opened from a directory");
    writeState(*impl_, impl_->machineDirectory / "machine");
}

void Machine::saveTo(const std::filesystem::path& directory) const {
    auto target = directory / "C";
    std::error_code ec;
    bool sameDrive = std::filesystem::exists(target, ec) && std::filesystem::equivalent(target, impl_->driveC, ec);
    if (!sameDrive) {
        std::filesystem::remove_all(target);
        std::filesystem::create_directories(directory);
        std::filesystem::copy(impl_->driveC, target, std::filesystem::copy_options::recursive);
    }
    writeState(*impl_, directory / "machine");
}

Machine& processMachine() {
    static ProcessMachine holder;
    return *holder.machine;
}

}  // namespace hx::sim

namespace hx::platform {
Platform& defaultPlatform() { return sim::processMachine().platform(); }
}  // namespace hx::platform
