// Loads the shipped tarnwick.dll by path and calls its exports by name, with
// the virtual peripheral's record at hand.
#ifndef HOST_HARNESS_H
#define HOST_HARNESS_H

#include <cstdint>
#include <string>
#include <vector>

#include "tarnwick.h"
#include "vperiph.h"

namespace host {

struct Call {
    int result;
    long stack_delta; // nonzero: the export's calling convention is not cdecl
    std::string stdout_bytes;
};

// Calls an export through a stack-checking thunk with standard output
// captured.
Call call_export(const char *name, const std::vector<std::uintptr_t> &args,
                 bool capture_stdout = true);

Call hiddirect(const void *key, int value, int status_and_channel, int number_check, int number);
Call count(int vid, int pid);
Call multi(int vid, int pid);
Call table(int index);

// The virtual peripheral's view.
void load(const std::string &description);
// The description's USB entries in this prefix's registry, for Wine's own
// setupapi (replacing any registered before), and taken out again.
void register_entries(const std::string &description);
void unregister();
std::vector<std::uint8_t> port_bytes(unsigned port);
std::string calls();
std::string faults();
std::string report();
vp_counters counters();
// The MIDI call log reduced to "port:word" lines for every send.
std::vector<std::string> sends();
// The architecture named in figure lines.
constexpr const char *kArch = sizeof(void *) == 8 ? "x86_64" : "i686";
unsigned count_lines(const std::string &log, const std::string &prefix);
// Everything left in a pipe's read end, until its writers are gone.
std::string read_pipe(void *read_end);

std::vector<std::uint8_t> bytes(std::initializer_list<int> list);

// Names each case of a parameterised test after its `name` member.
struct CaseName {
    template <typename Info> std::string operator()(const Info &info) const
    {
        return info.param.name;
    }
};
std::vector<std::uint8_t> sequence_bytes(int status_and_channel, int key, int velocity);

// Wine's own winmm with the virtual peripheral's driver (winevp.drv beside
// this program, the prefix's Audio "vp"). Wine's winmm asks the number of
// ports once per process: this process presents kWinePorts, or none when
// kNoPortsSetting is set. Returns what winmm was told, asking now when it has
// not asked yet; -1 when Wine's winmm does not take the driver (said once):
// its midiOutGetNumDevs never asked the driver for its ports. Each case that
// needs the driver then skips with kDriverNotTaken.
constexpr unsigned kWinePorts = 4;
constexpr char kDriverNotTaken[] = "Wine's own winmm did not take the virtual peripheral's driver";
constexpr char kNoPortsSetting[] = "TARNWICK_WINE_NO_PORTS";
int wine_winmm_ports();
// What the driver saw as Wine's winmm started, up to that first answer.
std::string wine_winmm_start();
// The MIDI output ports a description presents.
unsigned port_count(const std::string &description);

// A process run to its end: its exit status (kNotStarted when it could not
// be started, with the reason in err), standard output and standard error.
struct ProcessRun {
    unsigned long exit;
    std::string out, err;
};
constexpr unsigned long kNotStarted = 9999;

// Runs a command line (UTF-8; it reaches the program as UTF-16, as a shell on
// Windows gives it) with this process's environment.
ProcessRun run_process(const std::string &command);

// Runs one test of this program in a child process, with `setting` set to
// "1" there; its exit status, and both outputs in `out`.
ProcessRun run_child_test(const std::string &full_name, const char *setting);

} // namespace host

#endif
