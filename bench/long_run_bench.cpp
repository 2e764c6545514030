// Figures, not a test: a host that polls for hours. N multi queries and N/10
// direct commands against the virtual peripheral, for N = 1,000 and 100,000
// (or the N given), with the cost per call and the process's memory after
// each run (working set; Wine reports no private bytes). The virtual
// peripheral's record is bounded, so both stay flat.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "harness.h"

namespace {

const char kDescription[] = "port \"PERIPHRL MIDI 1\"\nport \"MIDIOUT2 (PERIPHRL MIDI)\"\n"
                            "usb \"USB\\VID_1A2B&PID_3C4D&REV_0100\" \"USB\\VID_1A2B&PID_3C4D\"\n"
                            "usb \"USB\\VID_1A2B&PID_3C4D&MI_00\"\n";

template <typename F> F export_of(const char *name)
{
    return reinterpret_cast<F>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("tarnwick.dll"), name)));
}

double seconds_now()
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double megabytes(SIZE_T bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

} // namespace

int main(int argc, char **argv)
{
    std::vector<unsigned> runs;
    for (int i = 1; i < argc; ++i)
        runs.push_back(static_cast<unsigned>(std::strtoul(argv[i], nullptr, 10)));
    if (runs.empty())
        runs = {1000, 100000};

    host::load(kDescription);
    host::count(0, 0); // loads the DLL
    const auto multi = export_of<tarnwick_compare_usb_device_id_mathing_multi_fn>(
        "compare_usb_device_id_mathing_multi");
    const auto send = export_of<tarnwick_hiddirect_main_fn>("hiddirect_main");

    // The probe line of every direct command goes to NUL.
    HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
    std::printf("%-9s %-8s %9s %13s %13s %15s %14s\n", "multi", "direct", "seconds",
                "us per call", "stand-in calls", "record kept", "memory MB");
    double first_cost = 0;
    for (unsigned n : runs) {
        host::load(kDescription); // a fresh record for each run
        SetStdHandle(STD_OUTPUT_HANDLE, nul);
        const double start = seconds_now();
        int found = 0, failed = 0;
        for (unsigned i = 0; i < n; ++i) {
            found = multi(0x1A2F, 0x3C4D);
            if (i % 10 == 0)
                failed = send("PERIPHRL", 0x40, 0xB2, 0x3C, 0x3C);
        }
        const double elapsed = seconds_now() - start;
        SetStdHandle(STD_OUTPUT_HANDLE, saved);
        const unsigned calls_into_library = n + (n + 9) / 10;
        const double cost = 1e6 * elapsed / calls_into_library;
        if (first_cost == 0)
            first_cost = cost;
        const vp_counters c = host::counters();
        unsigned kept = 0;
        vp_port_messages(0, &kept);
        PROCESS_MEMORY_COUNTERS memory{};
        memory.cb = sizeof memory;
        GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
        std::printf("%-9u %-8u %9.2f %13.2f %13u %7u lines+%u %6.1f (peak %.1f)   (found %d, "
                    "result %d, %.2fx the first run's cost)\n",
                    n, (n + 9) / 10, elapsed, cost, c.calls,
                    c.calls < VP_KEPT_CALLS ? c.calls : VP_KEPT_CALLS, kept,
                    megabytes(memory.WorkingSetSize), megabytes(memory.PeakWorkingSetSize), found,
                    failed, cost / first_cost);
        std::fflush(stdout);
    }
    CloseHandle(nul);
    return 0;
}
