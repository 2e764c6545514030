// The WinMM MIDI input functions vperiph.dll exports, with their real
// signatures: the input ports of the description, buffers added and given
// back, the replies of its answers delivered (replies.h). The port calls
// are shared with the driver (port_calls.cpp).
#define _WINMM_
#include <windows.h>
#include <mmsystem.h>

#include "caller.h"
#include "exported.h"
#include "port_calls.h"

using namespace vperiph;

extern "C" {

UINT WINAPI midiInGetNumDevs(void) { return port_count("midiInGetNumDevs", true); }

MMRESULT WINAPI midiInGetDevCapsW(UINT_PTR uDeviceID, LPMIDIINCAPSW pmic, UINT cbmic)
{
    return exported("midiInGetDevCapsW", [&](Session &session) {
        return query_caps(session, {"midiInGetDevCapsW", MMSYSERR_NODRIVER}, uDeviceID, pmic, cbmic,
                          false, true);
    });
}

MMRESULT WINAPI midiInGetDevCapsA(UINT_PTR uDeviceID, LPMIDIINCAPSA pmic, UINT cbmic)
{
    return exported("midiInGetDevCapsA", [&](Session &session) {
        MIDIINCAPSW wide{};
        const MMRESULT r = query_caps(session, {"midiInGetDevCapsA", MMSYSERR_NODRIVER}, uDeviceID,
                                      pmic != nullptr ? &wide : nullptr, sizeof wide, false, true);
        if (r == MMSYSERR_NOERROR)
            copy_narrow(MIDIINCAPSA{wide.wMid, wide.wPid, wide.vDriverVersion, {}, wide.dwSupport},
                        wide, pmic, cbmic);
        return r;
    });
}

MMRESULT WINAPI midiInOpen(LPHMIDIIN phmi, UINT uDeviceID, DWORD_PTR dwCallback,
                           DWORD_PTR dwInstance, DWORD fdwOpen)
{
    const Opening how{true, uDeviceID, {dwCallback, callback_type(fdwOpen), 0, dwInstance}, fdwOpen,
                      opener_at(__builtin_return_address(0))};
    return open_exported("midiInOpen", how, phmi);
}

MMRESULT WINAPI midiInClose(HMIDIIN hmi)
{
    return notifying("midiInClose", [&](Session &session, Notices &notices) {
        return close_port(session, notices, {"midiInClose", MMSYSERR_NOMEM}, value(hmi), true);
    });
}

MMRESULT WINAPI midiInPrepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh)
{
    return exported("midiInPrepareHeader", [&](Session &session) {
        return prepare_header(session, {"midiInPrepareHeader", MMSYSERR_NOMEM}, value(hmi), pmh,
                              cbmh, true, true);
    });
}

MMRESULT WINAPI midiInUnprepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh)
{
    return exported("midiInUnprepareHeader", [&](Session &session) {
        return prepare_header(session, {"midiInUnprepareHeader", MMSYSERR_NOMEM}, value(hmi), pmh,
                              cbmh, true, false);
    });
}

MMRESULT WINAPI midiInAddBuffer(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh)
{
    return exported("midiInAddBuffer", [&](Session &session) {
        return add_buffer(session, {"midiInAddBuffer", MMSYSERR_NOMEM}, value(hmi), pmh, cbmh);
    });
}

MMRESULT WINAPI midiInStart(HMIDIIN hmi)
{
    return notifying("midiInStart", [&](Session &session, Notices &notices) {
        return control_input(session, notices, {"midiInStart", MMSYSERR_NODRIVER}, value(hmi),
                             InputControl::start);
    });
}

MMRESULT WINAPI midiInStop(HMIDIIN hmi)
{
    return notifying("midiInStop", [&](Session &session, Notices &notices) {
        return control_input(session, notices, {"midiInStop", MMSYSERR_NODRIVER}, value(hmi),
                             InputControl::stop);
    });
}

MMRESULT WINAPI midiInReset(HMIDIIN hmi)
{
    return notifying("midiInReset", [&](Session &session, Notices &notices) {
        return control_input(session, notices, {"midiInReset", MMSYSERR_NODRIVER}, value(hmi),
                             InputControl::reset);
    });
}

MMRESULT WINAPI midiInGetID(HMIDIIN hmi, LPUINT puDeviceID)
{
    return exported("midiInGetID", [&](Session &session) {
        return port_of(session, {"midiInGetID", MMSYSERR_NODRIVER}, value(hmi), puDeviceID, true);
    });
}

} // extern "C"
