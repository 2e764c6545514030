#include "port_calls.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace vperiph {

namespace {

constexpr std::uint16_t kGarbage = 0xFDFD; // no key byte can equal it

// Bytes a device sees for a short message: the status byte decides the
// length; a data byte in the status position is handed over with both others.
Message message_bytes(DWORD word)
{
    const std::uint8_t status = word & 0xFF;
    std::uint8_t length = 3;
    if (status >= 0xC0 && status <= 0xDF)
        length = 2;
    else if (status == 0xF1 || status == 0xF3)
        length = 2;
    else if (status == 0xF2)
        length = 3;
    else if (status >= 0xF0)
        length = 1;
    Message m{length, {}};
    for (std::size_t i = 0; i < 3; ++i)
        m.bytes[i] = static_cast<std::uint8_t>(word >> (8 * i));
    return m;
}

// held: the caller holds a handle of the port. Wine's MIDI mapper copies each
// name with lstrcpyW as it starts, with no port open: a name without its
// terminator is written only to a query made while the port is open.
void fill_caps(const Port &port, unsigned index, LPMIDIOUTCAPSW caps, UINT size, bool held)
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
    const bool terminated = port.tail != NameTail::unterminated || !held;
    const size_t len = port.name.size();
    for (size_t i = 0; i < MAXPNAMELEN; ++i) {
        if (i < len)
            record.szPname[i] = static_cast<WCHAR>(port.name[i]);
        else if (i == len && terminated)
            record.szPname[i] = 0;
        else if (port.tail == NameTail::garbage)
            record.szPname[i] = static_cast<WCHAR>(kGarbage);
        else if (port.tail == NameTail::zero)
            record.szPname[i] = 0;
    }
    std::memcpy(caps, &record, n);
}

// The failure "fail N" makes of this call, or 0.
MMRESULT injected(const Session &session, Caller caller, bool failing)
{
    return failing && caller.usual != MMSYSERR_NOERROR ? session.injected_status(caller.usual)
                                                        : MMRESULT(MMSYSERR_NOERROR);
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

MMRESULT open_port(Session &session, Caller caller, unsigned port, std::uintptr_t *handle,
                   std::uint64_t callback, std::uint64_t instance, unsigned long flags)
{
    const Description &d = session.d();
    const Record &now = session.record();
    Change c = call_change();
    MMRESULT r = injected(session, caller, session.failing());
    if (r == MMSYSERR_NOERROR)
        r = port >= d.ports.size() ? MMRESULT(MMSYSERR_BADDEVICEID)
            : handle == nullptr    ? MMRESULT(MMSYSERR_INVALPARAM)
                                   : d.ports[port].open;
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
    }
    session.change(c);
    char opened[32] = "";
    if (r == MMSYSERR_NOERROR) {
        *handle = c.value;
        std::snprintf(opened, sizeof opened, " handle=0x%llx", static_cast<unsigned long long>(c.value));
    }
    session.log("%s(port=%u, callback=0x%llx, instance=0x%llx, flags=0x%lx) -> %u%s", caller.label,
                port, static_cast<unsigned long long>(callback),
                static_cast<unsigned long long>(instance), flags, r, opened);
    return r;
}

MMRESULT query_caps(Session &session, Caller caller, std::uintptr_t id, MIDIOUTCAPSW *caps,
                    UINT size, bool unheld_is_fault)
{
    const Description &d = session.d();
    const Record &now = session.record();
    Change c = call_change();
    c.kind = &Counts::caps_queries;
    // An id beyond 32 bits is no port index (only a 64-bit caller can pass one).
    unsigned port = id <= UINT_MAX ? static_cast<unsigned>(id) : UINT_MAX;
    // Asked by handle, or (as the library asks) by the id of a port the
    // caller holds open.
    const Holder *by = now.handles.find(id);
    if (by != nullptr)
        port = by->port;
    else
        by = now.handles.of_port(id, c.thread);
    const bool held = by != nullptr;
    if (held) {
        c.holding = Change::Holding::use;
        c.value = by->value;
    } else if (unheld_is_fault) {
        c.faulted = true;
        c.fault = make_line("%s for id %llu, which no open handle has", caller.label,
                            static_cast<unsigned long long>(id));
    }
    MMRESULT r = injected(session, caller, session.failing());
    r = r != MMSYSERR_NOERROR    ? r
        : port >= d.ports.size() ? MMRESULT(MMSYSERR_BADDEVICEID)
        : caps == nullptr        ? MMRESULT(MMSYSERR_INVALPARAM)
                                 : d.ports[port].caps;
    session.change(c);
    if (r == MMSYSERR_NOERROR && port < d.ports.size() && caps != nullptr)
        fill_caps(d.ports[port], port, caps, size, held);
    session.log("%s(id=%llu, size=%u) -> %u%s", caller.label, static_cast<unsigned long long>(id),
                size, r, held || unheld_is_fault ? "" : " (no open handle of this port)");
    return r;
}

MMRESULT send_short(Session &session, Caller caller, std::uintptr_t handle, DWORD word)
{
    Change c = call_change();
    c.kind = &Counts::midi_sends;
    const Holder *held = use_handle(session.record(), c, handle, caller.label);
    const int port = held != nullptr ? static_cast<int>(held->port) : -1;
    MMRESULT r = injected(session, caller, session.failing());
    if (r == MMSYSERR_NOERROR)
        r = held == nullptr ? MMRESULT(MMSYSERR_INVALHANDLE) : session.d().ports[held->port].send;
    if (r == MMSYSERR_NOERROR && held != nullptr) {
        c.received = true;
        c.port = held->port;
        c.message = message_bytes(word);
    }
    session.change(c);
    session.log("%s(handle=0x%llx, port=%d, word=0x%08lx) -> %u", caller.label,
                static_cast<unsigned long long>(handle), port, static_cast<unsigned long>(word), r);
    return r;
}

MMRESULT reset_port(Session &session, Caller caller, std::uintptr_t handle)
{
    Change c = call_change();
    const bool held = use_handle(session.record(), c, handle, caller.label) != nullptr;
    MMRESULT r = injected(session, caller, session.failing());
    r = r != MMSYSERR_NOERROR ? r
        : !held               ? MMRESULT(MMSYSERR_INVALHANDLE)
                              : MMRESULT(MMSYSERR_NOERROR);
    session.change(c);
    session.log("%s(handle=0x%llx) -> %u", caller.label, static_cast<unsigned long long>(handle), r);
    return r;
}

MMRESULT close_port(Session &session, Caller caller, std::uintptr_t handle)
{
    Change c = call_change();
    const Holder *held = use_handle(session.record(), c, handle, caller.label);
    int port = -1;
    MMRESULT r = MMSYSERR_INVALHANDLE;
    if (held != nullptr) {
        port = static_cast<int>(held->port);
        r = injected(session, caller, session.failing());
        r = r != MMSYSERR_NOERROR ? r : session.d().ports[held->port].close;
        c.kind = &Counts::midi_closes;
        c.holding = Change::Holding::close;
    }
    session.change(c);
    session.log("%s(handle=0x%llx, port=%d) -> %u", caller.label,
                static_cast<unsigned long long>(handle), port, r);
    return r;
}

} // namespace vperiph
