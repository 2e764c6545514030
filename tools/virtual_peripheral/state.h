// The virtual peripheral's one state, which the stand-in WinMM side, the
// stand-in device-list side, the record and the control interface share.
//
// It runs inside someone else's process, which may end while one of its
// threads is inside a call here, holding the lock: the report written as the
// process ends must then neither wait for that lock nor read a half-made
// change. So what the report shows (the Record) is kept twice: a call
// changes one copy, publishes it, then makes the same change to the other;
// whichever copy is published is whole. Nothing in a Record allocates once
// it is made, so a change cannot fail halfway either.
#ifndef VPERIPH_STATE_H
#define VPERIPH_STATE_H

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "description.h"
#include "handle_space.h"
#include "vperiph.h"

namespace vperiph {

// A host that leaks handles must not grow the record without end either.
constexpr std::size_t kMostOpenPorts = 1024;
constexpr std::size_t kMostOpenSets = 16;
// Call-log and fault lines are cut at this length.
constexpr std::size_t kLineSize = 256;

struct Line {
    char text[kLineSize];
};

// The bytes of one short message as a device sees them.
struct Message {
    std::uint8_t size;
    std::uint8_t bytes[3];
};

// A host that polls for hours must not grow the record without end: each
// part keeps at most its capacity of items, the latest or the first, and
// counts the ones it let go. Its room is taken when it is made.
enum class Keep { latest, first };

template <typename Item, Keep keep> class Ring {
public:
    explicit Ring(std::size_t capacity) : items_(capacity) {}
    void add(const Item &item)
    {
        ++total_;
        if (count_ == items_.size()) {
            if constexpr (keep == Keep::first)
                return;
            if (items_.empty())
                return;
            items_[head_] = item;
            head_ = (head_ + 1) % items_.size();
            return;
        }
        items_[(head_ + count_++) % items_.size()] = item;
    }
    std::size_t size() const { return count_; }
    // Oldest first.
    const Item &operator[](std::size_t i) const { return items_[(head_ + i) % items_.size()]; }
    std::uint64_t total() const { return total_; }
    std::uint64_t dropped() const { return total_ - count_; }

private:
    std::vector<Item> items_;
    std::size_t head_ = 0, count_ = 0;
    std::uint64_t total_ = 0;
};

// A live port handle or device set, the thread that made it, and the number
// of the latest call made on it. As the process ends, one that its thread's
// latest call was made on, after the ending thread's latest (or that the call
// the end interrupted was about), by a thread the end stopped, was in use by
// a call in progress; any other was leaked.
struct Holder {
    std::uintptr_t value;
    unsigned port; // port handles only
    DWORD thread;
    bool thread_ended;
    std::uint64_t last_call;
};

// A list whose room is taken when it is made.
class Holders {
public:
    explicit Holders(std::size_t capacity) { items_.reserve(capacity); }
    bool full() const { return items_.size() == items_.capacity(); }
    void add(const Holder &h) { items_.push_back(h); }
    const Holder *find(std::uintptr_t value) const
    {
        for (const Holder &h : items_)
            if (h.value == value)
                return &h;
        return nullptr;
    }
    // A handle of the port, the thread's own first.
    const Holder *of_port(std::uintptr_t port, DWORD thread) const
    {
        const Holder *any = nullptr;
        for (const Holder &h : items_) {
            if (h.port == port && h.thread == thread)
                return &h;
            any = any == nullptr && h.port == port ? &h : any;
        }
        return any;
    }
    // Counts call number `call` as made on the holder `value`, if live;
    // null if not.
    const Holder *used(std::uintptr_t value, std::uint64_t call)
    {
        for (Holder &h : items_)
            if (h.value == value) {
                h.last_call = call;
                return &h;
            }
        return nullptr;
    }
    void remove(std::uintptr_t value)
    {
        for (std::size_t i = 0; i < items_.size(); ++i)
            if (items_[i].value == value) {
                items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
                return;
            }
    }
    void thread_ended(DWORD thread)
    {
        for (Holder &h : items_)
            h.thread_ended = h.thread_ended || h.thread == thread;
    }
    const std::vector<Holder> &items() const { return items_; }

private:
    std::vector<Holder> items_;
};

// Counts of a whole run: 64 bits, so that none wraps however long it lasts.
struct Counts {
    std::uint64_t calls, midi_opens, midi_closes, midi_sends, caps_queries;
    std::uint64_t set_builds, set_destroys, enum_calls, property_reads;
};

// What the report shows; kept twice (see above).
struct Record {
    explicit Record(std::size_t ports);
    Record(const Record &) = delete;
    Record &operator=(const Record &) = delete;
    Counts counts{};
    std::uint64_t builds = 0; // sets built, for appear= and vanish=
    std::vector<Ring<Message, Keep::latest>> received; // per port
    Ring<Line, Keep::first> faults;                    // the first fault explains the others
    Holders handles, sets;
    HandleSpace port_handles{0x4D100001, 0x10000000}, set_handles{0x5E700001, 0x10000000};

    // The latest call of each of the most recently calling threads; a thread
    // crowded out by 64 later ones counts as having made no call.
    struct ThreadCall {
        DWORD thread;
        std::uint64_t call;
    };
    std::array<ThreadCall, 64> recent{};
    std::uint64_t latest_call_of(DWORD thread) const
    {
        for (const ThreadCall &t : recent)
            if (t.call != 0 && t.thread == thread)
                return t.call;
        return 0;
    }
    void called(DWORD thread, std::uint64_t call)
    {
        ThreadCall *slot = &recent[0];
        for (ThreadCall &t : recent) {
            if (t.call != 0 && t.thread == thread) {
                slot = &t;
                break;
            }
            slot = t.call < slot->call ? &t : slot;
        }
        *slot = {thread, call};
    }
};

// A description in use, with everything recorded since it was loaded.
struct Loaded {
    Loaded(Description description, std::string from, std::string why);
    const Description d;
    const std::string source;  // where the description came from
    const std::string problem; // why it could not be used; empty when it was
    Record records[2];
    std::atomic<int> published{0};
    Ring<Line, Keep::latest> log; // never read as the process ends
    // The members of each live set, by value: read only under the lock.
    std::map<std::uintptr_t, std::shared_ptr<const std::vector<std::uint32_t>>> members;
};

// Made when the DLL is attached, before any call can arrive.
extern CRITICAL_SECTION g_lock;
extern HMODULE g_module;
// Null until first use; replaced whole by a load.
extern std::atomic<Loaded *> g_loaded;
// The call in progress (its function and thread), for a report written
// while it runs; null between calls.
extern std::atomic<const char *> g_call;
extern std::atomic<DWORD> g_call_thread;

// Windows text (UTF-16, maybe with lone surrogates) as UTF-8.
std::string utf8(const std::wstring &s);

// Formats into a fixed line (cut at kLineSize - 1 bytes); never allocates.
void format_line(Line &line, const char *fmt, ...);
std::string format(const char *fmt, ...);

// Copies text into a caller's buffer (truncated, always terminated when
// size > 0); returns its full length.
size_t copy_out(const std::string &text, char *buffer, size_t size);

// Makes the description the one in use, with a fresh record. Under the lock.
void install(std::unique_ptr<Loaded> next);

// Reads a description file as every reader of one does. False with the
// reason otherwise; absent tells a missing file.
bool read_description_file(const std::wstring &path, std::string &bytes, std::string &why,
                           bool &absent);

// The description named by TARNWICK_VP_FILE, else the one beside this DLL.
std::unique_ptr<Loaded> load_from_environment();

// The value of an environment variable, however long; false when unset.
bool environment(const wchar_t *name, std::wstring &value);

// The folder of this DLL (with its separator) and the host program's name
// without folder and extension; read as the DLL is attached.
const std::wstring &this_dll_folder();
const std::wstring &program_name();
// The host program's full path, as UTF-8, for the report.
const std::string &program_path();

// Serialises every call (Wine may call from its own threads), loads the
// description on first use, and marks the call as in progress for a report
// written while it runs.
class Session {
public:
    // load: read the description first if none is in use yet (a load that
    // replaces it anyway passes false).
    explicit Session(const char *function, bool load = true);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // False when not even an empty description could be made (no memory):
    // the caller then fails as its platform function fails for lack of it.
    bool ok() const { return loaded_ != nullptr; }
    Loaded &loaded() { return *loaded_; }
    const Description &d() const { return loaded_->d; }
    // The record as it stands; between changes both copies are the same.
    const Record &record() const { return loaded_->records[loaded_->published.load()]; }

    // Applies f to both copies of the record, one after the other, publishing
    // the first before touching the second. f must be a pure function of the
    // record and its captures (it runs twice) and returns what the call
    // reports.
    template <typename F> auto change(F f)
    {
        Loaded &l = *loaded_;
        const int next = 1 - l.published.load();
        auto result = f(l.records[next]);
        l.published.store(next);
        f(l.records[1 - next]);
        return result;
    }

    // One platform call's change: counts the call, and tells f whether the
    // description makes this one fail (fail N).
    template <typename F> auto call(F f)
    {
        const bool failing = d().fail_call != 0 && record().counts.calls + 1 == d().fail_call;
        const DWORD thread = GetCurrentThreadId();
        return change([&](Record &r) {
            r.called(thread, ++r.counts.calls);
            return f(r, failing);
        });
    }

    std::uint32_t injected_status(std::uint32_t usual) const
    {
        return d().fail_status_given ? d().fail_status : usual;
    }

    void log(const char *fmt, ...);

    // Makes `next` the description in use (see install) and goes on with it.
    void replace(std::unique_ptr<Loaded> next)
    {
        install(std::move(next));
        loaded_ = g_loaded.load();
    }

private:
    Loaded *loaded_ = nullptr;
};

// Runs an exported function's body; anything thrown becomes the function's
// failure, never an exception across the DLL's boundary.
template <typename R, typename F> R guarded(R failure, F f) noexcept
{
    try {
        return f();
    } catch (...) {
        return failure;
    }
}

// An exported function's body under its session: the function's failure
// when the peripheral cannot be used or anything is thrown.
template <typename R, typename F> R in_session(const char *function, R failure, F f) noexcept
{
    return guarded<R>(failure, [&]() -> R {
        Session session(function);
        return session.ok() ? R(f(session)) : failure;
    });
}

// A handle value as the call log and the faults write it.
inline unsigned long long value_of(const void *handle)
{
    return static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(handle));
}

// Adds a fault line to a record (inside a change).
void add_fault(Record &r, const char *fmt, ...);

// The thread that made a handle or set ended normally: what it still held
// was leaked.
void thread_ended(DWORD thread);

// The report: its file is reserved when the peripheral is first used (under
// the lock), and it is written as the process ends, or as the DLL is let go.
void reserve_report();
void write_report(bool process_ending);

// What a report is written for: now (a reader asked), or as the process
// ends, when the calling thread is the one ending it, and `inside` is the
// call another thread was in when the end stopped it (null: none).
struct Moment {
    bool process_ending;
    DWORD ending_thread;
    const char *inside;
    DWORD inside_thread;
};

} // namespace vperiph

#endif
