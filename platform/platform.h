// The set of Windows services a library reaches, handed to the logic by
// reference. The process-wide set is the real one on Windows and the simulated
// machine elsewhere; tests swap in their own with ScopedPlatformForTesting.
#pragma once

#include "platform/clock.h"
#include "platform/code_pages.h"
#include "platform/device_setup.h"
#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/libraries.h"
#include "platform/memory.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "platform/serial_ports.h"
#include "platform/services.h"
#include "platform/shell.h"
#include "platform/spooler.h"
#include "platform/system_info.h"
#include "platform/token.h"
#include "platform/usb_devices.h"
#include "platform/windows_ui.h"

namespace hx::platform {

struct Platform {
    Clock& clock;
    CodePages& codePages;
    Files& files;
    LastError& lastError;
    Memory& memory;
    Resources& resources;
    Spooler& spooler;
    SystemInfo& system;
    UsbDevices& usb;
    DeviceSetup& deviceSetup;
    Libraries& libraries;
    Registry& registry;
    SerialPorts& serial;
    Services& services;
    Shell& shell;
    Token& token;
    WindowsUi& ui;
};

// The platform of this process: the override when a test installed one, else
// the default of the implementation linked in (defaultPlatform()).
Platform& processPlatform();

// Supplied by the implementation library (win32 or sim).
Platform& defaultPlatform();

// Each change of the process platform bumps this, so holders of per-process
// state built on the old one know to start afresh.
unsigned processPlatformGeneration();

class ScopedPlatformForTesting {
public:
    explicit ScopedPlatformForTesting(Platform& platform);
    ~ScopedPlatformForTesting();
    ScopedPlatformForTesting(const ScopedPlatformForTesting&) = delete;
    ScopedPlatformForTesting& operator=(const ScopedPlatformForTesting&) = delete;

private:
    Platform* previous_;
};

}  // namespace hx::platform
