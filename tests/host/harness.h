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
vp_counters counters();
// The MIDI call log reduced to "port:word" lines for every send.
std::vector<std::string> sends();
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

} // namespace host

#endif
