// The virtual peripheral's one state, which the stand-in WinMM side, the
// stand-in device-list side, the record and the control interface share.
// Every access goes through a Session, which holds the lock.
#ifndef VPERIPH_STATE_H
#define VPERIPH_STATE_H

#include <windows.h>

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "description.h"
#include "vperiph.h"

namespace vperiph {

struct DeviceSet {
    std::vector<std::size_t> members; // indexes into the description's entries
};

// A host that polls for hours must not grow the record without end: each
// part keeps at most Limit items, the latest or the first, and counts the
// ones it let go.
enum class Keep { latest, first };

template <typename Item, std::size_t Limit, Keep keep> class Bounded {
public:
    void add(Item item)
    {
        if (items_.size() == Limit) {
            ++dropped_;
            if (keep == Keep::first)
                return;
            items_.pop_front();
        }
        items_.push_back(std::move(item));
    }
    const std::deque<Item> &items() const { return items_; }
    unsigned dropped() const { return dropped_; }
    unsigned total() const { return static_cast<unsigned>(items_.size()) + dropped_; }

private:
    std::deque<Item> items_;
    unsigned dropped_ = 0;
};

// The messages one port received.
using PortRecord = Bounded<std::vector<std::uint8_t>, VP_KEPT_MESSAGES, Keep::latest>;

// Handle values are handed out in ascending order, so a value below the next
// one that is no longer live was released: only live ones are stored.
constexpr std::uintptr_t kFirstMidiHandle = 0x4D100001;
constexpr std::uintptr_t kFirstSet = 0x5E700001;

inline bool was_issued(std::uintptr_t value, std::uintptr_t first, std::uintptr_t next)
{
    return value >= first && value < next;
}

struct State {
    bool loaded = false;
    Description d;
    std::string source;  // where the description came from
    std::string problem; // why it could not be used; empty when it was
    Bounded<std::string, VP_KEPT_CALLS, Keep::latest> log;
    // The first fault is the one that explains the others.
    Bounded<std::string, VP_KEPT_FAULTS, Keep::first> faults;
    std::vector<PortRecord> received;
    std::map<std::uintptr_t, unsigned> handles; // open port handles, to their port
    std::uintptr_t next_handle = kFirstMidiHandle;
    std::map<std::uintptr_t, DeviceSet> sets; // sets not yet destroyed
    std::uintptr_t next_set = kFirstSet;
    unsigned builds = 0;
    vp_counters counters{};
};

// Made when the DLL is attached, before any call can arrive.
extern CRITICAL_SECTION g_lock;
extern State *g_state;
extern HMODULE g_module;

std::string format(const char *fmt, ...);
std::string utf8(const std::u16string &s);
std::string utf8(const std::wstring &s);

// Copies text into a caller's buffer (truncated, always terminated when
// size > 0); returns its full length.
size_t copy_out(const std::string &text, char *buffer, size_t size);

// Replaces the description and clears everything recorded; from then on
// this DLL stays loaded until the process ends.
void reset(State &s, Description d, std::string source, std::string problem = {});

// The description named by TARNWICK_VP_FILE, else the one beside this DLL.
void load_from_environment(State &s);

// The value of an environment variable, however long; false when unset.
bool environment(const wchar_t *name, std::wstring &value);

// A file of the same folder as this DLL.
std::wstring beside_this_dll(const wchar_t *file_name);

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

    void log(std::string line) { s().log.add(std::move(line)); }
    void fault(std::string line) { s().faults.add(std::move(line)); }
};

// The report written as the process ends: to the file named by
// TARNWICK_VP_REPORT, else beside this DLL.
void write_report_at_exit();

} // namespace vperiph

#endif
