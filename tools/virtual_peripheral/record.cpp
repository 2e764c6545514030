#include "record.h"

#include <cstdio>

namespace vperiph {

Record::Record(std::size_t ports)
    : received(ports, Ring<Message, Keep::latest>(VP_KEPT_MESSAGES)), faults(VP_KEPT_FAULTS),
      handles(kMostOpenPorts), sets(kMostOpenSets)
{
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
        list.add(Holder{c.value, c.port, c.thread, false, r.counts.calls});
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
    if (c.received)
        r.received[c.port].add(c.message);
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
