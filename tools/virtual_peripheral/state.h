// The virtual peripheral's one state, which the stand-in WinMM side, the
// stand-in device-list side, the record and the control interface share.
// Every access goes through a Session, which holds the lock.
#ifndef VPERIPH_STATE_H
#define VPERIPH_STATE_H

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "description.h"
#include "vperiph.h"

namespace vperiph {

struct MidiHandle {
    unsigned port;
    bool open;
};

struct DeviceSet {
    std::vector<std::size_t> members; // indexes into the description's entries
    // cppcheck-suppress unusedStructMember ; read through the set map
    bool destroyed;
};

constexpr std::uintptr_t kFirstMidiHandle = 0x4D100001;
constexpr std::uintptr_t kFirstSet = 0x5E700001;

struct State {
    bool loaded = false;
    Description d;
    std::string log;
    std::vector<std::string> faults;
    std::vector<std::vector<std::vector<std::uint8_t>>> received; // per port, per message
    std::map<std::uintptr_t, MidiHandle> handles;
    std::uintptr_t next_handle = kFirstMidiHandle;
    std::map<std::uintptr_t, DeviceSet> sets;
    std::uintptr_t next_set = kFirstSet;
    unsigned builds = 0;
    vp_counters counters{};
};

// Made when the DLL is attached, before any call can arrive.
extern CRITICAL_SECTION g_lock;
extern State *g_state;

std::string format(const char *fmt, ...);
std::string utf8(const std::u16string &s);

// Copies text into a caller's buffer (truncated, always terminated when
// size > 0); returns its full length.
size_t copy_out(const std::string &text, char *buffer, size_t size);

// Replaces the description and clears everything recorded.
void reset(State &s, Description d);

// The description named by TARNWICK_VP_FILE, or none.
void load_from_environment(State &s);

// Serialises every call (Wine may call from its own threads) and loads the
// description on first use.
class Session {
public:
    Session()
    {
        EnterCriticalSection(&g_lock);
        if (!s().loaded)
            load_from_environment(s());
    }
    ~Session() { LeaveCriticalSection(&g_lock); }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    State &s() { return *g_state; }

    // Counts the call; true when the description makes this one fail.
    bool injected()
    {
        ++s().counters.calls;
        return s().d.fail_call != 0 && s().d.fail_call == s().counters.calls;
    }

    std::uint32_t injected_status(std::uint32_t usual)
    {
        return s().d.fail_status_given ? s().d.fail_status : usual;
    }

    void log(const std::string &line) { s().log += line + "\n"; }
    void fault(const std::string &line) { s().faults.push_back(line); }
};

// The report written at exit to the file named by TARNWICK_VP_REPORT.
void write_report_at_exit();

} // namespace vperiph

#endif
