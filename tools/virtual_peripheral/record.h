// What the virtual peripheral records of the calls made to it, and what the
// report shows: counts, the bytes each port received, faults and the live
// handles and sets.
//
// It runs inside someone else's process, which may end while one of its
// threads is inside a call here: the report written as the process ends must
// then neither wait for that thread nor read a half-made change. So a Record
// is kept twice (session.h): a call's change is made to one copy, which is
// then published, and made again to the other. A change is a Change, a value
// decided once against the record as it stands, and apply() is the only
// thing that writes into a Record: both copies take the same change, and
// nothing outside them is touched twice. Nothing in a Record allocates once
// it is made, so a change cannot fail halfway either.
#ifndef VPERIPH_RECORD_H
#define VPERIPH_RECORD_H

#include <windows.h>

#include <array>
#include <cstdarg>
#include <cstdint>
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

// The bytes of one short message as a device sees them; or (size 0) a long
// message, kept in the record's long messages, whose number's low 24 bits
// are `bytes`, so that a port's list stays as small as it was.
struct Message {
    std::uint8_t size;
    std::uint8_t bytes[3];
};

// A long message (a SysEx, or any bytes a host sent as one), of any port: its
// length and its first bytes.
constexpr std::size_t kLongKept = 64;
constexpr std::size_t kKeptLongMessages = 1024;
struct LongMessage {
    std::uint32_t length;
    std::uint8_t head[kLongKept];
    std::uint64_t number; // counted from 0 since the description was loaded
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
// Who opened a port handle, for the report of one left open.
enum class Opener : std::uint8_t { library, host_through_winmm, host_redirected, unknown };

struct Holder {
    std::uintptr_t value;
    unsigned port; // port handles only
    DWORD thread;
    bool thread_ended;
    std::uint64_t last_call;
    bool input = false; // a handle of an input port
    Opener opener = Opener::library;
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
    // A handle of the output (or input) port, the thread's own first.
    const Holder *of_port(std::uintptr_t port, DWORD thread, bool input = false) const
    {
        const Holder *any = nullptr;
        for (const Holder &h : items_) {
            if (h.port != port || h.input != input)
                continue;
            if (h.thread == thread)
                return &h;
            any = any == nullptr ? &h : any;
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
    explicit Record(const Description &d);
    Record(const Record &) = delete;
    Record &operator=(const Record &) = delete;
    Counts counts{};
    std::uint64_t builds = 0; // sets built, for appear= and vanish=
    std::vector<Ring<Message, Keep::latest>> received; // per port
    std::vector<Ring<Message, Keep::latest>> delivered; // per input port
    Ring<LongMessage, Keep::latest> long_messages;     // of all ports, in and out
    std::vector<std::uint64_t> fired;                  // per answer
    std::vector<std::uint64_t> waiting;                // per answer: replies not yet due
    Ring<Line, Keep::first> faults;                    // the first fault explains the others
    Ring<Line, Keep::first> events;                    // refused opens, replies lost
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

// One call's change of the record, decided before it is made. Every part is
// optional; apply() makes them in this order.
struct Change {
    // A platform call, by this thread: counted, and the thread's latest.
    bool call = false;
    DWORD thread = 0;
    // The counter of the call's kind.
    std::uint64_t Counts::*kind = nullptr;
    bool faulted = false;
    Line fault{};
    // What happens to a handle (or, with `set`, a device set).
    enum class Holding { none, use, open, close, thread_ended } holding = Holding::none;
    bool set = false;
    std::uintptr_t value = 0;
    unsigned port = 0; // of a handle opened
    bool input = false;
    Opener opener = Opener::library;
    // A message output port `port` received, or input port `port` delivered:
    // a short one in `message`, or `long_message` when is_long.
    bool received = false, delivered = false, is_long = false;
    Message message{};
    LongMessage long_message{};
    // The answer that fired, or -1; its reply waits (queued) until the
    // device's thread settles it (delivered or lost: `settled`, or -1).
    int answer = -1;
    bool queued = false;
    int settled = -1;
    // A refused open or a lost reply, for the report.
    bool noted = false;
    Line note{};
};

// The long message a Message of size 0 stands for, while it is kept; null
// once it was let go.
const LongMessage *long_message_of(const Record &r, const Message &m);

// A platform call's change: counts the call of this thread.
Change call_change();

// Makes the change in one copy of the record.
void apply(Record &r, const Change &c);

// Formats into a fixed line (cut at kLineSize - 1 bytes); never allocates.
// The one formatting body of the call log and the faults.
Line make_line_v(const char *fmt, va_list args);
Line make_line(const char *fmt, ...);

} // namespace vperiph

#endif
