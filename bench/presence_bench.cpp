// Figures, not a test: platform calls per query from the virtual peripheral's
// counters, and wall time per call under Wine.
#include <windows.h>

#include <cstdio>
#include <string>

#include "harness.h"

namespace {

std::string entries(unsigned m)
{
    std::string d = "port \"PERIPHRL MIDI 1\"\nport \"Other Synth\"\n";
    if (m > 0)
        d += "usb \"USB\\VID_1A2B&PID_3C4D&REV_0100\" \"USB\\VID_1A2B&PID_3C4D\" repeat=" +
             std::to_string(m) + "\n";
    return d;
}

double microseconds_per_call(void (*call)(), int repetitions)
{
    // The probe line goes to NUL while timing.
    HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, nul);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (int i = 0; i < repetitions; ++i)
        call();
    QueryPerformanceCounter(&end);
    SetStdHandle(STD_OUTPUT_HANDLE, saved);
    CloseHandle(nul);
    return 1e6 * static_cast<double>(end.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart) / repetitions;
}

template <typename F> F export_of(const char *name)
{
    return reinterpret_cast<F>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("tarnwick.dll"), name)));
}

tarnwick_compare_usb_device_id_mathing_fn single_fn;
tarnwick_compare_usb_device_id_mathing_multi_fn multi_fn;
tarnwick_hiddirect_main_fn send_fn;

} // namespace

int main()
{
    host::load("");
    host::count(0, 0); // loads the DLL
    single_fn = export_of<tarnwick_compare_usb_device_id_mathing_fn>("compare_usb_device_id_mathing");
    multi_fn = export_of<tarnwick_compare_usb_device_id_mathing_multi_fn>(
        "compare_usb_device_id_mathing_multi");
    send_fn = export_of<tarnwick_hiddirect_main_fn>("hiddirect_main");

    std::printf("%-6s %-7s %11s %11s %14s %9s %12s\n", "m", "query", "set builds", "destroys",
                "enum calls", "prop reads", "us per call");
    for (unsigned m : {0u, 10u, 100u}) {
        for (int multi_query = 0; multi_query < 2; ++multi_query) {
            host::load(entries(m));
            const host::Call call =
                multi_query ? host::multi(0x1A2F, 0x3C4D) : host::count(0x1A2B, 0x3C4D);
            const vp_counters c = host::counters();
            host::load(entries(m));
            const double us = microseconds_per_call(
                multi_query ? +[] { multi_fn(0x1A2F, 0x3C4D); }
                            : +[] { single_fn(0x1A2B, 0x3C4D); },
                200);
            std::printf("%-6u %-7s %11u %11u %14u %9u %12.1f   (result %d, faults %u)\n", m,
                        multi_query ? "multi" : "single", c.set_builds, c.set_destroys,
                        c.enum_calls, c.property_reads, us, call.result, c.faults);
        }
    }
    host::load(entries(0));
    const host::Call send = host::hiddirect("PERIPHRL", 0x40, 0x90, 0x3C, 0x3C);
    const vp_counters c = host::counters();
    host::load(entries(0));
    const double us = microseconds_per_call(
        +[] { send_fn("PERIPHRL", 0x40, 0x90, 0x3C, 0x3C); }, 200);
    std::printf("\nhiddirect_main over 2 ports: %u port opens, %u closes, %u sends, %u capability "
                "queries, %u calls in all; %.1f us per call (result %d)\n",
                c.midi_opens, c.midi_closes, c.midi_sends, c.caps_queries, c.calls, us,
                send.result);
    return 0;
}
