#define VPERIPH_BUILDING
#include "port_calls.h"

#include <cstring>

namespace vperiph {

namespace {

constexpr std::uint16_t kGarbage = 0xFDFD; // no key byte can equal it

// Bytes a device sees for a short message: the status byte decides the
// length; a data byte in the status position is handed over with both others.
std::vector<std::uint8_t> message_bytes(DWORD word)
{
    const std::uint8_t status = word & 0xFF;
    std::size_t length = 3;
    if (status >= 0xC0 && status <= 0xDF)
        length = 2;
    else if (status == 0xF1 || status == 0xF3)
        length = 2;
    else if (status == 0xF2)
        length = 3;
    else if (status >= 0xF0)
        length = 1;
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < length; ++i)
        bytes.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
    return bytes;
}

// held: a handle of the port is open. Wine's MIDI mapper copies each name
// with lstrcpyW as it starts, with no port open: a name without terminator
// is written only to a query made while the port is open.
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

} // namespace

const unsigned *open_handle(Session &session, std::uintptr_t handle, const char *label)
{
    const State &s = session.s();
    const auto it = s.handles.find(handle);
    if (it != s.handles.end())
        return &it->second;
    session.fault(format("%s on %s handle %p", label,
                         was_issued(handle, kFirstMidiHandle, s.next_handle) ? "closed" : "unknown",
                         reinterpret_cast<void *>(handle)));
    return nullptr;
}

MMRESULT open_port(Session &session, const char *label, unsigned port, std::uintptr_t *handle,
                   std::uint64_t callback, std::uint64_t instance, unsigned long flags,
                   MMRESULT injected)
{
    State &s = session.s();
    MMRESULT r = MMSYSERR_NOERROR;
    if (injected != MMSYSERR_NOERROR)
        r = injected;
    else if (port >= s.d.ports.size())
        r = MMSYSERR_BADDEVICEID;
    else if (handle == nullptr)
        r = MMSYSERR_INVALPARAM;
    else
        r = s.d.ports[port].open;
    std::string opened;
    if (r == MMSYSERR_NOERROR) {
        const std::uintptr_t h = s.next_handle++;
        s.handles[h] = port;
        *handle = h;
        ++s.counters.midi_opens;
        opened = format(" handle=%p", reinterpret_cast<void *>(h));
    }
    session.log(format("%s(port=%u, callback=0x%llx, instance=0x%llx, flags=0x%lx) -> %u%s", label,
                       port, static_cast<unsigned long long>(callback),
                       static_cast<unsigned long long>(instance), flags, r, opened.c_str()));
    return r;
}

MMRESULT query_caps(Session &session, const char *label, std::uintptr_t id, MIDIOUTCAPSW *caps,
                    UINT size, bool unheld_is_fault, MMRESULT injected)
{
    State &s = session.s();
    ++s.counters.caps_queries;
    unsigned port = static_cast<unsigned>(id);
    const auto by_handle = s.handles.find(id);
    if (by_handle != s.handles.end())
        port = by_handle->second;
    bool held = false;
    for (const auto &h : s.handles)
        held = held || h.second == port;
    if (!held && unheld_is_fault)
        session.fault(format("%s for id %llu, which no open handle has", label,
                             static_cast<unsigned long long>(id)));
    MMRESULT r = MMSYSERR_NOERROR;
    if (injected != MMSYSERR_NOERROR)
        r = injected;
    else if (port >= s.d.ports.size())
        r = MMSYSERR_BADDEVICEID;
    else if (caps == nullptr)
        r = MMSYSERR_INVALPARAM;
    else
        r = s.d.ports[port].caps;
    if (r == MMSYSERR_NOERROR && port < s.d.ports.size() && caps != nullptr)
        fill_caps(s.d.ports[port], port, caps, size, held);
    session.log(format("%s(id=%llu, size=%u) -> %u%s", label, static_cast<unsigned long long>(id),
                       size, r, held || unheld_is_fault ? "" : " (no open handle of this port)"));
    return r;
}

MMRESULT send_short(Session &session, const char *label, std::uintptr_t handle, DWORD word,
                    MMRESULT injected)
{
    State &s = session.s();
    const unsigned *port = open_handle(session, handle, label);
    ++s.counters.midi_sends;
    MMRESULT r = MMSYSERR_NOERROR;
    if (injected != MMSYSERR_NOERROR)
        r = injected;
    else if (port == nullptr)
        r = MMSYSERR_INVALHANDLE;
    else
        r = s.d.ports[*port].send;
    if (r == MMSYSERR_NOERROR && port != nullptr)
        s.received[*port].add(message_bytes(word));
    session.log(format("%s(handle=%p, port=%d, word=0x%08lx) -> %u", label,
                       reinterpret_cast<void *>(handle), port ? static_cast<int>(*port) : -1,
                       static_cast<unsigned long>(word), r));
    return r;
}

MMRESULT close_port(Session &session, const char *label, std::uintptr_t handle, MMRESULT injected)
{
    State &s = session.s();
    const unsigned *open = open_handle(session, handle, label);
    const int port = open ? static_cast<int>(*open) : -1;
    MMRESULT r = MMSYSERR_INVALHANDLE;
    if (open != nullptr) {
        r = s.d.ports[*open].close;
        s.handles.erase(handle);
        ++s.counters.midi_closes;
        if (injected != MMSYSERR_NOERROR)
            r = injected;
    }
    session.log(format("%s(handle=%p, port=%d) -> %u", label, reinterpret_cast<void *>(handle),
                       port, r));
    return r;
}

} // namespace vperiph
