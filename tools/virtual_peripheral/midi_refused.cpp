// The WinMM MIDI functions the redirected door refuses: streams, MIDI thru
// and driver messages. Forwarded to the system's winmm they would take the
// peripheral's port ids and handles for the system's own ports (a stream
// opened on id 0 would play on the system's first synthesizer), so they are
// answered here, logged like every call, and never reach any port. A stream
// is never opened through this door, so every stream handle is one it does
// not know.
#define _WINMM_
#include <windows.h>
#include <mmsystem.h>

#include <cstdio>

#include "session.h"

using namespace vperiph;

namespace {

// Counts and logs one refused call: "NAME(ARGUMENTS) -> RESULT (refused ...)".
MMRESULT refuse(const char *function, const char *arguments, unsigned long long value,
                MMRESULT result, const char *more = "")
{
    return in_session<MMRESULT>(function, result, [&](Session &session) {
        session.change(call_change());
        session.log("%s(%s=0x%llx%s) -> %u (refused: not presented through this door)",
                    function, arguments, value, more, result);
        return result;
    });
}

MMRESULT refuse_message(const char *function, const void *handle, UINT message)
{
    char more[32];
    std::snprintf(more, sizeof more, ", message=0x%x", message);
    return refuse(function, "handle", value_of(handle), MMSYSERR_NOTSUPPORTED, more);
}

MMRESULT unknown_stream(const char *function, HMIDISTRM stream)
{
    return refuse(function, "stream", value_of(stream), MMSYSERR_INVALHANDLE);
}

} // namespace

extern "C" {

MMRESULT WINAPI midiStreamOpen(LPHMIDISTRM, LPUINT puDeviceID, DWORD, DWORD_PTR, DWORD_PTR,
                               DWORD)
{
    return refuse("midiStreamOpen", "device",
                  puDeviceID != nullptr ? *puDeviceID : 0xFFFFFFFFull, MMSYSERR_NOTSUPPORTED);
}

MMRESULT WINAPI midiStreamClose(HMIDISTRM hms) { return unknown_stream("midiStreamClose", hms); }

MMRESULT WINAPI midiStreamOut(HMIDISTRM hms, LPMIDIHDR, UINT)
{
    return unknown_stream("midiStreamOut", hms);
}

MMRESULT WINAPI midiStreamPause(HMIDISTRM hms) { return unknown_stream("midiStreamPause", hms); }

MMRESULT WINAPI midiStreamRestart(HMIDISTRM hms)
{
    return unknown_stream("midiStreamRestart", hms);
}

MMRESULT WINAPI midiStreamStop(HMIDISTRM hms) { return unknown_stream("midiStreamStop", hms); }

MMRESULT WINAPI midiStreamPosition(HMIDISTRM hms, LPMMTIME, UINT)
{
    return unknown_stream("midiStreamPosition", hms);
}

MMRESULT WINAPI midiStreamProperty(HMIDISTRM hms, LPBYTE, DWORD)
{
    return unknown_stream("midiStreamProperty", hms);
}

MMRESULT WINAPI midiConnect(HMIDI hmi, HMIDIOUT, LPVOID)
{
    return refuse("midiConnect", "handle", value_of(hmi), MMSYSERR_NOTSUPPORTED);
}

MMRESULT WINAPI midiDisconnect(HMIDI hmi, HMIDIOUT, LPVOID)
{
    return refuse("midiDisconnect", "handle", value_of(hmi), MMSYSERR_NOTSUPPORTED);
}

MMRESULT WINAPI midiOutMessage(HMIDIOUT hmo, UINT uMsg, DWORD_PTR, DWORD_PTR)
{
    return refuse_message("midiOutMessage", hmo, uMsg);
}

MMRESULT WINAPI midiInMessage(HMIDIIN hmi, UINT uMsg, DWORD_PTR, DWORD_PTR)
{
    return refuse_message("midiInMessage", hmi, uMsg);
}

} // extern "C"
