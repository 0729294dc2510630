// The print spooler: ports, monitors, printers, jobs, drivers and the driver
// directory. Records are layout-compatible with their Windows twins; the
// enumerations follow the size-query-then-fill pattern (a null or small
// buffer gives false with kErrorInsufficientBuffer and *needed in bytes).
#pragma once

#include <cstdint>

#include "platform/libraries.h"
#include "platform/types.h"

namespace hx::platform {

struct PortInfo1A {
    char* name;
};

struct PortInfo2 {
    char16_t* portName;
    char16_t* monitorName;
    char16_t* description;
    std::uint32_t portType;
    std::uint32_t reserved;
};

struct MonitorInfo2 {
    char16_t* name;
    char16_t* environment;
    char16_t* dllName;
};

struct PrinterInfo2 {
    char16_t* serverName;
    char16_t* printerName;
    char16_t* shareName;
    char16_t* portName;
    char16_t* driverName;
    char16_t* comment;
    char16_t* location;
    void* devMode;
    char16_t* sepFile;
    char16_t* printProcessor;
    char16_t* datatype;
    char16_t* parameters;
    void* securityDescriptor;
    std::uint32_t attributes;
    std::uint32_t priority;
    std::uint32_t defaultPriority;
    std::uint32_t startTime;
    std::uint32_t untilTime;
    std::uint32_t status;
    std::uint32_t jobs;
    std::uint32_t averagePpm;
};

struct JobInfo3 {
    std::uint32_t jobId;
    std::uint32_t nextJobId;
    std::uint32_t reserved;
};

struct PrinterDefaults {
    char16_t* datatype;
    void* devMode;
    std::uint32_t desiredAccess;
};

namespace win {
inline constexpr std::uint32_t kPrinterEnumLocal = 0x2;
inline constexpr std::uint32_t kPrinterEnumConnections = 0x4;
inline constexpr std::uint32_t kPrinterAllAccess = 0xF000C;
inline constexpr std::uint32_t kJobControlDelete = 5;
inline constexpr std::uint32_t kErrorPrinterAlreadyExists = 1802;
inline constexpr std::uint32_t kErrorInvalidPrinterName = 1801;
inline constexpr std::uint32_t kErrorUnknownPrinterDriver = 1797;
inline constexpr std::uint32_t kErrorInvalidEnvironment = 1805;
inline constexpr std::uint32_t kErrorPrinterDriverInUse = 3001;
inline constexpr std::uint32_t kErrorPrintMonitorAlreadyInstalled = 3006;
inline constexpr std::uint32_t kErrorUnknownPrintMonitor = 3000;
}  // namespace win

class Spooler {
public:
    virtual ~Spooler() = default;
    // GetPrinterDriverDirectoryW. `server` null is the local machine.
    virtual bool getPrinterDriverDirectory(const char16_t* server, const char16_t* environment,
                                           std::uint32_t level, std::uint8_t* buffer, std::uint32_t bufferSize,
                                           std::uint32_t* needed) = 0;
    // EnumPortsW (level 2: PortInfo2 records, then their strings).
    virtual bool enumPorts(const char16_t* server, std::uint32_t level, std::uint8_t* buffer,
                           std::uint32_t bufferSize, std::uint32_t* needed, std::uint32_t* returned) = 0;
    // EnumMonitorsW (level 2: MonitorInfo2).
    virtual bool enumMonitors(const char16_t* server, std::uint32_t level, std::uint8_t* buffer,
                              std::uint32_t bufferSize, std::uint32_t* needed, std::uint32_t* returned) = 0;
    // EnumPrintersW (level 2: PrinterInfo2).
    virtual bool enumPrinters(std::uint32_t flags, const char16_t* name, std::uint32_t level, std::uint8_t* buffer,
                              std::uint32_t bufferSize, std::uint32_t* needed, std::uint32_t* returned) = 0;
    // OpenPrinterW: false with kErrorInvalidPrinterName for an unknown printer.
    // Release with closePrinter.
    virtual bool openPrinter(const char16_t* name, Handle* printer, const PrinterDefaults* defaults) = 0;
    // GetPrinterW (level 2).
    virtual bool getPrinter(Handle printer, std::uint32_t level, std::uint8_t* buffer, std::uint32_t bufferSize,
                            std::uint32_t* needed) = 0;
    // SetPrinterW (level 2 with command 0 replaces the record's settings).
    virtual bool setPrinter(Handle printer, std::uint32_t level, std::uint8_t* record, std::uint32_t command) = 0;
    // DeletePrinter: the printer goes when its last handle closes.
    virtual bool deletePrinter(Handle printer) = 0;
    // ClosePrinter.
    virtual bool closePrinter(Handle printer) = 0;
    // EnumJobsW (level 3: JobInfo3).
    virtual bool enumJobs(Handle printer, std::uint32_t firstJob, std::uint32_t jobCount, std::uint32_t level,
                          std::uint8_t* buffer, std::uint32_t bufferSize, std::uint32_t* needed,
                          std::uint32_t* returned) = 0;
    // SetJobW.
    virtual bool setJob(Handle printer, std::uint32_t jobId, std::uint32_t level, std::uint8_t* record,
                        std::uint32_t command) = 0;
    // DeletePrinterDriverW: false when the driver is not installed or in use.
    virtual bool deletePrinterDriver(const char16_t* server, const char16_t* environment,
                                     const char16_t* driverName) = 0;
    // AddMonitorW (level 2): kErrorPrintMonitorAlreadyInstalled when registered,
    // kErrorModNotFound (126) when its DLL is not in the system directory.
    virtual bool addMonitor(const char16_t* server, std::uint32_t level, const MonitorInfo2* monitor) = 0;
    // DeleteMonitorW.
    virtual bool deleteMonitor(const char16_t* server, const char16_t* environment, const char16_t* name) = 0;
    // AddPortExA through the procedure looked up in "winspool.drv".
    virtual bool callAddPortExA(Procedure addPortExA, const char* server, std::uint32_t level,
                                const PortInfo1A* port, const char* monitorName) = 0;
};

}  // namespace hx::platform
