// The stand-in WinMM MIDI output functions, with their real signatures: the
// ports of the description, every call logged, every byte sent kept.
#define _WINMM_
#define VPERIPH_BUILDING
#include <windows.h>
#include <mmsystem.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "state.h"

namespace vperiph {

namespace {

constexpr std::uint16_t kGarbage = 0xFDFD; // no key byte can equal it

// The open port handle `h`, counted as used by this call, or null with the
// fault recorded.
const Holder *open_handle(Record &r, HMIDIOUT h, const char *function)
{
    const auto value = reinterpret_cast<std::uintptr_t>(h);
    r.handles.used(value, r.counts.calls);
    const Holder *held = r.handles.find(value);
    if (held == nullptr)
        add_fault(r, "%s on %s handle 0x%llx", function,
                  r.port_handles.was_issued(value) ? "closed" : "unknown", value_of(h));
    return held;
}

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

void fill_caps(const Port &port, unsigned index, LPMIDIOUTCAPSW caps, UINT size)
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
    const size_t len = port.name.size();
    for (size_t i = 0; i < MAXPNAMELEN; ++i) {
        if (i < len)
            record.szPname[i] = static_cast<WCHAR>(port.name[i]);
        else if (i == len)
            record.szPname[i] = 0;
        else if (port.tail == NameTail::garbage)
            record.szPname[i] = static_cast<WCHAR>(kGarbage);
        else if (port.tail == NameTail::zero)
            record.szPname[i] = 0;
    }
    std::memcpy(caps, &record, n);
}

} // namespace

} // namespace vperiph

using namespace vperiph;

extern "C" {

UINT WINAPI midiOutGetNumDevs(void)
{
    return guarded<UINT>(0, [] {
        Session session("midiOutGetNumDevs");
        if (!session.ok())
            return 0u;
        const UINT n = session.call([&](Record &, bool failing) {
            return failing ? 0u : static_cast<UINT>(session.d().ports.size());
        });
        session.log("midiOutGetNumDevs() -> %u", n);
        return n;
    });
}

UINT WINAPI midiInGetNumDevs(void)
{
    return guarded<UINT>(0, [] {
        Session session("midiInGetNumDevs");
        if (!session.ok())
            return 0u;
        session.call([](Record &, bool) { return 0; });
        session.log("midiInGetNumDevs() -> 0");
        return 0u;
    });
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR dwCallback,
                            DWORD_PTR dwInstance, DWORD fdwOpen)
{
    return guarded<MMRESULT>(MMSYSERR_NOMEM, [&] {
        Session session("midiOutOpen");
        if (!session.ok())
            return MMRESULT(MMSYSERR_NOMEM);
        const Description &d = session.d();
        const DWORD thread = GetCurrentThreadId();
        std::uintptr_t h = 0;
        const MMRESULT r = session.call([&](Record &rec, bool failing) {
            MMRESULT result = failing                     ? session.injected_status(MMSYSERR_ALLOCATED)
                              : uDeviceID >= d.ports.size() ? MMRESULT(MMSYSERR_BADDEVICEID)
                              : phmo == nullptr             ? MMRESULT(MMSYSERR_INVALPARAM)
                                                            : d.ports[uDeviceID].open;
            if (result == MMSYSERR_NOERROR && rec.handles.full()) {
                add_fault(rec, "midiOutOpen with %u port handles open already",
                          static_cast<unsigned>(kMostOpenPorts));
                result = MMSYSERR_NOMEM;
            }
            if (result == MMSYSERR_NOERROR) {
                h = rec.port_handles.next(
                    [&](std::uintptr_t v) { return rec.handles.find(v) != nullptr; });
                rec.port_handles.take(h);
                rec.handles.add(Holder{h, uDeviceID, thread, false, rec.counts.calls});
                ++rec.counts.midi_opens;
            }
            return result;
        });
        char opened[32] = "";
        if (r == MMSYSERR_NOERROR) {
            *phmo = reinterpret_cast<HMIDIOUT>(h);
            std::snprintf(opened, sizeof opened, " handle=0x%llx", static_cast<unsigned long long>(h));
        }
        session.log("midiOutOpen(port=%u, callback=0x%llx, instance=0x%llx, flags=0x%lx) -> %u%s",
                    uDeviceID, static_cast<unsigned long long>(dwCallback),
                    static_cast<unsigned long long>(dwInstance), static_cast<unsigned long>(fdwOpen),
                    r, opened);
        return r;
    });
}

MMRESULT WINAPI midiOutGetID(HMIDIOUT hmo, LPUINT puDeviceID)
{
    return guarded<MMRESULT>(MMSYSERR_NOMEM, [&] {
        Session session("midiOutGetID");
        if (!session.ok())
            return MMRESULT(MMSYSERR_NOMEM);
        int port = -1;
        const MMRESULT r = session.call([&](Record &rec, bool failing) {
            const Holder *held = open_handle(rec, hmo, "midiOutGetID");
            port = held != nullptr ? static_cast<int>(held->port) : -1;
            return failing             ? session.injected_status(MMSYSERR_NODRIVER)
                   : held == nullptr    ? MMRESULT(MMSYSERR_INVALHANDLE)
                   : puDeviceID == nullptr ? MMRESULT(MMSYSERR_INVALPARAM)
                                         : session.d().ports[held->port].getid;
        });
        char id[24] = "";
        if (r == MMSYSERR_NOERROR && port >= 0) {
            *puDeviceID = static_cast<UINT>(port);
            std::snprintf(id, sizeof id, " id=%d", port);
        }
        session.log("midiOutGetID(handle=0x%llx, port=%d) -> %u%s", value_of(hmo), port, r, id);
        return r;
    });
}

MMRESULT WINAPI midiOutGetDevCapsW(UINT_PTR uDeviceID, LPMIDIOUTCAPSW pmoc, UINT cbmoc)
{
    return guarded<MMRESULT>(MMSYSERR_NOMEM, [&] {
        Session session("midiOutGetDevCapsW");
        if (!session.ok())
            return MMRESULT(MMSYSERR_NOMEM);
        const Description &d = session.d();
        const DWORD thread = GetCurrentThreadId();
        // An id beyond 32 bits is no port index (only a 64-bit host can pass one).
        unsigned port = uDeviceID <= UINT_MAX ? static_cast<unsigned>(uDeviceID) : UINT_MAX;
        const MMRESULT r = session.call([&](Record &rec, bool failing) {
            ++rec.counts.caps_queries;
            // Asked by handle, or (as the library asks) by the id of a port
            // the caller holds open.
            const Holder *by = rec.handles.find(uDeviceID);
            if (by != nullptr)
                port = by->port;
            else
                by = rec.handles.of_port(uDeviceID, thread);
            if (by == nullptr)
                add_fault(rec, "midiOutGetDevCapsW for id %llu, which no open handle has",
                          static_cast<unsigned long long>(uDeviceID));
            else
                rec.handles.used(by->value, rec.counts.calls);
            return failing               ? session.injected_status(MMSYSERR_NODRIVER)
                   : port >= d.ports.size() ? MMRESULT(MMSYSERR_BADDEVICEID)
                   : pmoc == nullptr        ? MMRESULT(MMSYSERR_INVALPARAM)
                                            : d.ports[port].caps;
        });
        if (r == MMSYSERR_NOERROR && port < d.ports.size() && pmoc != nullptr)
            fill_caps(d.ports[port], port, pmoc, cbmoc);
        session.log("midiOutGetDevCapsW(id=%llu, size=%u) -> %u",
                    static_cast<unsigned long long>(uDeviceID), cbmoc, r);
        return r;
    });
}

MMRESULT WINAPI midiOutShortMsg(HMIDIOUT hmo, DWORD dwMsg)
{
    return guarded<MMRESULT>(MMSYSERR_NOMEM, [&] {
        Session session("midiOutShortMsg");
        if (!session.ok())
            return MMRESULT(MMSYSERR_NOMEM);
        int port = -1;
        const MMRESULT r = session.call([&](Record &rec, bool failing) {
            const Holder *held = open_handle(rec, hmo, "midiOutShortMsg");
            ++rec.counts.midi_sends;
            port = held != nullptr ? static_cast<int>(held->port) : -1;
            const MMRESULT result = failing          ? session.injected_status(MIDIERR_NOTREADY)
                                    : held == nullptr ? MMRESULT(MMSYSERR_INVALHANDLE)
                                                      : session.d().ports[held->port].send;
            if (result == MMSYSERR_NOERROR && held != nullptr)
                rec.received[held->port].add(message_bytes(dwMsg));
            return result;
        });
        session.log("midiOutShortMsg(handle=0x%llx, port=%d, word=0x%08lx) -> %u", value_of(hmo),
                    port, static_cast<unsigned long>(dwMsg), r);
        return r;
    });
}

MMRESULT WINAPI midiOutReset(HMIDIOUT hmo)
{
    return guarded<MMRESULT>(MMSYSERR_NOMEM, [&] {
        Session session("midiOutReset");
        if (!session.ok())
            return MMRESULT(MMSYSERR_NOMEM);
        const MMRESULT r = session.call([&](Record &rec, bool failing) {
            const Holder *held = open_handle(rec, hmo, "midiOutReset");
            return failing          ? session.injected_status(MMSYSERR_NODRIVER)
                   : held == nullptr ? MMRESULT(MMSYSERR_INVALHANDLE)
                                     : MMRESULT(MMSYSERR_NOERROR);
        });
        session.log("midiOutReset(handle=0x%llx) -> %u", value_of(hmo), r);
        return r;
    });
}

MMRESULT WINAPI midiOutClose(HMIDIOUT hmo)
{
    return guarded<MMRESULT>(MMSYSERR_NOMEM, [&] {
        Session session("midiOutClose");
        if (!session.ok())
            return MMRESULT(MMSYSERR_NOMEM);
        int port = -1;
        const MMRESULT r = session.call([&](Record &rec, bool failing) {
            const Holder *held = open_handle(rec, hmo, "midiOutClose");
            if (held == nullptr)
                return MMRESULT(MMSYSERR_INVALHANDLE);
            port = static_cast<int>(held->port);
            // A failing close still releases the handle here, so a caller
            // that closes once is never counted as leaking.
            const MMRESULT result = failing ? session.injected_status(MMSYSERR_NOMEM)
                                            : session.d().ports[held->port].close;
            rec.handles.remove(held->value);
            ++rec.counts.midi_closes;
            return result;
        });
        session.log("midiOutClose(handle=0x%llx, port=%d) -> %u", value_of(hmo), port, r);
        return r;
    });
}

} // extern "C"
