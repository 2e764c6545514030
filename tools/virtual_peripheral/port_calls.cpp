#define VPERIPH_BUILDING
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

const Holder *open_handle(Record &r, std::uintptr_t handle, const char *label)
{
    const Holder *held = r.handles.used(handle, r.counts.calls);
    if (held == nullptr)
        add_fault(r, "%s on %s handle 0x%llx", label,
                  r.port_handles.was_issued(handle) ? "closed" : "unknown",
                  static_cast<unsigned long long>(handle));
    return held;
}

MMRESULT open_port(Session &session, Caller caller, unsigned port, std::uintptr_t *handle,
                   std::uint64_t callback, std::uint64_t instance, unsigned long flags)
{
    const Description &d = session.d();
    const DWORD thread = GetCurrentThreadId();
    std::uintptr_t h = 0;
    const MMRESULT r = session.call([&](Record &rec, bool failing) {
        MMRESULT result = injected(session, caller, failing);
        if (result == MMSYSERR_NOERROR)
            result = port >= d.ports.size() ? MMRESULT(MMSYSERR_BADDEVICEID)
                     : handle == nullptr    ? MMRESULT(MMSYSERR_INVALPARAM)
                                            : d.ports[port].open;
        if (result == MMSYSERR_NOERROR && rec.handles.full()) {
            add_fault(rec, "%s with %u port handles open already", caller.label,
                      static_cast<unsigned>(kMostOpenPorts));
            result = MMSYSERR_NOMEM;
        }
        if (result == MMSYSERR_NOERROR) {
            h = rec.port_handles.next([&](std::uintptr_t v) { return rec.handles.find(v) != nullptr; });
            rec.port_handles.take(h);
            rec.handles.add(Holder{h, port, thread, false, rec.counts.calls});
            ++rec.counts.midi_opens;
        }
        return result;
    });
    char opened[32] = "";
    if (r == MMSYSERR_NOERROR) {
        *handle = h;
        std::snprintf(opened, sizeof opened, " handle=0x%llx", static_cast<unsigned long long>(h));
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
    const DWORD thread = GetCurrentThreadId();
    // An id beyond 32 bits is no port index (only a 64-bit caller can pass one).
    unsigned port = id <= UINT_MAX ? static_cast<unsigned>(id) : UINT_MAX;
    bool held = false;
    const MMRESULT r = session.call([&](Record &rec, bool failing) {
        ++rec.counts.caps_queries;
        // Asked by handle, or (as the library asks) by the id of a port the
        // caller holds open.
        const Holder *by = rec.handles.find(id);
        if (by != nullptr)
            port = by->port;
        else
            by = rec.handles.of_port(id, thread);
        held = by != nullptr;
        if (held)
            rec.handles.used(by->value, rec.counts.calls);
        else if (unheld_is_fault)
            add_fault(rec, "%s for id %llu, which no open handle has", caller.label,
                      static_cast<unsigned long long>(id));
        const MMRESULT result = injected(session, caller, failing);
        return result != MMSYSERR_NOERROR ? result
               : port >= d.ports.size()   ? MMRESULT(MMSYSERR_BADDEVICEID)
               : caps == nullptr          ? MMRESULT(MMSYSERR_INVALPARAM)
                                          : d.ports[port].caps;
    });
    if (r == MMSYSERR_NOERROR && port < d.ports.size() && caps != nullptr)
        fill_caps(d.ports[port], port, caps, size, held);
    session.log("%s(id=%llu, size=%u) -> %u%s", caller.label, static_cast<unsigned long long>(id),
                size, r, held || unheld_is_fault ? "" : " (no open handle of this port)");
    return r;
}

MMRESULT send_short(Session &session, Caller caller, std::uintptr_t handle, DWORD word)
{
    int port = -1;
    const MMRESULT r = session.call([&](Record &rec, bool failing) {
        const Holder *held = open_handle(rec, handle, caller.label);
        ++rec.counts.midi_sends;
        port = held != nullptr ? static_cast<int>(held->port) : -1;
        MMRESULT result = injected(session, caller, failing);
        if (result == MMSYSERR_NOERROR)
            result = held == nullptr ? MMRESULT(MMSYSERR_INVALHANDLE) : session.d().ports[held->port].send;
        if (result == MMSYSERR_NOERROR && held != nullptr)
            rec.received[held->port].add(message_bytes(word));
        return result;
    });
    session.log("%s(handle=0x%llx, port=%d, word=0x%08lx) -> %u", caller.label,
                static_cast<unsigned long long>(handle), port, static_cast<unsigned long>(word), r);
    return r;
}

MMRESULT reset_port(Session &session, Caller caller, std::uintptr_t handle)
{
    const MMRESULT r = session.call([&](Record &rec, bool failing) {
        const Holder *held = open_handle(rec, handle, caller.label);
        const MMRESULT result = injected(session, caller, failing);
        return result != MMSYSERR_NOERROR ? result
               : held == nullptr          ? MMRESULT(MMSYSERR_INVALHANDLE)
                                          : MMRESULT(MMSYSERR_NOERROR);
    });
    session.log("%s(handle=0x%llx) -> %u", caller.label, static_cast<unsigned long long>(handle), r);
    return r;
}

MMRESULT close_port(Session &session, Caller caller, std::uintptr_t handle)
{
    int port = -1;
    const MMRESULT r = session.call([&](Record &rec, bool failing) {
        const Holder *held = open_handle(rec, handle, caller.label);
        if (held == nullptr)
            return MMRESULT(MMSYSERR_INVALHANDLE);
        port = static_cast<int>(held->port);
        const MMRESULT result = injected(session, caller, failing);
        const MMRESULT status = result != MMSYSERR_NOERROR ? result : session.d().ports[held->port].close;
        rec.handles.remove(held->value);
        ++rec.counts.midi_closes;
        return status;
    });
    session.log("%s(handle=0x%llx, port=%d) -> %u", caller.label,
                static_cast<unsigned long long>(handle), port, r);
    return r;
}

} // namespace vperiph
