#include "record.h"

#include <cstdio>

namespace vperiph {

Record::Record(const Description &d)
    : received(d.ports.size(), Ring<Message, Keep::latest>(VP_KEPT_MESSAGES)),
      delivered(d.inputs.size(), Ring<Message, Keep::latest>(VP_KEPT_MESSAGES)),
      long_messages(d.ports.empty() && d.inputs.empty() ? 0 : kKeptLongMessages),
      fired(d.answers.size(), 0), waiting(d.answers.size(), 0), faults(VP_KEPT_FAULTS), events(VP_KEPT_FAULTS),
      handles(kMostOpenPorts), sets(kMostOpenSets)
{
}

const LongMessage *long_message_of(const Record &r, const Message &m)
{
    const auto &kept = r.long_messages;
    if (m.size != 0 || kept.size() == 0)
        return nullptr;
    const std::uint32_t low = m.bytes[0] | (m.bytes[1] << 8) | (m.bytes[2] << 16);
    const std::uint64_t latest = kept.total() - 1;
    const std::uint64_t back = (latest - low) & 0xFFFFFF;
    if (back >= kept.size())
        return nullptr;
    const LongMessage &found = kept[kept.size() - 1 - static_cast<std::size_t>(back)];
    return (found.number & 0xFFFFFF) == low ? &found : nullptr;
}

Change call_change()
{
    Change c;
    c.call = true;
    c.thread = GetCurrentThreadId();
    return c;
}

void apply(Record &r, const Change &c)
{
    if (c.call)
        r.called(c.thread, ++r.counts.calls);
    if (c.kind != nullptr)
        ++(r.counts.*c.kind);
    if (c.faulted)
        r.faults.add(c.fault);
    Holders &list = c.set ? r.sets : r.handles;
    switch (c.holding) {
    case Change::Holding::none:
        break;
    case Change::Holding::use:
        list.used(c.value, r.counts.calls);
        break;
    case Change::Holding::open:
        (c.set ? r.set_handles : r.port_handles).take(c.value);
        list.add(Holder{c.value, c.port, c.thread, false, r.counts.calls, c.input, c.opener});
        r.builds += c.set ? 1 : 0;
        break;
    case Change::Holding::close:
        list.remove(c.value);
        break;
    case Change::Holding::thread_ended:
        r.handles.thread_ended(c.thread);
        r.sets.thread_ended(c.thread);
        break;
    }
    if (c.received || c.delivered) {
        Message m = c.message;
        if (c.is_long) {
            LongMessage l = c.long_message;
            l.number = r.long_messages.total();
            r.long_messages.add(l);
            m = Message{0, {static_cast<std::uint8_t>(l.number), static_cast<std::uint8_t>(l.number >> 8),
                            static_cast<std::uint8_t>(l.number >> 16)}};
        }
        (c.received ? r.received : r.delivered)[c.port].add(m);
    }
    if (c.answer >= 0)
        ++r.fired[static_cast<std::size_t>(c.answer)];
    if (c.answer >= 0 && c.queued)
        ++r.waiting[static_cast<std::size_t>(c.answer)];
    if (c.settled >= 0 && r.waiting[static_cast<std::size_t>(c.settled)] > 0)
        --r.waiting[static_cast<std::size_t>(c.settled)];
    if (c.noted)
        r.events.add(c.note);
}

Line make_line_v(const char *fmt, va_list args)
{
    Line line;
    std::vsnprintf(line.text, sizeof line.text, fmt, args);
    return line;
}

Line make_line(const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    const Line line = make_line_v(fmt, args);
    va_end(args);
    return line;
}

} // namespace vperiph
