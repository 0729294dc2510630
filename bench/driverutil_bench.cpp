// Removal's OEM INF search over 2,000 oem*.inf files of 2 to 200 KB on a real
// directory with the match last: throughput against a plain read of the same
// files (goal >= 80%) and peak memory (goal: bounded by the largest file).
// Then installation and removal on the simulated machine: virtual time against
// the waits they are meant to take (goal <= 1.05x).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "Driver/DriverInstall_Src/driverutil/HX352DriverUtil.h"
#include "Driver/DriverInstall_Src/driverutil/inf_search.h"
#include "bench/memory_figures.h"
#include "platform/sim/machine.h"
#include "platform/unique_handle.h"
#include "settingtool/session.h"

namespace {

double seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Writes the files; returns the total and the largest size.
std::pair<std::size_t, std::size_t> makeInfFolder(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    std::mt19937 random(352);
    std::uniform_int_distribution<std::size_t> size(2 * 1024, 200 * 1024);
    std::size_t total = 0, largest = 0;
    std::string text;
    for (int i = 0; i < 2000; ++i) {
        const std::size_t bytes = size(random);
        text.assign(bytes, '\0');
        for (std::size_t b = 0; b < bytes; ++b) text[b] = static_cast<char>('A' + (b * 7 + i) % 26);
        for (std::size_t b = 60; b < bytes; b += 61) text[b] = '\n';
        if (i == 1999) text.replace(bytes - 40, 19, "USBPRINT\\HX-35290EE");
        char name[32];
        std::snprintf(name, sizeof name, "oem%04d.inf", i);
        std::ofstream(folder / name, std::ios::binary) << text;
        total += bytes;
        largest = std::max(largest, bytes);
    }
    return {total, largest};
}

// A plain read of the same files through the same platform (directory search,
// C-runtime stream, one read each): what the search costs beyond reading.
std::size_t plainRead(hx::platform::Platform& platform, const std::u16string& folder) {
    auto& files = platform.files;
    std::size_t bytes = 0;
    std::vector<char> buffer;
    hx::platform::FindData entry{};
    hx::platform::UniqueFindHandle search(files, files.findFirstFile((folder + u"\\oem*.inf").c_str(), &entry));
    if (!search) return 0;
    do {
        const std::u16string path = folder + u"\\" + entry.fileName;
        const std::string ansi(path.begin(), path.end());
        hx::platform::UniqueStream stream(files, files.openStream(ansi.c_str(), "rb"));
        if (!stream) continue;
        std::fseek(stream.get(), 0, SEEK_END);
        const long size = std::ftell(stream.get());
        std::fseek(stream.get(), 0, SEEK_SET);
        buffer.resize(static_cast<std::size_t>(size));
        bytes += std::fread(buffer.data(), 1, buffer.size(), stream.get());
    } while (files.findNextFile(search.get(), &entry));
    return bytes;
}

}  // namespace

int main() {
    bool met = true;
    {
        hx::sim::Machine machine;
        hx::settingtool::ScopedSessionForTesting use(machine.platform());
        const auto folder = machine.hostPath(u"C:\\Windows\\inf");
        const auto [total, largest] = makeInfFolder(folder);

        double plain = 1e9, search = 1e9;
        std::optional<std::u16string> found;
        long processPeakOver = 0;
        std::size_t bufferPeak = 0;
        for (int round = 0; round < 3; ++round) {
            plain = std::min(plain, seconds([&] { (void)plainRead(machine.platform(), u"C:\\Windows\\inf"); }));
            hx::bench::resetPeak();
            machine.resetHeapBytesPeak();
            const long baseline = hx::bench::statusKiB("VmRSS");
            search = std::min(search, seconds([&] { found = hx::driverutil::findOemInf(machine.platform()); }));
            processPeakOver = std::max(processPeakOver, hx::bench::statusKiB("VmHWM") - baseline);
            bufferPeak = std::max(bufferPeak, machine.heapBytesPeak());
        }
        const double ratio = plain / search;
        std::printf("INF search: %zu files, %.1f MiB, largest %.0f KiB\n", std::size_t{2000}, total / 1048576.0,
                    largest / 1024.0);
        std::printf("  plain read through the platform %.3f s (%.0f MiB/s), search %.3f s (%.0f MiB/s): "
                    "%.0f%% of a plain read (goal >= 80%%)\n",
                    plain, total / 1048576.0 / plain, search, total / 1048576.0 / search, ratio * 100);
        std::printf("  peak of the search's buffers %.0f KiB (goal: the largest file, %.0f KiB); process peak over "
                    "baseline %ld KiB, the simulation's journal included\n",
                    bufferPeak / 1024.0, largest / 1024.0, processPeakOver);
        std::printf("  match: %s\n", found && found->ends_with(u"oem1999.inf") ? "oem1999.inf (the last)" : "WRONG");
        met = met && ratio >= 0.8 && found && found->ends_with(u"oem1999.inf") && bufferPeak <= largest;
    }
    {
        hx::sim::Machine machine;
        hx::settingtool::ScopedSessionForTesting use(machine.platform());
        auto start = machine.nowMs();
        const int installed = HX352InstallDriver(nullptr);
        const auto installMs = machine.nowMs() - start;
        start = machine.nowMs();
        const int removed = uninstall();
        const auto removeMs = machine.nowMs() - start;
        // Removal's prescribed waits: the spooler restart's two settling pauses.
        constexpr double kRemovalWaitsMs = 2000;
        std::printf("installation: result %d, %llu ms of virtual time (no prescribed waits; printer replies only)\n",
                    installed, static_cast<unsigned long long>(installMs));
        std::printf("removal: result %d, %llu ms of virtual time against %.0f ms of prescribed waits: %.3fx (goal <= 1.05x)\n",
                    removed, static_cast<unsigned long long>(removeMs), kRemovalWaitsMs, removeMs / kRemovalWaitsMs);
        met = met && installed == 0 && removed == 0 && removeMs / kRemovalWaitsMs <= 1.05;
    }
    std::printf("%s\n", met ? "goals met" : "goals NOT met");
    return met ? 0 : 1;
}
