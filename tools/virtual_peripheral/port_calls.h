// The MIDI output port calls that the stand-in winmm (midi_out.cpp, with
// WinMM's signatures) and the driver Wine's own winmm loads (midi_driver.cpp,
// as driver messages) share: the same ports, handles, record and faults.
// Each logs one line "LABEL(arguments) -> result" and returns its result.
#ifndef VPERIPH_PORT_CALLS_H
#define VPERIPH_PORT_CALLS_H

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>

#include "state.h"

namespace vperiph {

// `injected`: the failure the description injects into this call (0: none),
// which the stand-in asks Session::injected() for; the driver never injects.

// Opens port `port`: on success a new handle value is stored in *handle.
// callback, instance and flags are only logged.
MMRESULT open_port(Session &session, const char *label, unsigned port, std::uintptr_t *handle,
                   std::uint64_t callback, std::uint64_t instance, unsigned long flags,
                   MMRESULT injected);

// A capability query for `id`, a port index or an open handle value. A query
// while no handle of the port is open is a fault of the caller when
// unheld_is_fault; otherwise (Wine's MIDI mapper listing the ports as it
// starts, a host's own port list) the log line says so.
MMRESULT query_caps(Session &session, const char *label, std::uintptr_t id, MIDIOUTCAPSW *caps,
                    UINT size, bool unheld_is_fault, MMRESULT injected);

// A short message on an open handle; the bytes are recorded for its port.
MMRESULT send_short(Session &session, const char *label, std::uintptr_t handle, DWORD word,
                    MMRESULT injected);

// Closes a handle. A failing close still releases it, so a caller that
// closes once is never counted as leaking.
MMRESULT close_port(Session &session, const char *label, std::uintptr_t handle,
                    MMRESULT injected);

// The port of an open handle, or null with the fault recorded.
const unsigned *open_handle(Session &session, std::uintptr_t handle, const char *label);

} // namespace vperiph

#endif
