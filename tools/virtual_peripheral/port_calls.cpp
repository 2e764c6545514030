#include "port_calls.h"

#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "replies.h"
#include "text.h"

namespace vperiph {

namespace {

constexpr std::uint16_t kGarbage = 0xFDFD; // no key byte can equal it

// A header shorter than this is refused: the fields up to dwOffset are all a
// driver reads.
constexpr UINT kSmallestHeader = offsetof(MIDIHDR, dwOffset);

// Bytes a device sees for a short message: the status byte decides the
// length; a data byte in the status position is handed over with both others.
Message message_bytes(DWORD word)
{
    Message m{static_cast<std::uint8_t>(short_message_length(word & 0xFF)), {}};
    for (std::size_t i = 0; i < 3; ++i)
        m.bytes[i] = static_cast<std::uint8_t>(word >> (8 * i));
    return m;
}

// The port's name written into a capability record's szPname (MAXPNAMELEN
// characters). held: the caller holds a handle of the port. Wine's MIDI
// mapper copies each name with lstrcpyW as it starts, with no port open: a
// name without its terminator is written only to a query made while the port
// is open.
void fill_name(WCHAR *name, const std::u16string &from, NameTail tail, bool held)
{
    const bool terminated = tail != NameTail::unterminated || !held;
    const size_t len = from.size();
    for (size_t i = 0; i < MAXPNAMELEN; ++i) {
        if (i < len)
            name[i] = static_cast<WCHAR>(from[i]);
        else if (i == len && terminated)
            name[i] = 0;
        else if (tail == NameTail::garbage)
            name[i] = static_cast<WCHAR>(kGarbage);
        else if (tail == NameTail::zero)
            name[i] = 0;
    }
}

// An external MIDI port's record: no voices or notes, every channel, no volume
// or patch caching.
void fill_out_caps(const Port &port, unsigned index, LPMIDIOUTCAPSW caps, UINT size, bool held)
{
    MIDIOUTCAPSW record;
    const size_t n = size < sizeof record ? size : sizeof record;
    std::memset(&record, 0, sizeof record);
    std::memcpy(&record, caps, n);
    record.wMid = 0x00FF;
    record.wPid = static_cast<WORD>(index + 1);
    record.vDriverVersion = 0x0100;
    record.wTechnology = MOD_MIDIPORT;
    record.wVoices = 0;
    record.wNotes = 0;
    record.wChannelMask = 0xFFFF;
    record.dwSupport = 0;
    fill_name(record.szPname, port.name, port.tail, held);
    std::memcpy(caps, &record, n);
}

void fill_in_caps(const InPort &port, unsigned index, LPMIDIINCAPSW caps, UINT size)
{
    MIDIINCAPSW record;
    const size_t n = size < sizeof record ? size : sizeof record;
    std::memset(&record, 0, sizeof record);
    record.wMid = 0x00FF;
    record.wPid = static_cast<WORD>(0x100 + index + 1);
    record.vDriverVersion = 0x0100;
    fill_name(record.szPname, port.name, NameTail::zero, true);
    std::memcpy(caps, &record, n);
}

// The failure "fail N" makes of this call, or 0.
MMRESULT injected(const Session &session, Caller caller)
{
    return session.failing() && caller.usual != MMSYSERR_NOERROR
               ? session.injected_status(caller.usual)
               : MMRESULT(MMSYSERR_NOERROR);
}

const char *direction(bool input) { return input ? "input" : "output"; }

// use_handle for a call of one direction: a handle of the other is a fault too.
const Holder *use_port(const Record &r, Change &c, std::uintptr_t handle, const char *label,
                       bool input)
{
    const Holder *held = use_handle(r, c, handle, label);
    if (held != nullptr && held->input != input) {
        c.holding = Change::Holding::none;
        c.faulted = true;
        c.fault = make_line("%s on handle 0x%llx, which is of an %s port", label,
                            static_cast<unsigned long long>(handle), direction(held->input));
        return nullptr;
    }
    return held;
}

// The answer `bytes` ask of output port `port`, queued.
void answer(Session &session, Change &c, unsigned port, const std::uint8_t *bytes, std::size_t n)
{
    const int a = find_answer(session.d(), port, bytes, n);
    if (a >= 0) {
        c.answer = a;
        queue_reply(session, c, static_cast<unsigned>(a));
    }
}

} // namespace

const Holder *use_handle(const Record &r, Change &c, std::uintptr_t handle, const char *label)
{
    const Holder *held = r.handles.find(handle);
    if (held != nullptr) {
        c.holding = Change::Holding::use;
        c.value = handle;
    } else {
        c.faulted = true;
        c.fault = make_line("%s on %s handle 0x%llx", label,
                            r.port_handles.was_issued(handle) ? "closed" : "unknown",
                            static_cast<unsigned long long>(handle));
    }
    return held;
}

MMRESULT open_port(Session &session, Notices &notices, Caller caller, const Opening &how,
                   std::uintptr_t *handle)
{
    const Description &d = session.d();
    const Record &now = session.record();
    const std::size_t count = how.input ? d.inputs.size() : d.ports.size();
    const unsigned port = how.port;
    Change c = call_change();
    MMRESULT r = injected(session, caller);
    if (r == MMSYSERR_NOERROR)
        r = port >= count         ? MMRESULT(MMSYSERR_BADDEVICEID)
            : handle == nullptr   ? MMRESULT(MMSYSERR_INVALPARAM)
            : how.input           ? d.inputs[port].open
                                  : d.ports[port].open;
    const bool many = port < count && (how.input ? d.inputs[port].many_clients
                                                 : d.ports[port].many_clients);
    const Holder *holder = port < count && !many ? now.handles.of_port(port, c.thread, how.input)
                                                 : nullptr;
    if (r == MMSYSERR_NOERROR && holder != nullptr) {
        // One client at a time, as a USB MIDI port under the classic driver.
        r = MMSYSERR_ALLOCATED;
        c.noted = true;
        c.note = make_line("refused: %s of %s port %u, held open by handle 0x%llx -> %u",
                           caller.label, direction(how.input), port,
                           static_cast<unsigned long long>(holder->value), r);
    }
    if (r == MMSYSERR_NOERROR && now.handles.full()) {
        c.faulted = true;
        c.fault = make_line("%s with %u port handles open already", caller.label,
                            static_cast<unsigned>(kMostOpenPorts));
        r = MMSYSERR_NOMEM;
    }
    if (r == MMSYSERR_NOERROR) {
        c.kind = &Counts::midi_opens;
        c.holding = Change::Holding::open;
        c.value = now.port_handles.next([&](std::uintptr_t v) { return now.handles.find(v) != nullptr; });
        c.port = port;
        c.input = how.input;
        c.opener = how.opener;
        OpenPort open;
        open.input = how.input;
        open.port = port;
        open.client = how.client;
        if (open.client.handle == 0)
            open.client.handle = c.value;
        session.loaded().opens[c.value] = open;
        notices.add(open.client, how.input ? MIM_OPEN : MOM_OPEN);
    }
    session.change(c);
    char opened[32] = "";
    if (r == MMSYSERR_NOERROR) {
        *handle = c.value;
        std::snprintf(opened, sizeof opened, " handle=0x%llx", static_cast<unsigned long long>(c.value));
    }
    session.log("%s(port=%u, callback=0x%llx, instance=0x%llx, flags=0x%lx) -> %u%s", caller.label,
                port, static_cast<unsigned long long>(how.client.callback),
                static_cast<unsigned long long>(how.client.instance), how.flags, r, opened);
    return r;
}

MMRESULT close_port(Session &session, Notices &notices, Caller caller, std::uintptr_t handle,
                    bool input)
{
    Change c = call_change();
    const Holder *held = use_port(session.record(), c, handle, caller.label, input);
    int port = -1;
    MMRESULT r = MMSYSERR_INVALHANDLE;
    auto &opens = session.loaded().opens;
    const auto open = opens.find(handle);
    if (held != nullptr && input && open != opens.end() && !open->second.buffers.empty()) {
        port = static_cast<int>(held->port);
        r = MIDIERR_STILLPLAYING;
    } else if (held != nullptr) {
        port = static_cast<int>(held->port);
        r = injected(session, caller);
        r = r != MMSYSERR_NOERROR ? r
            : input               ? session.d().inputs[held->port].close
                                  : session.d().ports[held->port].close;
        c.kind = &Counts::midi_closes;
        c.holding = Change::Holding::close;
        if (open != opens.end()) {
            if (r == MMSYSERR_NOERROR)
                notices.add(open->second.client, input ? MIM_CLOSE : MOM_CLOSE);
            opens.erase(open);
        }
    }
    session.change(c);
    session.log("%s(handle=0x%llx, port=%d) -> %u", caller.label,
                static_cast<unsigned long long>(handle), port, r);
    return r;
}

MMRESULT query_caps(Session &session, Caller caller, std::uintptr_t id, void *caps, UINT size,
                    bool unheld_is_fault, bool input)
{
    const Description &d = session.d();
    const Record &now = session.record();
    const std::size_t count = input ? d.inputs.size() : d.ports.size();
    Change c = call_change();
    c.kind = &Counts::caps_queries;
    // An id beyond 32 bits is no port index (only a 64-bit caller can pass one).
    unsigned port = id <= UINT_MAX ? static_cast<unsigned>(id) : UINT_MAX;
    // Asked by handle, or (as the library asks) by the id of a port the
    // caller holds open.
    const Holder *by = now.handles.find(id);
    if (by != nullptr && by->input == input)
        port = by->port;
    else if (by != nullptr)
        by = nullptr, port = UINT_MAX; // a handle of the other direction
    else
        by = now.handles.of_port(id, c.thread, input);
    const bool held = by != nullptr;
    if (held) {
        c.holding = Change::Holding::use;
        c.value = by->value;
    } else if (unheld_is_fault) {
        c.faulted = true;
        c.fault = make_line("%s for id %llu, which no open handle has", caller.label,
                            static_cast<unsigned long long>(id));
    }
    MMRESULT r = injected(session, caller);
    r = r != MMSYSERR_NOERROR ? r
        : port >= count       ? MMRESULT(MMSYSERR_BADDEVICEID)
        : caps == nullptr     ? MMRESULT(MMSYSERR_INVALPARAM)
        : input               ? MMRESULT(MMSYSERR_NOERROR)
                              : d.ports[port].caps;
    session.change(c);
    if (r == MMSYSERR_NOERROR && input)
        fill_in_caps(d.inputs[port], port, static_cast<LPMIDIINCAPSW>(caps), size);
    else if (r == MMSYSERR_NOERROR)
        fill_out_caps(d.ports[port], port, static_cast<LPMIDIOUTCAPSW>(caps), size, held);
    session.log("%s(id=%llu, size=%u) -> %u%s", caller.label, static_cast<unsigned long long>(id),
                size, r, held || unheld_is_fault ? "" : " (no open handle of this port)");
    return r;
}

MMRESULT send_short(Session &session, Caller caller, std::uintptr_t handle, DWORD word)
{
    Change c = call_change();
    c.kind = &Counts::midi_sends;
    const Holder *held = use_port(session.record(), c, handle, caller.label, false);
    const int port = held != nullptr ? static_cast<int>(held->port) : -1;
    MMRESULT r = injected(session, caller);
    if (r == MMSYSERR_NOERROR)
        r = held == nullptr ? MMRESULT(MMSYSERR_INVALHANDLE) : session.d().ports[held->port].send;
    if (r == MMSYSERR_NOERROR && held != nullptr) {
        c.received = true;
        c.port = held->port;
        c.message = message_bytes(word);
        answer(session, c, held->port, c.message.bytes, c.message.size);
    }
    session.change(c);
    session.log("%s(handle=0x%llx, port=%d, word=0x%08lx) -> %u", caller.label,
                static_cast<unsigned long long>(handle), port, static_cast<unsigned long>(word), r);
    return r;
}

MMRESULT send_long(Session &session, Notices &notices, Caller caller, std::uintptr_t handle,
                   MIDIHDR *header, UINT size)
{
    Change c = call_change();
    c.kind = &Counts::midi_sends;
    const Holder *held = use_port(session.record(), c, handle, caller.label, false);
    const int port = held != nullptr ? static_cast<int>(held->port) : -1;
    MMRESULT r = injected(session, caller);
    r = r != MMSYSERR_NOERROR                          ? r
        : held == nullptr                              ? MMRESULT(MMSYSERR_INVALHANDLE)
        : header == nullptr || size < kSmallestHeader  ? MMRESULT(MMSYSERR_INVALPARAM)
        : (header->dwFlags & MHDR_PREPARED) == 0       ? MMRESULT(MIDIERR_UNPREPARED)
        : (header->dwFlags & MHDR_INQUEUE) != 0        ? MMRESULT(MIDIERR_STILLPLAYING)
        : header->lpData == nullptr                    ? MMRESULT(MMSYSERR_INVALPARAM)
                                                       : session.d().ports[held->port].long_send;
    const DWORD length = r == MMSYSERR_NOERROR ? header->dwBufferLength : 0;
    if (r == MMSYSERR_NOERROR) {
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(header->lpData);
        c.received = true;
        c.is_long = true;
        c.port = held->port;
        c.long_message.length = length;
        std::memcpy(c.long_message.head, bytes, length < kLongKept ? length : kLongKept);
        answer(session, c, held->port, bytes, length);
        // Sent as it is handed over: done at once.
        header->dwFlags = (header->dwFlags & ~DWORD(MHDR_INQUEUE)) | MHDR_DONE;
        notices.add(session.loaded().opens[handle].client, MOM_DONE,
                    reinterpret_cast<DWORD_PTR>(header));
    }
    session.change(c);
    session.log("%s(handle=0x%llx, port=%d, bytes=%lu) -> %u", caller.label,
                static_cast<unsigned long long>(handle), port, static_cast<unsigned long>(length), r);
    return r;
}

MMRESULT prepare_header(Session &session, Caller caller, std::uintptr_t handle, MIDIHDR *header,
                        UINT size, bool input, bool prepare)
{
    Change c = call_change();
    const Holder *held = use_port(session.record(), c, handle, caller.label, input);
    MMRESULT r = injected(session, caller);
    r = r != MMSYSERR_NOERROR                         ? r
        : held == nullptr                             ? MMRESULT(MMSYSERR_INVALHANDLE)
        : header == nullptr || size < kSmallestHeader ? MMRESULT(MMSYSERR_INVALPARAM)
        : prepare && header->lpData == nullptr        ? MMRESULT(MMSYSERR_INVALPARAM)
                                                      : MMRESULT(MMSYSERR_NOERROR);
    // A header prepared already, or not prepared, is left as it is; preparing
    // clears what an earlier use left (DONE, INQUEUE), as Windows has since 2000.
    const bool prepared = r == MMSYSERR_NOERROR && (header->dwFlags & MHDR_PREPARED) != 0;
    if (r == MMSYSERR_NOERROR && prepare && !prepared)
        header->dwFlags = (header->dwFlags & ~DWORD(MHDR_DONE | MHDR_INQUEUE)) | MHDR_PREPARED;
    else if (prepared && !prepare && (header->dwFlags & MHDR_INQUEUE) != 0)
        r = MIDIERR_STILLPLAYING;
    else if (prepared && !prepare)
        header->dwFlags &= ~DWORD(MHDR_PREPARED);
    session.change(c);
    session.log("%s(handle=0x%llx, size=%u) -> %u", caller.label,
                static_cast<unsigned long long>(handle), size, r);
    return r;
}

MMRESULT reset_port(Session &session, Caller caller, std::uintptr_t handle)
{
    Change c = call_change();
    const bool held = use_port(session.record(), c, handle, caller.label, false) != nullptr;
    MMRESULT r = injected(session, caller);
    r = r != MMSYSERR_NOERROR ? r
        : !held               ? MMRESULT(MMSYSERR_INVALHANDLE)
                              : MMRESULT(MMSYSERR_NOERROR);
    session.change(c);
    session.log("%s(handle=0x%llx) -> %u", caller.label, static_cast<unsigned long long>(handle), r);
    return r;
}

MMRESULT unsupported(Session &session, Caller caller, Unsupported what, std::uintptr_t id,
                     const void *pointer)
{
    Change c = call_change();
    const Record &now = session.record();
    // A handle, or a port index (volume may be asked by device id).
    const Holder *held = now.handles.find(id);
    const bool known = held != nullptr ? !held->input : id < session.d().ports.size();
    if (held != nullptr && known) {
        c.holding = Change::Holding::use;
        c.value = id;
    }
    MMRESULT r = injected(session, caller);
    r = r != MMSYSERR_NOERROR                                  ? r
        : what == Unsupported::get_volume && pointer == nullptr ? MMRESULT(MMSYSERR_INVALPARAM)
        : !known                                               ? MMRESULT(MMSYSERR_INVALHANDLE)
                                                               : MMRESULT(MMSYSERR_NOTSUPPORTED);
    session.change(c);
    session.log("%s(id=0x%llx) -> %u", caller.label, static_cast<unsigned long long>(id), r);
    return r;
}

namespace {

// An input call's open port: null, with the result in `r`, when the
// description makes the call fail or the handle is no live input port's.
OpenPort *open_input(Session &session, Change &c, Caller caller, std::uintptr_t handle, MMRESULT &r)
{
    const Holder *held = use_port(session.record(), c, handle, caller.label, true);
    const auto open = session.loaded().opens.find(handle);
    r = injected(session, caller);
    if (r == MMSYSERR_NOERROR && (held == nullptr || open == session.loaded().opens.end()))
        r = MMSYSERR_INVALHANDLE;
    return r == MMSYSERR_NOERROR ? &open->second : nullptr;
}

} // namespace

MMRESULT add_buffer(Session &session, Caller caller, std::uintptr_t handle, MIDIHDR *header,
                    UINT size)
{
    Change c = call_change();
    MMRESULT r = MMSYSERR_NOERROR;
    OpenPort *open = open_input(session, c, caller, handle, r);
    r = open == nullptr                                     ? r
        : header == nullptr || size < kSmallestHeader       ? MMRESULT(MMSYSERR_INVALPARAM)
        : header->lpData == nullptr || header->dwBufferLength == 0 ? MMRESULT(MMSYSERR_INVALPARAM)
        : (header->dwFlags & MHDR_PREPARED) == 0            ? MMRESULT(MIDIERR_UNPREPARED)
        : (header->dwFlags & MHDR_INQUEUE) != 0             ? MMRESULT(MIDIERR_STILLPLAYING)
        : open->buffers.full()                              ? MMRESULT(MMSYSERR_NOMEM)
                                                            : MMRESULT(MMSYSERR_NOERROR);
    if (r == MMSYSERR_NOERROR) {
        header->dwFlags = (header->dwFlags & ~DWORD(MHDR_DONE)) | MHDR_INQUEUE;
        header->dwBytesRecorded = 0;
        open->buffers.add(reinterpret_cast<std::uintptr_t>(header));
    }
    session.change(c);
    session.log("%s(handle=0x%llx, length=%lu) -> %u", caller.label,
                static_cast<unsigned long long>(handle),
                static_cast<unsigned long>(r == MMSYSERR_NOERROR ? header->dwBufferLength : 0), r);
    return r;
}

MMRESULT control_input(Session &session, Notices &notices, Caller caller, std::uintptr_t handle,
                       InputControl what)
{
    Change c = call_change();
    MMRESULT r = MMSYSERR_NOERROR;
    OpenPort *open = open_input(session, c, caller, handle, r);
    unsigned returned = 0;
    if (open != nullptr) {
        OpenPort &p = *open;
        if (what == InputControl::start && !p.started) {
            p.started = true;
            p.started_at = GetTickCount64();
        } else if (what != InputControl::start) {
            p.started = false;
        }
        // Reset gives every buffer back, done and empty.
        while (what == InputControl::reset && !p.buffers.empty()) {
            auto *header = reinterpret_cast<MIDIHDR *>(p.buffers.take());
            header->dwBytesRecorded = 0;
            header->dwFlags = (header->dwFlags & ~DWORD(MHDR_INQUEUE)) | MHDR_DONE;
            notices.add(p.client, MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), 0);
            ++returned;
        }
    }
    session.change(c);
    if (what == InputControl::reset)
        session.log("%s(handle=0x%llx) -> %u returned=%u", caller.label,
                    static_cast<unsigned long long>(handle), r, returned);
    else
        session.log("%s(handle=0x%llx) -> %u", caller.label, static_cast<unsigned long long>(handle), r);
    return r;
}

MMRESULT port_of(Session &session, Caller caller, std::uintptr_t handle, UINT *id, bool input)
{
    Change c = call_change();
    const Holder *held = use_port(session.record(), c, handle, caller.label, input);
    const int port = held != nullptr ? static_cast<int>(held->port) : -1;
    MMRESULT r = injected(session, caller);
    r = r != MMSYSERR_NOERROR ? r
        : held == nullptr     ? MMRESULT(MMSYSERR_INVALHANDLE)
        : id == nullptr       ? MMRESULT(MMSYSERR_INVALPARAM)
        : input               ? MMRESULT(MMSYSERR_NOERROR)
                              : session.d().ports[held->port].getid;
    session.change(c);
    char shown[24] = "";
    if (r == MMSYSERR_NOERROR && port >= 0) {
        *id = static_cast<UINT>(port);
        std::snprintf(shown, sizeof shown, " id=%d", port);
    }
    session.log("%s(handle=0x%llx, port=%d) -> %u%s", caller.label,
                static_cast<unsigned long long>(handle), port, r, shown);
    return r;
}

} // namespace vperiph
