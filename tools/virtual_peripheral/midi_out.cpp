// The stand-in WinMM MIDI output functions, with their real signatures: the
// ports of the description, every call logged, every byte sent kept. The
// port calls themselves are shared with the driver (port_calls.cpp).
#define _WINMM_
#define VPERIPH_BUILDING
#include <windows.h>
#include <mmsystem.h>

#include "port_calls.h"

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
    const MMRESULT injected = session.injected() ? session.injected_status(MMSYSERR_ALLOCATED) : 0;
    std::uintptr_t handle = 0;
    const MMRESULT r = open_port(session, "midiOutOpen", uDeviceID, phmo ? &handle : nullptr,
                                 dwCallback, dwInstance, fdwOpen, injected);
    if (r == MMSYSERR_NOERROR)
        *phmo = reinterpret_cast<HMIDIOUT>(handle);
    return r;
}

MMRESULT WINAPI midiOutGetID(HMIDIOUT hmo, LPUINT puDeviceID)
{
    Session session;
    const unsigned *port =
        open_handle(session, reinterpret_cast<std::uintptr_t>(hmo), "midiOutGetID");
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
    const MMRESULT injected = session.injected() ? session.injected_status(MMSYSERR_NODRIVER) : 0;
    return query_caps(session, "midiOutGetDevCapsW", uDeviceID, pmoc, cbmoc, true, injected);
}

MMRESULT WINAPI midiOutShortMsg(HMIDIOUT hmo, DWORD dwMsg)
{
    Session session;
    const MMRESULT injected = session.injected() ? session.injected_status(MIDIERR_NOTREADY) : 0;
    return send_short(session, "midiOutShortMsg", reinterpret_cast<std::uintptr_t>(hmo), dwMsg,
                      injected);
}

MMRESULT WINAPI midiOutReset(HMIDIOUT hmo)
{
    Session session;
    const unsigned *port =
        open_handle(session, reinterpret_cast<std::uintptr_t>(hmo), "midiOutReset");
    const MMRESULT r = session.injected() ? session.injected_status(MMSYSERR_NODRIVER)
                       : port == nullptr  ? MMSYSERR_INVALHANDLE
                                          : MMSYSERR_NOERROR;
    session.log(format("midiOutReset(handle=%p) -> %u", static_cast<void *>(hmo), r));
    return r;
}

MMRESULT WINAPI midiOutClose(HMIDIOUT hmo)
{
    Session session;
    const MMRESULT injected = session.injected() ? session.injected_status(MMSYSERR_NOMEM) : 0;
    return close_port(session, "midiOutClose", reinterpret_cast<std::uintptr_t>(hmo), injected);
}

} // extern "C"
