// The WinMM MIDI output functions vperiph.dll exports, with their real
// signatures: the ports of the description, every call logged, every byte
// sent kept, the client notified as the open asked. The stand-in winmm and
// vpwmm.dll forward to them. The port calls themselves are shared with the
// driver (port_calls.cpp).
#define _WINMM_
#include <windows.h>
#include <mmsystem.h>

#include "caller.h"
#include "exported.h"
#include "port_calls.h"

using namespace vperiph;

extern "C" {

UINT WINAPI midiOutGetNumDevs(void) { return port_count("midiOutGetNumDevs", false); }

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR dwCallback,
                            DWORD_PTR dwInstance, DWORD fdwOpen)
{
    const Opening how{false, uDeviceID, {dwCallback, callback_type(fdwOpen), 0, dwInstance},
                      fdwOpen, opener_at(__builtin_return_address(0))};
    return open_exported("midiOutOpen", how, phmo);
}

// Only the exported function answers this: Wine's winmm never asks a driver.
MMRESULT WINAPI midiOutGetID(HMIDIOUT hmo, LPUINT puDeviceID)
{
    return exported("midiOutGetID", [&](Session &session) {
        return port_of(session, {"midiOutGetID", MMSYSERR_NODRIVER}, value(hmo), puDeviceID, false);
    });
}

// The library asks only about a port it holds open, so a query of any other
// is its fault; a host's own program lists the ports before it opens one.
MMRESULT WINAPI midiOutGetDevCapsW(UINT_PTR uDeviceID, LPMIDIOUTCAPSW pmoc, UINT cbmoc)
{
    const bool library = opener_at(__builtin_return_address(0)) == Opener::library;
    return exported("midiOutGetDevCapsW", [&](Session &session) {
        return query_caps(session, {"midiOutGetDevCapsW", MMSYSERR_NODRIVER}, uDeviceID, pmoc,
                          cbmoc, library);
    });
}

// The same record with the name in the ANSI code page, as WinMM converts it.
MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR uDeviceID, LPMIDIOUTCAPSA pmoc, UINT cbmoc)
{
    const bool library = opener_at(__builtin_return_address(0)) == Opener::library;
    return exported("midiOutGetDevCapsA", [&](Session &session) {
        MIDIOUTCAPSW wide{};
        const MMRESULT r = query_caps(session, {"midiOutGetDevCapsA", MMSYSERR_NODRIVER}, uDeviceID,
                                      pmoc != nullptr ? &wide : nullptr, sizeof wide, library);
        if (r == MMSYSERR_NOERROR)
            copy_narrow(MIDIOUTCAPSA{wide.wMid, wide.wPid, wide.vDriverVersion, {},
                                     wide.wTechnology, wide.wVoices, wide.wNotes,
                                     wide.wChannelMask, wide.dwSupport},
                        wide, pmoc, cbmoc);
        return r;
    });
}

MMRESULT WINAPI midiOutShortMsg(HMIDIOUT hmo, DWORD dwMsg)
{
    return exported("midiOutShortMsg", [&](Session &session) {
        return send_short(session, {"midiOutShortMsg", MIDIERR_NOTREADY}, value(hmo), dwMsg);
    });
}

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh)
{
    return notifying("midiOutLongMsg", [&](Session &session, Notices &notices) {
        return send_long(session, notices, {"midiOutLongMsg", MIDIERR_NOTREADY}, value(hmo), pmh,
                         cbmh);
    });
}

MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh)
{
    return exported("midiOutPrepareHeader", [&](Session &session) {
        return prepare_header(session, {"midiOutPrepareHeader", MMSYSERR_NOMEM}, value(hmo), pmh,
                              cbmh, false, true);
    });
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh)
{
    return exported("midiOutUnprepareHeader", [&](Session &session) {
        return prepare_header(session, {"midiOutUnprepareHeader", MMSYSERR_NOMEM}, value(hmo), pmh,
                              cbmh, false, false);
    });
}

MMRESULT WINAPI midiOutGetVolume(HMIDIOUT hmo, LPDWORD pdwVolume)
{
    return exported("midiOutGetVolume", [&](Session &session) {
        return unsupported(session, {"midiOutGetVolume", MMSYSERR_NODRIVER},
                           Unsupported::get_volume, value(hmo), pdwVolume);
    });
}

MMRESULT WINAPI midiOutSetVolume(HMIDIOUT hmo, DWORD dwVolume)
{
    (void)dwVolume;
    return exported("midiOutSetVolume", [&](Session &session) {
        return unsupported(session, {"midiOutSetVolume", MMSYSERR_NODRIVER},
                           Unsupported::set_volume, value(hmo), nullptr);
    });
}

MMRESULT WINAPI midiOutCachePatches(HMIDIOUT hmo, UINT uBank, LPWORD pwpa, UINT fuCache)
{
    (void)uBank, (void)fuCache;
    return exported("midiOutCachePatches", [&](Session &session) {
        return unsupported(session, {"midiOutCachePatches", MMSYSERR_NODRIVER},
                           Unsupported::cache_patches, value(hmo), pwpa);
    });
}

MMRESULT WINAPI midiOutCacheDrumPatches(HMIDIOUT hmo, UINT uPatch, LPWORD pwkya, UINT fuCache)
{
    (void)uPatch, (void)fuCache;
    return exported("midiOutCacheDrumPatches", [&](Session &session) {
        return unsupported(session, {"midiOutCacheDrumPatches", MMSYSERR_NODRIVER},
                           Unsupported::cache_drum_patches, value(hmo), pwkya);
    });
}

MMRESULT WINAPI midiOutReset(HMIDIOUT hmo)
{
    return exported("midiOutReset", [&](Session &session) {
        return reset_port(session, {"midiOutReset", MMSYSERR_NODRIVER}, value(hmo));
    });
}

MMRESULT WINAPI midiOutClose(HMIDIOUT hmo)
{
    return notifying("midiOutClose", [&](Session &session, Notices &notices) {
        return close_port(session, notices, {"midiOutClose", MMSYSERR_NOMEM}, value(hmo), false);
    });
}

} // extern "C"
