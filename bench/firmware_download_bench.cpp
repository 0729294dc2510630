// Firmware download of a 64 MiB image against the simulated printer: peak
// memory over the baseline (goal: one buffer of S + 6 bytes, peak <= S + 1 MiB)
// and the number of writes it took (goal: one).
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench/memory_figures.h"
#include "platform/sim/machine.h"
#include "settingtool/HX352SettingTool.h"
#include "settingtool/session.h"

int main() {
    constexpr std::size_t kImageBytes = 64u << 20;
    hx::sim::Machine machine;
    hx::settingtool::ScopedSessionForTesting use(machine.platform());
    machine.printer().keepPayloads = false;
    {
        std::ofstream image(machine.driveC() / "firmware.bin", std::ios::binary);
        std::vector<char> block(1 << 20);
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 13);
        for (std::size_t written = 0; written < kImageBytes; written += block.size()) image.write(block.data(), block.size());
    }
    if (USBCheckConnection() != 1) {
        std::fprintf(stderr, "no simulated printer\n");
        return 1;
    }
    machine.printer().clearReceived();

    if (!hx::bench::resetPeak()) std::fprintf(stderr, "warning: cannot reset the peak figure; it includes set-up\n");
    const long baseline = hx::bench::statusKiB("VmRSS");
    const auto start = std::chrono::steady_clock::now();
    const int32_t result = BaseDownloadFirmware(reinterpret_cast<const uint16_t*>(u"C:\\firmware.bin"));
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long peak = hx::bench::statusKiB("VmHWM");

    const auto& wire = machine.printer().received();
    const double overMiB = (peak - baseline) / 1024.0;
    const double goalMiB = kImageBytes / 1048576.0 + 1.0;
    std::printf("image: %zu MiB, result %d, %.3f s\n", kImageBytes >> 20, result, seconds);
    std::printf("writes to the printer: %zu (goal 1), bytes in it: %zu (S + 6 = %zu)\n", wire.size(),
                wire.empty() ? 0 : wire[0].length, kImageBytes + 6);
    std::printf("peak memory over baseline: %.1f MiB (goal <= %.1f MiB)\n", overMiB, goalMiB);
    const bool met = result == 1 && wire.size() == 1 && wire[0].length == kImageBytes + 6 && overMiB <= goalMiB;
    std::printf("%s\n", met ? "goals met" : "goals NOT met");
    return met ? 0 : 1;
}
