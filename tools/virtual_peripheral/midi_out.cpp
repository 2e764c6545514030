// The stand-in WinMM MIDI output functions, with their real signatures: the
// ports of the description, every call logged, every byte sent kept. The
// port calls themselves are shared with the driver (port_calls.cpp).
#define _WINMM_
#include <windows.h>
#include <mmsystem.h>

#include <cstdio>

#include "port_calls.h"

using namespace vperiph;

namespace {

// One stand-in function: its body under the session, anything thrown
// turned into the failure for want of memory.
template <typename F> MMRESULT standin(const char *function, F f)
{
    return in_session<MMRESULT>(function, MMSYSERR_NOMEM, f);
}

} // namespace

extern "C" {

UINT WINAPI midiOutGetNumDevs(void)
{
    return in_session<UINT>("midiOutGetNumDevs", 0, [](Session &session) {
        const UINT n = session.failing() ? 0u : static_cast<UINT>(session.d().ports.size());
        session.change(call_change());
        session.log("midiOutGetNumDevs() -> %u", n);
        return n;
    });
}

UINT WINAPI midiInGetNumDevs(void)
{
    return in_session<UINT>("midiInGetNumDevs", 0, [](Session &session) {
        session.change(call_change());
        session.log("midiInGetNumDevs() -> 0");
        return 0u;
    });
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR dwCallback,
                            DWORD_PTR dwInstance, DWORD fdwOpen)
{
    return standin("midiOutOpen", [&](Session &session) {
        std::uintptr_t handle = 0;
        const MMRESULT r =
            open_port(session, {"midiOutOpen", MMSYSERR_ALLOCATED}, uDeviceID,
                      phmo != nullptr ? &handle : nullptr, dwCallback, dwInstance, fdwOpen);
        if (r == MMSYSERR_NOERROR)
            *phmo = reinterpret_cast<HMIDIOUT>(handle);
        return r;
    });
}

// Only the stand-in answers this: Wine's winmm never asks a driver.
MMRESULT WINAPI midiOutGetID(HMIDIOUT hmo, LPUINT puDeviceID)
{
    return standin("midiOutGetID", [&](Session &session) {
        Change c = call_change();
        const Holder *held = use_handle(session.record(), c,
                                        reinterpret_cast<std::uintptr_t>(hmo), "midiOutGetID");
        const int port = held != nullptr ? static_cast<int>(held->port) : -1;
        const MMRESULT r = session.failing()     ? session.injected_status(MMSYSERR_NODRIVER)
                           : held == nullptr       ? MMRESULT(MMSYSERR_INVALHANDLE)
                           : puDeviceID == nullptr ? MMRESULT(MMSYSERR_INVALPARAM)
                                                   : session.d().ports[held->port].getid;
        session.change(c);
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
    return standin("midiOutGetDevCapsW", [&](Session &session) {
        return query_caps(session, {"midiOutGetDevCapsW", MMSYSERR_NODRIVER}, uDeviceID, pmoc,
                          cbmoc, true);
    });
}

MMRESULT WINAPI midiOutShortMsg(HMIDIOUT hmo, DWORD dwMsg)
{
    return standin("midiOutShortMsg", [&](Session &session) {
        return send_short(session, {"midiOutShortMsg", MIDIERR_NOTREADY},
                          reinterpret_cast<std::uintptr_t>(hmo), dwMsg);
    });
}

MMRESULT WINAPI midiOutReset(HMIDIOUT hmo)
{
    return standin("midiOutReset", [&](Session &session) {
        return reset_port(session, {"midiOutReset", MMSYSERR_NODRIVER},
                          reinterpret_cast<std::uintptr_t>(hmo));
    });
}

MMRESULT WINAPI midiOutClose(HMIDIOUT hmo)
{
    return standin("midiOutClose", [&](Session &session) {
        return close_port(session, {"midiOutClose", MMSYSERR_NOMEM},
                          reinterpret_cast<std::uintptr_t>(hmo));
    });
}

} // extern "C"
