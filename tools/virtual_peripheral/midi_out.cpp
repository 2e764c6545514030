// The stand-in WinMM MIDI output functions, with their real signatures: the
// ports of the description, every call logged, every byte sent kept.
#define _WINMM_
#define VPERIPH_BUILDING
#include <windows.h>
#include <mmsystem.h>

#include <cstring>

#include "state.h"

namespace vperiph {

namespace {

constexpr std::uint16_t kGarbage = 0xFDFD; // no key byte can equal it

// The port of an open handle, or null with the fault recorded.
const unsigned *open_handle(Session &session, HMIDIOUT h, const char *function)
{
    const State &s = session.s();
    const auto value = reinterpret_cast<std::uintptr_t>(h);
    const auto it = s.handles.find(value);
    if (it != s.handles.end())
        return &it->second;
    session.fault(format("%s on %s handle %p", function,
                         was_issued(value, kFirstMidiHandle, s.next_handle) ? "closed" : "unknown",
                         static_cast<void *>(h)));
    return nullptr;
}

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
    Session session;
    const bool fail = session.injected();
    const UINT n = fail ? 0 : static_cast<UINT>(session.s().d.ports.size());
    session.log(format("midiOutGetNumDevs() -> %u", n));
    return n;
}

UINT WINAPI midiInGetNumDevs(void)
{
    Session session;
    session.injected();
    session.log("midiInGetNumDevs() -> 0");
    return 0;
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR dwCallback,
                            DWORD_PTR dwInstance, DWORD fdwOpen)
{
    Session session;
    State &s = session.s();
    MMRESULT r = MMSYSERR_NOERROR;
    if (session.injected())
        r = session.injected_status(MMSYSERR_ALLOCATED);
    else if (uDeviceID >= s.d.ports.size())
        r = MMSYSERR_BADDEVICEID;
    else if (phmo == nullptr)
        r = MMSYSERR_INVALPARAM;
    else
        r = s.d.ports[uDeviceID].open;
    std::string opened;
    if (r == MMSYSERR_NOERROR) {
        const std::uintptr_t h = s.next_handle++;
        s.handles[h] = uDeviceID;
        *phmo = reinterpret_cast<HMIDIOUT>(h);
        ++s.counters.midi_opens;
        opened = format(" handle=%p", reinterpret_cast<void *>(h));
    }
    session.log(format("midiOutOpen(port=%u, callback=0x%llx, instance=0x%llx, flags=0x%lx) -> %u%s",
                       uDeviceID, static_cast<unsigned long long>(dwCallback),
                       static_cast<unsigned long long>(dwInstance),
                       static_cast<unsigned long>(fdwOpen), r, opened.c_str()));
    return r;
}

MMRESULT WINAPI midiOutGetID(HMIDIOUT hmo, LPUINT puDeviceID)
{
    Session session;
    const unsigned *port = open_handle(session, hmo, "midiOutGetID");
    MMRESULT r = MMSYSERR_NOERROR;
    if (session.injected())
        r = session.injected_status(MMSYSERR_NODRIVER);
    else if (port == nullptr)
        r = MMSYSERR_INVALHANDLE;
    else if (puDeviceID == nullptr)
        r = MMSYSERR_INVALPARAM;
    else
        r = session.s().d.ports[*port].getid;
    if (r == MMSYSERR_NOERROR && port != nullptr)
        *puDeviceID = *port;
    session.log(format("midiOutGetID(handle=%p, port=%d) -> %u%s", static_cast<void *>(hmo),
                       port ? static_cast<int>(*port) : -1, r,
                       r == MMSYSERR_NOERROR && port ? format(" id=%u", *port).c_str() : ""));
    return r;
}

MMRESULT WINAPI midiOutGetDevCapsW(UINT_PTR uDeviceID, LPMIDIOUTCAPSW pmoc, UINT cbmoc)
{
    Session session;
    State &s = session.s();
    ++s.counters.caps_queries;
    bool held = false;
    for (const auto &h : s.handles)
        held = held || h.second == uDeviceID || h.first == uDeviceID;
    if (!held)
        session.fault(format("midiOutGetDevCapsW for id %llu, which no open handle has",
                             static_cast<unsigned long long>(uDeviceID)));
    unsigned port = static_cast<unsigned>(uDeviceID);
    const auto by_handle = s.handles.find(uDeviceID);
    if (by_handle != s.handles.end())
        port = by_handle->second;
    MMRESULT r = MMSYSERR_NOERROR;
    if (session.injected())
        r = session.injected_status(MMSYSERR_NODRIVER);
    else if (port >= s.d.ports.size())
        r = MMSYSERR_BADDEVICEID;
    else if (pmoc == nullptr)
        r = MMSYSERR_INVALPARAM;
    else
        r = s.d.ports[port].caps;
    if (r == MMSYSERR_NOERROR && port < s.d.ports.size() && pmoc != nullptr)
        fill_caps(s.d.ports[port], port, pmoc, cbmoc);
    session.log(format("midiOutGetDevCapsW(id=%llu, size=%u) -> %u",
                       static_cast<unsigned long long>(uDeviceID), cbmoc, r));
    return r;
}

MMRESULT WINAPI midiOutShortMsg(HMIDIOUT hmo, DWORD dwMsg)
{
    Session session;
    State &s = session.s();
    const unsigned *port = open_handle(session, hmo, "midiOutShortMsg");
    ++s.counters.midi_sends;
    MMRESULT r = MMSYSERR_NOERROR;
    if (session.injected())
        r = session.injected_status(MIDIERR_NOTREADY);
    else if (port == nullptr)
        r = MMSYSERR_INVALHANDLE;
    else
        r = s.d.ports[*port].send;
    if (r == MMSYSERR_NOERROR && port != nullptr)
        s.received[*port].add(message_bytes(dwMsg));
    session.log(format("midiOutShortMsg(handle=%p, port=%d, word=0x%08lx) -> %u",
                       static_cast<void *>(hmo), port ? static_cast<int>(*port) : -1,
                       static_cast<unsigned long>(dwMsg), r));
    return r;
}

MMRESULT WINAPI midiOutReset(HMIDIOUT hmo)
{
    Session session;
    const unsigned *port = open_handle(session, hmo, "midiOutReset");
    const MMRESULT r = session.injected() ? session.injected_status(MMSYSERR_NODRIVER)
                       : port == nullptr  ? MMSYSERR_INVALHANDLE
                                          : MMSYSERR_NOERROR;
    session.log(format("midiOutReset(handle=%p) -> %u", static_cast<void *>(hmo), r));
    return r;
}

MMRESULT WINAPI midiOutClose(HMIDIOUT hmo)
{
    Session session;
    State &s = session.s();
    const unsigned *open = open_handle(session, hmo, "midiOutClose");
    const int port = open ? static_cast<int>(*open) : -1;
    MMRESULT r = MMSYSERR_INVALHANDLE;
    if (open != nullptr) {
        r = s.d.ports[*open].close;
        // A failing close still releases the handle here, so a caller that
        // closes once is never counted as leaking.
        s.handles.erase(reinterpret_cast<std::uintptr_t>(hmo));
        ++s.counters.midi_closes;
        if (session.injected())
            r = session.injected_status(MMSYSERR_NOMEM);
    } else {
        session.injected();
    }
    session.log(format("midiOutClose(handle=%p, port=%d) -> %u", static_cast<void *>(hmo), port,
                       r));
    return r;
}

} // extern "C"
