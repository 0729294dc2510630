// Spooler over winspool; records are handed through in Windows' own layout.
#include <windows.h>
#include <winspool.h>

#include <cstddef>

#include "platform/win32/services.h"

namespace hx::platform::win32 {
namespace {

static_assert(sizeof(PortInfo1A) == sizeof(PORT_INFO_1A));
static_assert(offsetof(PortInfo1A, name) == offsetof(PORT_INFO_1A, pName));

static_assert(sizeof(PortInfo2) == sizeof(PORT_INFO_2W));
static_assert(sizeof(PortInfo2) == 32);
static_assert(offsetof(PortInfo2, portName) == offsetof(PORT_INFO_2W, pPortName));
static_assert(offsetof(PortInfo2, monitorName) == offsetof(PORT_INFO_2W, pMonitorName));
static_assert(offsetof(PortInfo2, description) == offsetof(PORT_INFO_2W, pDescription));
static_assert(offsetof(PortInfo2, portType) == offsetof(PORT_INFO_2W, fPortType));
static_assert(offsetof(PortInfo2, reserved) == offsetof(PORT_INFO_2W, Reserved));

static_assert(sizeof(MonitorInfo2) == sizeof(MONITOR_INFO_2W));
static_assert(offsetof(MonitorInfo2, name) == offsetof(MONITOR_INFO_2W, pName));
static_assert(offsetof(MonitorInfo2, environment) == offsetof(MONITOR_INFO_2W, pEnvironment));
static_assert(offsetof(MonitorInfo2, dllName) == offsetof(MONITOR_INFO_2W, pDLLName));

static_assert(sizeof(PrinterInfo2) == sizeof(PRINTER_INFO_2W));
static_assert(offsetof(PrinterInfo2, serverName) == offsetof(PRINTER_INFO_2W, pServerName));
static_assert(offsetof(PrinterInfo2, printerName) == offsetof(PRINTER_INFO_2W, pPrinterName));
static_assert(offsetof(PrinterInfo2, shareName) == offsetof(PRINTER_INFO_2W, pShareName));
static_assert(offsetof(PrinterInfo2, portName) == offsetof(PRINTER_INFO_2W, pPortName));
static_assert(offsetof(PrinterInfo2, driverName) == offsetof(PRINTER_INFO_2W, pDriverName));
static_assert(offsetof(PrinterInfo2, comment) == offsetof(PRINTER_INFO_2W, pComment));
static_assert(offsetof(PrinterInfo2, location) == offsetof(PRINTER_INFO_2W, pLocation));
static_assert(offsetof(PrinterInfo2, devMode) == offsetof(PRINTER_INFO_2W, pDevMode));
static_assert(offsetof(PrinterInfo2, sepFile) == offsetof(PRINTER_INFO_2W, pSepFile));
static_assert(offsetof(PrinterInfo2, printProcessor) == offsetof(PRINTER_INFO_2W, pPrintProcessor));
static_assert(offsetof(PrinterInfo2, datatype) == offsetof(PRINTER_INFO_2W, pDatatype));
static_assert(offsetof(PrinterInfo2, parameters) == offsetof(PRINTER_INFO_2W, pParameters));
static_assert(offsetof(PrinterInfo2, securityDescriptor) == offsetof(PRINTER_INFO_2W, pSecurityDescriptor));
static_assert(offsetof(PrinterInfo2, attributes) == offsetof(PRINTER_INFO_2W, Attributes));
static_assert(offsetof(PrinterInfo2, priority) == offsetof(PRINTER_INFO_2W, Priority));
static_assert(offsetof(PrinterInfo2, defaultPriority) == offsetof(PRINTER_INFO_2W, DefaultPriority));
static_assert(offsetof(PrinterInfo2, startTime) == offsetof(PRINTER_INFO_2W, StartTime));
static_assert(offsetof(PrinterInfo2, untilTime) == offsetof(PRINTER_INFO_2W, UntilTime));
static_assert(offsetof(PrinterInfo2, status) == offsetof(PRINTER_INFO_2W, Status));
static_assert(offsetof(PrinterInfo2, jobs) == offsetof(PRINTER_INFO_2W, cJobs));
static_assert(offsetof(PrinterInfo2, averagePpm) == offsetof(PRINTER_INFO_2W, AveragePPM));

static_assert(sizeof(JobInfo3) == sizeof(JOB_INFO_3));
static_assert(offsetof(JobInfo3, jobId) == offsetof(JOB_INFO_3, JobId));
static_assert(offsetof(JobInfo3, nextJobId) == offsetof(JOB_INFO_3, NextJobId));
static_assert(offsetof(JobInfo3, reserved) == offsetof(JOB_INFO_3, Reserved));

static_assert(sizeof(PrinterDefaults) == sizeof(PRINTER_DEFAULTSW));
static_assert(offsetof(PrinterDefaults, datatype) == offsetof(PRINTER_DEFAULTSW, pDatatype));
static_assert(offsetof(PrinterDefaults, devMode) == offsetof(PRINTER_DEFAULTSW, pDevMode));
static_assert(offsetof(PrinterDefaults, desiredAccess) == offsetof(PRINTER_DEFAULTSW, DesiredAccess));

static_assert(win::kPrinterEnumLocal == PRINTER_ENUM_LOCAL);
static_assert(win::kPrinterEnumConnections == PRINTER_ENUM_CONNECTIONS);
static_assert(win::kPrinterAllAccess == PRINTER_ALL_ACCESS);
static_assert(win::kJobControlDelete == JOB_CONTROL_DELETE);

// winspool declares its name arguments non-const but only reads them.
wchar_t* input(const char16_t* text) { return const_cast<wchar_t*>(wide(text)); }
char* input(const char* text) { return const_cast<char*>(text); }

// AddPortExA as winspool.drv exports it.
using AddPortExAFn = BOOL(WINAPI*)(LPSTR server, DWORD level, LPBYTE port, LPSTR monitorName);

class Win32Spooler final : public Spooler {
public:
    bool getPrinterDriverDirectory(const char16_t* server, const char16_t* environment, std::uint32_t level,
                                   std::uint8_t* buffer, std::uint32_t bufferSize, std::uint32_t* needed) override {
        DWORD size = 0;
        const BOOL ok =
            ::GetPrinterDriverDirectoryW(input(server), input(environment), level, buffer, bufferSize, &size);
        if (needed) *needed = size;
        return ok != FALSE;
    }

    bool enumPorts(const char16_t* server, std::uint32_t level, std::uint8_t* buffer, std::uint32_t bufferSize,
                   std::uint32_t* needed, std::uint32_t* returned) override {
        DWORD size = 0;
        DWORD count = 0;
        const BOOL ok = ::EnumPortsW(input(server), level, buffer, bufferSize, &size, &count);
        report(size, count, needed, returned);
        return ok != FALSE;
    }

    bool enumMonitors(const char16_t* server, std::uint32_t level, std::uint8_t* buffer, std::uint32_t bufferSize,
                      std::uint32_t* needed, std::uint32_t* returned) override {
        DWORD size = 0;
        DWORD count = 0;
        const BOOL ok = ::EnumMonitorsW(input(server), level, buffer, bufferSize, &size, &count);
        report(size, count, needed, returned);
        return ok != FALSE;
    }

    bool enumPrinters(std::uint32_t flags, const char16_t* name, std::uint32_t level, std::uint8_t* buffer,
                      std::uint32_t bufferSize, std::uint32_t* needed, std::uint32_t* returned) override {
        DWORD size = 0;
        DWORD count = 0;
        const BOOL ok = ::EnumPrintersW(flags, input(name), level, buffer, bufferSize, &size, &count);
        report(size, count, needed, returned);
        return ok != FALSE;
    }

    bool openPrinter(const char16_t* name, Handle* printer, const PrinterDefaults* defaults) override {
        HANDLE opened = nullptr;
        // The defaults are only read, though declared writable.
        auto* nativeDefaults = const_cast<PRINTER_DEFAULTSW*>(reinterpret_cast<const PRINTER_DEFAULTSW*>(defaults));
        const BOOL ok = ::OpenPrinterW(input(name), printer ? &opened : nullptr, nativeDefaults);
        if (printer) *printer = ok ? opened : nullptr;
        return ok != FALSE;
    }

    bool getPrinter(Handle printer, std::uint32_t level, std::uint8_t* buffer, std::uint32_t bufferSize,
                    std::uint32_t* needed) override {
        DWORD size = 0;
        const BOOL ok = ::GetPrinterW(printer, level, buffer, bufferSize, &size);
        if (needed) *needed = size;
        return ok != FALSE;
    }

    bool setPrinter(Handle printer, std::uint32_t level, std::uint8_t* record, std::uint32_t command) override {
        return ::SetPrinterW(printer, level, record, command) != FALSE;
    }

    bool deletePrinter(Handle printer) override { return ::DeletePrinter(printer) != FALSE; }

    bool closePrinter(Handle printer) override { return ::ClosePrinter(printer) != FALSE; }

    bool enumJobs(Handle printer, std::uint32_t firstJob, std::uint32_t jobCount, std::uint32_t level,
                  std::uint8_t* buffer, std::uint32_t bufferSize, std::uint32_t* needed,
                  std::uint32_t* returned) override {
        DWORD size = 0;
        DWORD count = 0;
        const BOOL ok = ::EnumJobsW(printer, firstJob, jobCount, level, buffer, bufferSize, &size, &count);
        report(size, count, needed, returned);
        return ok != FALSE;
    }

    bool setJob(Handle printer, std::uint32_t jobId, std::uint32_t level, std::uint8_t* record,
                std::uint32_t command) override {
        return ::SetJobW(printer, jobId, level, record, command) != FALSE;
    }

    bool deletePrinterDriver(const char16_t* server, const char16_t* environment,
                             const char16_t* driverName) override {
        return ::DeletePrinterDriverW(input(server), input(environment), input(driverName)) != FALSE;
    }

    // The record is only read; the call takes it as bytes.
    bool addMonitor(const char16_t* server, std::uint32_t level, const MonitorInfo2* monitor) override {
        auto* record = reinterpret_cast<BYTE*>(const_cast<MonitorInfo2*>(monitor));
        return ::AddMonitorW(input(server), level, record) != FALSE;
    }

    bool deleteMonitor(const char16_t* server, const char16_t* environment, const char16_t* name) override {
        return ::DeleteMonitorW(input(server), input(environment), input(name)) != FALSE;
    }

    bool callAddPortExA(Procedure addPortExA, const char* server, std::uint32_t level, const PortInfo1A* port,
                        const char* monitorName) override {
        const auto call = procedureAs<AddPortExAFn>(addPortExA);
        auto* record = reinterpret_cast<BYTE*>(const_cast<PortInfo1A*>(port));
        return call(input(server), level, record, input(monitorName)) != FALSE;
    }

private:
    static void report(DWORD size, DWORD count, std::uint32_t* needed, std::uint32_t* returned) {
        if (needed) *needed = size;
        if (returned) *returned = count;
    }
};

}  // namespace

Spooler& spooler() {
    static Win32Spooler instance;
    return instance;
}

}  // namespace hx::platform::win32
