// The print spooler of the simulated machine: ports, monitors, printers with
// their jobs, drivers and the driver directories, reached while the Spooler
// service runs. Enumerations pack their records into the caller's buffer as
// Windows does: the fixed records first, then the strings they point to.
#include <algorithm>
#include <cstring>

#include "platform/sim/machine_impl.h"

namespace hx::sim::detail {
namespace {

using namespace platform::win;

constexpr std::uint32_t kErrorInvalidLevel = 124;
constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kErrorUnknownPort = 1796;
constexpr std::uint32_t kErrorPrintMonitorInUse = 3008;
constexpr std::uint32_t kRpcServerUnavailable = 1722;
constexpr std::uint32_t kRpcNullReference = 1780;
constexpr std::uint32_t kPortTypeWrite = 0x1;
constexpr std::uint32_t kPrinterAttributeLocal = 0x40;
constexpr std::uint32_t kJobControlPause = 1;
constexpr std::uint32_t kJobControlResume = 2;
constexpr std::uint32_t kJobControlCancel = 3;
constexpr std::uint32_t kJobControlRestart = 4;
constexpr std::uint32_t kJobControlSentToPrinter = 6;
constexpr std::uint32_t kJobControlLastPageEjected = 7;
constexpr std::uint32_t kPrinterControlPause = 1;
constexpr std::uint32_t kPrinterControlResume = 2;
constexpr std::uint32_t kPrinterControlPurge = 3;

struct DriverEnvironment {
    std::u16string_view name;
    std::u16string_view directory;
};
constexpr DriverEnvironment kEnvironments[] = {
    {u"Windows x64", kDriverDirX64},
    {u"Windows NT x86", kDriverDirX86},
};

std::string describe(const char16_t* text) { return text ? toUtf8(text) : std::string("(null)"); }
std::string describe(const char* text) { return text ? std::string(text) : std::string("(null)"); }

// The environment a call names: its own when known, the machine's when null,
// nothing for a name the spooler does not know.
std::optional<std::u16string> environmentNamed(const char16_t* environment, const SystemFacts& facts) {
    if (!environment) return std::u16string(nativeEnvironment(facts));
    for (const auto& candidate : kEnvironments) {
        if (equalsIgnoreCase(candidate.name, environment)) return std::u16string(candidate.name);
    }
    return std::nullopt;
}

// Where the strings of packed records go. Without a base it only counts.
class StringArea {
public:
    explicit StringArea(std::uint8_t* base = nullptr) : base_(base) {}
    char16_t* put(std::u16string_view text) {
        auto bytes = (text.size() + 1) * sizeof(char16_t);
        char16_t* where = nullptr;
        if (base_) {
            where = reinterpret_cast<char16_t*>(base_ + used_);
            std::memcpy(base_ + used_, text.data(), text.size() * sizeof(char16_t));
            std::memset(base_ + used_ + bytes - sizeof(char16_t), 0, sizeof(char16_t));
        }
        used_ += bytes;
        return where;
    }
    [[nodiscard]] std::size_t used() const { return used_; }

private:
    std::uint8_t* base_;
    std::size_t used_ = 0;
};

// The size query and the fill of one enumeration: false with
// kErrorInsufficientBuffer (and *needed) when the buffer cannot take it all.
template <class Record, class Item, class Fill>
std::uint32_t pack(const std::vector<Item>& items, Fill fill, std::uint8_t* buffer, std::uint32_t bufferSize,
                   std::uint32_t* needed, std::uint32_t* returned) {
    StringArea counting;
    for (const auto& item : items) static_cast<void>(fill(item, counting));
    std::size_t total = items.size() * sizeof(Record) + counting.used();
    *needed = static_cast<std::uint32_t>(total);
    if (returned) *returned = 0;
    if (total == 0) return 0;
    if (!buffer || bufferSize < total) return kErrorInsufficientBuffer;
    StringArea strings(buffer + items.size() * sizeof(Record));
    for (std::size_t i = 0; i < items.size(); ++i) {
        Record record = fill(items[i], strings);
        std::memcpy(buffer + i * sizeof(Record), &record, sizeof record);
    }
    if (returned) *returned = static_cast<std::uint32_t>(items.size());
    return 0;
}

platform::PortInfo2 portRecord(const SimPort& port, StringArea& strings) {
    platform::PortInfo2 record{};
    record.portName = strings.put(port.name);
    record.monitorName = strings.put(port.monitor);
    record.description = strings.put(port.description);
    record.portType = port.type;
    return record;
}

platform::MonitorInfo2 monitorRecord(const SimMonitor& monitor, StringArea& strings) {
    platform::MonitorInfo2 record{};
    record.name = strings.put(monitor.name);
    record.environment = strings.put(monitor.environment);
    record.dllName = strings.put(monitor.dll);
    return record;
}

platform::PrinterInfo2 printerRecord(const SimPrinterQueue& printer, StringArea& strings) {
    platform::PrinterInfo2 record{};
    record.printerName = strings.put(printer.name);
    record.shareName = strings.put(u"");
    record.portName = strings.put(printer.port);
    record.driverName = strings.put(printer.driver);
    record.comment = strings.put(u"");
    record.location = strings.put(u"");
    record.sepFile = strings.put(u"");
    record.printProcessor = strings.put(u"winprint");
    record.datatype = strings.put(u"RAW");
    record.parameters = strings.put(u"");
    record.attributes = kPrinterAttributeLocal;
    record.priority = 1;
    record.jobs = static_cast<std::uint32_t>(printer.jobs.size());
    return record;
}

template <class Items>
auto findNamed(Items& items, std::u16string_view name) {
    return std::find_if(items.begin(), items.end(),
                        [&](const auto& item) { return equalsIgnoreCase(item.name, name); });
}

}  // namespace

std::u16string_view nativeEnvironment(const SystemFacts& facts) {
    return facts.nativeArchitecture == kProcessorArchitectureAmd64 ||
                   facts.nativeArchitecture == kProcessorArchitectureIa64
               ? kEnvironments[0].name
               : kEnvironments[1].name;
}

// Every call starts here: the injected fault, then the service's state.
std::optional<std::uint32_t> SimSpooler::unavailable(std::string_view operation) {
    if (auto fault = m_.injectedFault(operation)) return fault;
    m_.settleSpooler();
    if (m_.spoolerState != ServiceState::Running) return kRpcServerUnavailable;
    return std::nullopt;
}

SimPrinterQueue* SimSpooler::printerOf(platform::Handle handle) {
    auto open = m_.printerHandles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (open == m_.printerHandles.end() || open->second.spoolerRun != m_.spoolerRun) return nullptr;
    for (auto* queues : {&m_.printers, &m_.printersPendingDeletion}) {
        auto it = findNamed(*queues, open->second.name);
        if (it != queues->end()) return &*it;
    }
    return nullptr;
}

bool SimSpooler::getPrinterDriverDirectory(const char16_t* server, const char16_t* environment, std::uint32_t level,
                                           std::uint8_t* buffer, std::uint32_t bufferSize, std::uint32_t* needed) {
    std::string line = "GetPrinterDriverDirectoryW " + describe(environment);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (!needed) return failWith(kErrorInvalidParameter);
    if (m_.driverDirectoryFault.fire()) {
        *needed = 0;
        return failWith(m_.driverDirectoryFault.error);
    }
    if (auto error = unavailable("GetPrinterDriverDirectoryW")) {
        *needed = 0;
        return failWith(*error);
    }
    if (server && *server) return failWith(kRpcServerUnavailable);
    if (level != 1) return failWith(kErrorInvalidLevel);

    // No environment: the one of the calling process.
    std::u16string_view wanted = environment ? std::u16string_view(environment)
                                 : m_.facts.processArchitecture == kProcessorArchitectureAmd64 ? kEnvironments[0].name
                                                                                               : kEnvironments[1].name;
    const DriverEnvironment* match = nullptr;
    for (const auto& candidate : kEnvironments) {
        if (equalsIgnoreCase(candidate.name, wanted)) match = &candidate;
    }
    if (!match) return failWith(kErrorInvalidEnvironment);

    auto bytes = static_cast<std::uint32_t>((match->directory.size() + 1) * sizeof(char16_t));
    *needed = bytes;
    if (!buffer || bufferSize < bytes) return failWith(kErrorInsufficientBuffer);
    std::memcpy(buffer, match->directory.data(), bytes - sizeof(char16_t));
    std::memset(buffer + bytes - sizeof(char16_t), 0, sizeof(char16_t));
    m_.log(line);
    return true;
}

bool SimSpooler::enumPorts(const char16_t* server, std::uint32_t level, std::uint8_t* buffer, std::uint32_t bufferSize,
                           std::uint32_t* needed, std::uint32_t* returned) {
    auto line = "EnumPortsW " + std::to_string(level) + " " + std::to_string(bufferSize);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (!needed || !returned) return failWith(kRpcNullReference);
    *needed = 0;
    *returned = 0;
    if (auto error = unavailable("EnumPortsW")) return failWith(*error);
    if (server && *server) return failWith(kRpcServerUnavailable);
    if (level != 2) return failWith(kErrorInvalidLevel);
    if (auto error = pack<platform::PortInfo2>(m_.ports, portRecord, buffer, bufferSize, needed, returned)) {
        return failWith(error);
    }
    m_.log(line + " " + std::to_string(*returned));
    return true;
}

bool SimSpooler::enumMonitors(const char16_t* server, std::uint32_t level, std::uint8_t* buffer,
                              std::uint32_t bufferSize, std::uint32_t* needed, std::uint32_t* returned) {
    auto line = "EnumMonitorsW " + std::to_string(level) + " " + std::to_string(bufferSize);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (!needed || !returned) return failWith(kRpcNullReference);
    *needed = 0;
    *returned = 0;
    if (auto error = unavailable("EnumMonitorsW")) return failWith(*error);
    if (server && *server) return failWith(kRpcServerUnavailable);
    if (level != 2) return failWith(kErrorInvalidLevel);
    if (auto error = pack<platform::MonitorInfo2>(m_.monitors, monitorRecord, buffer, bufferSize, needed, returned)) {
        return failWith(error);
    }
    m_.log(line + " " + std::to_string(*returned));
    return true;
}

bool SimSpooler::enumPrinters(std::uint32_t flags, const char16_t* name, std::uint32_t level, std::uint8_t* buffer,
                              std::uint32_t bufferSize, std::uint32_t* needed, std::uint32_t* returned) {
    auto line =
        "EnumPrintersW " + std::to_string(flags) + " " + std::to_string(level) + " " + std::to_string(bufferSize);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (!needed || !returned) return failWith(kRpcNullReference);
    *needed = 0;
    *returned = 0;
    if (auto error = unavailable("EnumPrintersW")) return failWith(*error);
    // The local machine only: no name, or the empty one.
    if (name && *name) return failWith(kErrorInvalidName);
    if (level != 2) return failWith(kErrorInvalidLevel);
    // Every printer of this machine is local; it has no connections.
    static const std::vector<SimPrinterQueue> kNone;
    const auto& listed = (flags & kPrinterEnumLocal) ? m_.printers : kNone;
    if (auto error = pack<platform::PrinterInfo2>(listed, printerRecord, buffer, bufferSize, needed, returned)) {
        return failWith(error);
    }
    m_.log(line + " " + std::to_string(*returned));
    return true;
}

bool SimSpooler::openPrinter(const char16_t* name, platform::Handle* printer,
                             const platform::PrinterDefaults* /*defaults*/) {
    auto line = "OpenPrinterW " + describe(name);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (!printer) return failWith(kErrorInvalidParameter);
    *printer = nullptr;
    if (auto error = unavailable("OpenPrinterW")) return failWith(*error);
    if (!name) return failWith(kErrorInvalidPrinterName);
    auto it = findNamed(m_.printers, name);
    if (it == m_.printers.end()) return failWith(kErrorInvalidPrinterName);
    auto handle = m_.newHandle();
    m_.printerHandles.emplace(reinterpret_cast<std::uintptr_t>(handle), OpenPrinter{it->name, m_.spoolerRun});
    *printer = handle;
    m_.log(line);
    return true;
}

bool SimSpooler::getPrinter(platform::Handle handle, std::uint32_t level, std::uint8_t* buffer,
                            std::uint32_t bufferSize, std::uint32_t* needed) {
    auto line = "GetPrinterW " + std::to_string(level) + " " + std::to_string(bufferSize);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (!needed) return failWith(kRpcNullReference);
    *needed = 0;
    if (auto error = unavailable("GetPrinterW")) return failWith(*error);
    auto* printer = printerOf(handle);
    if (!printer) return failWith(kErrorInvalidHandle);
    if (level != 2) return failWith(kErrorInvalidLevel);
    std::vector<SimPrinterQueue> one{*printer};
    if (auto error = pack<platform::PrinterInfo2>(one, printerRecord, buffer, bufferSize, needed, nullptr)) {
        return failWith(error);
    }
    m_.log(line);
    return true;
}

bool SimSpooler::setPrinter(platform::Handle handle, std::uint32_t level, std::uint8_t* record, std::uint32_t command) {
    auto line = "SetPrinterW " + std::to_string(level) + " " + std::to_string(command);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (auto error = unavailable("SetPrinterW")) return failWith(*error);
    auto* printer = printerOf(handle);
    if (!printer) return failWith(kErrorInvalidHandle);
    if (level == 0) {
        if (command == kPrinterControlPurge) {
            printer->jobs.clear();
        } else if (command != kPrinterControlPause && command != kPrinterControlResume) {
            return failWith(kErrorInvalidParameter);
        }
        m_.log(line);
        return true;
    }
    if (level != 2) return failWith(kErrorInvalidLevel);
    if (!record || command != 0) return failWith(kErrorInvalidParameter);
    platform::PrinterInfo2 info;
    std::memcpy(&info, record, sizeof info);
    // Of the record's settings the simulation keeps the port; the driver
    // stays what it was.
    if (!info.portName) return failWith(kErrorInvalidParameter);
    auto port = findNamed(m_.ports, info.portName);
    if (port == m_.ports.end()) return failWith(kErrorUnknownPort);
    printer->port = port->name;
    m_.log(line + " " + toUtf8(port->name));
    return true;
}

bool SimSpooler::deletePrinter(platform::Handle handle) {
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log("DeletePrinter -> " + std::to_string(error));
        return false;
    };
    if (auto error = unavailable("DeletePrinter")) return failWith(*error);
    auto* printer = printerOf(handle);
    if (!printer) return failWith(kErrorInvalidHandle);
    std::string name = toUtf8(printer->name);
    // The printer leaves the spooler's lists now and goes for good when its
    // last handle closes.
    if (auto it = findNamed(m_.printers, printer->name); it != m_.printers.end() && &*it == printer) {
        m_.printersPendingDeletion.push_back(std::move(*it));
        m_.printers.erase(it);
    }
    m_.log("DeletePrinter " + name);
    return true;
}

bool SimSpooler::closePrinter(platform::Handle handle) {
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log("ClosePrinter -> " + std::to_string(error));
        return false;
    };
    if (auto fault = m_.injectedFault("ClosePrinter")) return failWith(*fault);
    auto open = m_.printerHandles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (open == m_.printerHandles.end()) return failWith(kErrorInvalidHandle);
    auto name = open->second.name;
    // The caller's side of the handle goes whatever the spooler's state.
    m_.printerHandles.erase(open);
    bool stillOpen = std::any_of(m_.printerHandles.begin(), m_.printerHandles.end(),
                                 [&](const auto& entry) { return equalsIgnoreCase(entry.second.name, name); });
    if (!stillOpen) {
        std::erase_if(m_.printersPendingDeletion,
                      [&](const SimPrinterQueue& printer) { return equalsIgnoreCase(printer.name, name); });
    }
    m_.settleSpooler();
    if (m_.spoolerState != ServiceState::Running) return failWith(kRpcServerUnavailable);
    m_.log("ClosePrinter");
    return true;
}

bool SimSpooler::enumJobs(platform::Handle handle, std::uint32_t firstJob, std::uint32_t jobCount, std::uint32_t level,
                          std::uint8_t* buffer, std::uint32_t bufferSize, std::uint32_t* needed,
                          std::uint32_t* returned) {
    auto line = "EnumJobsW " + std::to_string(level) + " " + std::to_string(bufferSize);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (!needed || !returned) return failWith(kRpcNullReference);
    *needed = 0;
    *returned = 0;
    if (auto error = unavailable("EnumJobsW")) return failWith(*error);
    auto* printer = printerOf(handle);
    if (!printer) return failWith(kErrorInvalidHandle);
    if (level != 3) return failWith(kErrorInvalidLevel);
    const auto& jobs = printer->jobs;
    std::vector<platform::JobInfo3> records;
    for (std::size_t i = firstJob; i < jobs.size() && records.size() < jobCount; ++i) {
        records.push_back({jobs[i].id, i + 1 < jobs.size() ? jobs[i + 1].id : 0, 0});
    }
    auto fill = [](const platform::JobInfo3& record, StringArea&) { return record; };
    if (auto error = pack<platform::JobInfo3>(records, fill, buffer, bufferSize, needed, returned)) {
        return failWith(error);
    }
    m_.log(line + " " + std::to_string(*returned));
    return true;
}

bool SimSpooler::setJob(platform::Handle handle, std::uint32_t jobId, std::uint32_t level, std::uint8_t* record,
                        std::uint32_t command) {
    auto line = "SetJobW " + std::to_string(jobId) + " " + std::to_string(command);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (auto error = unavailable("SetJobW")) return failWith(*error);
    auto* printer = printerOf(handle);
    if (!printer) return failWith(kErrorInvalidHandle);
    auto job = std::find_if(printer->jobs.begin(), printer->jobs.end(),
                            [&](const SimJob& candidate) { return candidate.id == jobId; });
    if (job == printer->jobs.end()) return failWith(kErrorInvalidParameter);
    switch (command) {
        case kJobControlDelete:
        case kJobControlCancel:
            printer->jobs.erase(job);
            break;
        case kJobControlPause:
        case kJobControlResume:
        case kJobControlRestart:
        case kJobControlSentToPrinter:
        case kJobControlLastPageEjected:
            break;
        case 0:
            // A record without a command changes the job's settings, which
            // the simulation does not keep.
            if (!record || level < 1 || level > 4) return failWith(kErrorInvalidParameter);
            break;
        default:
            return failWith(kErrorInvalidParameter);
    }
    m_.log(line);
    return true;
}

bool SimSpooler::deletePrinterDriver(const char16_t* server, const char16_t* environment, const char16_t* driverName) {
    auto line = "DeletePrinterDriverW " + describe(environment) + " " + describe(driverName);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (auto error = unavailable("DeletePrinterDriverW")) return failWith(*error);
    if (server && *server) return failWith(kRpcServerUnavailable);
    if (!driverName) return failWith(kErrorInvalidParameter);
    auto wanted = environmentNamed(environment, m_.facts);
    if (!wanted) return failWith(kErrorInvalidEnvironment);
    auto driver = std::find_if(m_.drivers.begin(), m_.drivers.end(), [&](const SimDriver& candidate) {
        return equalsIgnoreCase(candidate.name, driverName) && equalsIgnoreCase(candidate.environment, *wanted);
    });
    if (driver == m_.drivers.end()) return failWith(kErrorUnknownPrinterDriver);
    // A printer still on the driver keeps it, also one deleted while its
    // handles are open.
    for (const auto* queues : {&m_.printers, &m_.printersPendingDeletion}) {
        for (const auto& printer : *queues) {
            if (equalsIgnoreCase(printer.driver, driverName)) return failWith(kErrorPrinterDriverInUse);
        }
    }
    m_.drivers.erase(driver);
    m_.log(line);
    return true;
}

bool SimSpooler::addMonitor(const char16_t* server, std::uint32_t level, const platform::MonitorInfo2* monitor) {
    auto line = "AddMonitorW " + (monitor ? describe(monitor->name) : std::string("(null)"));
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (auto error = unavailable("AddMonitorW")) return failWith(*error);
    if (server && *server) return failWith(kRpcServerUnavailable);
    if (level != 2) return failWith(kErrorInvalidLevel);
    if (!monitor || !monitor->name || !*monitor->name || !monitor->dllName || !*monitor->dllName) {
        return failWith(kErrorInvalidParameter);
    }
    auto environment = environmentNamed(monitor->environment, m_.facts);
    if (!environment) return failWith(kErrorInvalidEnvironment);
    if (findNamed(m_.monitors, monitor->name) != m_.monitors.end()) {
        return failWith(kErrorPrintMonitorAlreadyInstalled);
    }
    std::u16string dll = monitor->dllName;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(m_.hostPath(m_.facts.systemDirectory + u"\\" + dll), ec)) {
        return failWith(kErrorModNotFound);
    }
    m_.monitors.push_back({monitor->name, *environment, dll});
    std::vector<std::uint8_t> value((dll.size() + 1) * sizeof(char16_t), 0);
    std::memcpy(value.data(), dll.data(), dll.size() * sizeof(char16_t));
    m_.ensureRegistryKey(std::u16string(kMonitorsKey) + u"\\" + monitor->name)
        .setValue(u"Driver", kRegSz, std::move(value));
    m_.log(line);
    return true;
}

bool SimSpooler::deleteMonitor(const char16_t* server, const char16_t* environment, const char16_t* name) {
    auto line = "DeleteMonitorW " + describe(name);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (auto error = unavailable("DeleteMonitorW")) return failWith(*error);
    if (server && *server) return failWith(kRpcServerUnavailable);
    if (!name) return failWith(kErrorInvalidParameter);
    if (!environmentNamed(environment, m_.facts)) return failWith(kErrorInvalidEnvironment);
    auto monitor = findNamed(m_.monitors, name);
    if (monitor == m_.monitors.end()) return failWith(kErrorUnknownPrintMonitor);
    // The monitor's ports go with it, unless a printer prints through one.
    auto ofMonitor = [&](const SimPort& port) { return equalsIgnoreCase(port.monitor, monitor->name); };
    for (const auto& printer : m_.printers) {
        auto port = findNamed(m_.ports, printer.port);
        if (port != m_.ports.end() && ofMonitor(*port)) return failWith(kErrorPrintMonitorInUse);
    }
    std::erase_if(m_.ports, ofMonitor);
    // The monitor's key stays behind without its "Driver" value, for the
    // caller to clean up.
    if (auto* key = m_.registryKey(std::u16string(kMonitorsKey) + u"\\" + monitor->name)) {
        std::erase_if(key->values, [](const RegistryValue& value) { return equalsIgnoreCase(value.name, u"Driver"); });
    }
    m_.monitors.erase(monitor);
    m_.log(line);
    return true;
}

bool SimSpooler::callAddPortExA(platform::Procedure addPortExA, const char* server, std::uint32_t level,
                                const platform::PortInfo1A* port, const char* monitorName) {
    auto line = "AddPortExA " + (port ? describe(port->name) : std::string("(null)")) + " " + describe(monitorName);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (!addPortExA || addPortExA != procedureFor("AddPortExA")) return failWith(kErrorInvalidParameter);
    if (auto error = unavailable("AddPortExA")) return failWith(*error);
    if (server && *server) return failWith(kRpcServerUnavailable);
    if (level != 1) return failWith(kErrorInvalidLevel);
    if (!port || !port->name || !*port->name || !monitorName) return failWith(kErrorInvalidParameter);
    // ANSI texts are in the machine's code page.
    auto widen = [&](const char* text) {
        int length = m_.codePages.multiByteToWideChar(kCpAcp, 0, text, -1, nullptr, 0);
        std::u16string wide(length > 0 ? static_cast<std::size_t>(length) : 0, u'\0');
        if (length > 0) m_.codePages.multiByteToWideChar(kCpAcp, 0, text, -1, wide.data(), length);
        if (!wide.empty()) wide.pop_back();
        return wide;
    };
    auto portName = widen(port->name);
    auto monitor = findNamed(m_.monitors, widen(monitorName));
    if (monitor == m_.monitors.end()) return failWith(kErrorUnknownPrintMonitor);
    if (findNamed(m_.ports, portName) != m_.ports.end()) return failWith(kErrorAlreadyExists);
    m_.ports.push_back({portName, monitor->name, monitor->name, kPortTypeWrite});
    m_.log(line);
    return true;
}

}  // namespace hx::sim::detail

namespace hx::sim {

using namespace detail;

std::filesystem::path Machine::Impl::systemDirectoryHost() const { return hostPath(facts.systemDirectory); }

bool Machine::Impl::fileInUseBySpooler(const std::filesystem::path& host) const {
    // A stopping spooler still holds its monitors' DLLs; a stopped one none.
    if (spoolerStateNow() == ServiceState::Stopped) return false;
    auto wanted = host.lexically_normal();
    for (const auto& monitor : monitors) {
        if (hostPath(facts.systemDirectory + u"\\" + monitor.dll).lexically_normal() == wanted) return true;
    }
    return false;
}

std::vector<SimPort>& Machine::ports() { return impl_->ports; }
std::vector<SimMonitor>& Machine::monitors() { return impl_->monitors; }
std::vector<SimPrinterQueue>& Machine::printers() { return impl_->printers; }
std::vector<SimDriver>& Machine::drivers() { return impl_->drivers; }

}  // namespace hx::sim
