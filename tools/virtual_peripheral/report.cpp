// The report's text: one writer for every reader (vp_report, vp_faults, and
// the report file as the process ends), which as the process ends writes
// into room taken beforehand, allocating nothing.
#include "report.h"

#include <cstring>

#include "text.h"

namespace vperiph {

namespace {

// A long run's report shows the end of each port's traffic, not all of it.
constexpr std::size_t kReportedMessages = 25;
// A long message is shown whole up to this many bytes; a longer one by its
// first kShownHead bytes and its length.
constexpr std::size_t kShownWhole = 24;
constexpr std::size_t kShownHead = 16;

// A report asked for while the process runs.
const Moment kNow{false, 0, nullptr, 0};

template <typename Out> void put(Out &out, const char *s) { out.append(s, std::strlen(s)); }
template <typename Out> void put(Out &out, const std::string &s) { out.append(s.data(), s.size()); }

template <typename Out> void put_number(Out &out, std::uint64_t v)
{
    char digits[24];
    std::size_t n = 0;
    do {
        digits[sizeof digits - ++n] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    out.append(digits + sizeof digits - n, n);
}

template <typename Out> void put_hex(Out &out, std::uint64_t v, std::size_t width, bool upper)
{
    const char *hex = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char digits[16];
    std::size_t n = 0;
    do {
        digits[sizeof digits - ++n] = hex[v & 15];
        v >>= 4;
    } while (v != 0 || n < width);
    out.append(digits + sizeof digits - n, n);
}

// A handle or set value, as the call log writes it.
template <typename Out> void put_value(Out &out, std::uintptr_t v)
{
    put(out, "0x");
    put_hex(out, v, 1, false);
}

template <typename Out> void put_bytes(Out &out, const std::uint8_t *bytes, std::size_t n)
{
    for (std::size_t b = 0; b < n; ++b) {
        if (b > 0)
            put(out, " ");
        put_hex(out, bytes[b], 2, true);
    }
}

template <typename Out> void put_message(Out &out, const Record &r, const Message &m)
{
    if (m.size != 0) {
        put_bytes(out, m.bytes, m.size);
        return;
    }
    const LongMessage *l = long_message_of(r, m);
    if (l == nullptr) {
        put(out, "(a long message no longer kept)");
    } else if (l->length <= kShownWhole) {
        put_bytes(out, l->head, l->length);
    } else {
        put_bytes(out, l->head, kShownHead);
        put(out, " ... (");
        put_number(out, l->length);
        put(out, " bytes)");
    }
}

template <typename Out>
void put_received(Out &out, const Record &r, const Ring<Message, Keep::latest> &port,
                  const char *none = "nothing received")
{
    if (port.size() == 0) {
        put(out, none);
        return;
    }
    const std::size_t from = port.size() > kReportedMessages ? port.size() - kReportedMessages : 0;
    if (port.total() > port.size() - from) {
        put_number(out, port.total());
        put(out, " messages, the latest ");
        put_number(out, port.size() - from);
        put(out, ": ");
    }
    for (std::size_t m = from; m < port.size(); ++m) {
        if (m > from)
            put(out, " / ");
        put_message(out, r, port[m]);
    }
}

// The lines a list kept, each after `lead`, then how many it did not keep.
template <typename Out, typename List>
void put_kept(Out &out, const List &lines, const char *lead, const char *not_kept)
{
    for (std::size_t i = 0; i < lines.size(); ++i) {
        put(out, lead);
        put(out, lines[i].text);
        put(out, "\n");
    }
    if (lines.dropped() > 0) {
        put(out, lead);
        put_number(out, lines.dropped());
        put(out, not_kept);
    }
}

// Asked while the process runs, every live one is still open. As it ends,
// the library holds a port or set only inside its own calls, so one that a
// call in progress was about is in use: the end stopped its thread there,
// however many threads it stopped. Its thread's latest call was made on it
// (the thread the end caught inside the peripheral was in that call), and
// the ending thread called nothing after it, or the thread was idle. The
// ending thread itself, and a thread that ended before, were in no call.
bool leaked(const Holder &h, const Record &r, const Moment &at)
{
    if (!at.process_ending || h.thread == at.ending_thread || h.thread_ended)
        return true;
    if (at.inside != nullptr && h.thread == at.inside_thread)
        return false;
    return h.last_call != r.latest_call_of(h.thread) ||
           h.last_call < r.latest_call_of(at.ending_thread);
}

} // namespace

template <typename Out> void put_faults(Out &out, const Record &r, const Moment &at)
{
    put_kept(out, r.faults, "fault: ", " later fault(s) not kept\n");
    for (const Holders *list : {&r.handles, &r.sets})
        for (const Holder &h : list->items()) {
            if (!leaked(h, r, at))
                continue;
            const bool handle = list == &r.handles;
            put(out, handle ? "fault: handle " : "fault: set ");
            put_value(out, h.value);
            if (handle) {
                put(out, " of port ");
                put_number(out, h.port);
            }
            put(out, handle ? " never closed" : " never destroyed\n");
            if (handle && h.input)
                put(out, " (an input port's)");
            if (handle)
                put(out, h.opener == Opener::host_through_winmm
                             ? " (opened by the host's own call, through Wine's winmm)\n"
                         : h.opener == Opener::host_redirected
                             ? " (opened by the host's own call, in its redirected program)\n"
                         : h.opener == Opener::unknown ? " (opened through Wine's winmm)\n"
                                                       : "\n");
        }
}

template <typename Out> void put_program(Out &out)
{
    put(out, "  program: ");
    put(out, program_path());
    put(out, " (process ");
    put_number(out, GetCurrentProcessId());
    put(out, ")\n");
}

template <typename Out> void put_ended_inside(Out &out, DWORD thread, const char *call)
{
    put(out, "the process ended while thread ");
    put_number(out, thread);
    put(out, " was inside ");
    put(out, call);
}

const char kCallInProgress[] = "  a call was in progress as the process ended\n";

template <typename Out> void put_report(Out &out, const Loaded &l, const Record &r, const Moment &at)
{
    put(out, "virtual peripheral: ");
    put_number(out, l.d.ports.size());
    put(out, " MIDI output port(s), ");
    if (!l.d.inputs.empty()) {
        put_number(out, l.d.inputs.size());
        put(out, " MIDI input port(s), ");
    }
    put_number(out, l.d.usb.size());
    put(out, l.d.usb.size() == 1 ? " USB entry\n" : " USB entries\n");
    put_program(out);
    put(out, "  description: ");
    put(out, l.source);
    if (!l.problem.empty()) {
        put(out, ": ");
        put(out, l.problem);
        put(out, "; no ports and no USB entries are presented");
    }
    put(out, "\n");
    const int presented = winmm_ports();
    if (presented >= 0 && static_cast<std::size_t>(presented) != l.d.ports.size()) {
        put(out, "  Wine's winmm asked the number of ports once, as it started, and was told ");
        put_number(out, static_cast<std::uint64_t>(presented));
        put(out, static_cast<std::size_t>(presented) < l.d.ports.size()
                     ? ": the ports after those are not presented\n"
                     : ": the ports past this description's refuse to open\n");
    }
    for (std::size_t p = 0; p < l.d.ports.size(); ++p) {
        put(out, "  port ");
        put_number(out, p);
        put(out, " \"");
        append_quoted(out, l.d.ports[p].name.data(), l.d.ports[p].name.size());
        put(out, "\": ");
        put_received(out, r, r.received[p]);
        put(out, "\n");
    }
    for (std::size_t p = 0; p < l.d.inputs.size(); ++p) {
        put(out, "  in ");
        put_number(out, p);
        put(out, " \"");
        append_quoted(out, l.d.inputs[p].name.data(), l.d.inputs[p].name.size());
        put(out, "\": ");
        put_received(out, r, r.delivered[p], "nothing delivered");
        put(out, "\n");
    }
    for (std::size_t a = 0; a < l.d.answers.size(); ++a) {
        const Answer &answer = l.d.answers[a];
        put(out, "  answer on line ");
        put_number(out, answer.line);
        put(out, " (port ");
        put_number(out, answer.out);
        put(out, " to in ");
        put_number(out, answer.in);
        put(out, "): ");
        if (r.fired[a] == 0) {
            put(out, "never asked\n");
            continue;
        }
        put(out, "fired ");
        put_number(out, r.fired[a]);
        put(out, r.fired[a] == 1 ? " time\n" : " times\n");
    }
    put_kept(out, r.events, "  ", " later refused opens and lost replies not kept\n");
    const Counts &c = r.counts;
    static const struct {
        const char *before;
        std::uint64_t Counts::*count;
    } kCounts[] = {{"  calls: ", &Counts::calls},          {" (port opens ", &Counts::midi_opens},
                   {", closes ", &Counts::midi_closes},   {", sends ", &Counts::midi_sends},
                   {"; set builds ", &Counts::set_builds}, {", destroys ", &Counts::set_destroys}};
    for (const auto &count : kCounts) {
        put(out, count.before);
        put_number(out, c.*count.count);
    }
    put(out, ")\n");
    if (c.calls > VP_KEPT_CALLS) {
        put(out, "  call log: the latest " );
        put_number(out, VP_KEPT_CALLS);
        put(out, " of ");
        put_number(out, c.calls);
        put(out, " calls kept\n");
    }
    if (at.inside != nullptr) {
        put(out, "  note: ");
        put_ended_inside(out, at.inside_thread, at.inside);
        put(out, "; this report shows the record as that call's last whole step left it\n");
    }
    bool in_use = false;
    for (const Holders *list : {&r.handles, &r.sets})
        for (const Holder &h : list->items()) {
            if (leaked(h, r, at))
                continue;
            put(out, list == &r.handles ? "  in use: handle " : "  in use: set ");
            put_value(out, h.value);
            if (list == &r.handles) {
                put(out, " of port ");
                put_number(out, h.port);
            }
            put(out, ", by the call of thread ");
            put_number(out, h.thread);
            put(out, " that the end of the process stopped: not a leak\n");
            in_use = true;
        }
    if (in_use || at.inside != nullptr)
        put(out, kCallInProgress);
    const std::size_t before = out.size();
    put_faults(out, r, at);
    if (out.size() == before)
        put(out, "  handle faults: none\n");
}

std::size_t FixedText::append(const char *s, std::size_t n)
{
    const std::size_t fits = n < room_ - size_ ? n : room_ - size_;
    std::memcpy(data_ + size_, s, fits);
    size_ += fits;
    // cppcheck 2.17 takes fits for n here, but fits < n whenever n passes the room left.
    // cppcheck-suppress knownConditionTrueFalse
    cut_ = cut_ || fits < n;
    return fits;
}

void render_report(FixedText &out, const Loaded &l, const Record &r, const Moment &at)
{
    put_report(out, l, r, at);
}

void render_unread(FixedText &out, const Moment &at)
{
    put(out, "virtual peripheral: nothing recorded\n");
    put_program(out);
    put(out, "  ");
    put_ended_inside(out, at.inside_thread, at.inside != nullptr ? at.inside : "its first call");
    put(out, ", reading the description\n");
    put(out, kCallInProgress);
}

std::string report_text(const Loaded &l, const Record &r)
{
    std::string text;
    put_report(text, l, r, kNow);
    return text;
}

std::string faults_text(const Record &r)
{
    std::string text;
    put_faults(text, r, kNow);
    return text;
}

} // namespace vperiph
