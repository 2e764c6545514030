// The MIDI output port calls that the stand-in winmm (midi_out.cpp, with
// WinMM's signatures) and the driver Wine's own winmm loads (midi_driver.cpp,
// as driver messages) share: the same ports, handles, record and faults.
// Each counts one call, logs one line "LABEL(arguments) -> result" and
// returns its result.
#ifndef VPERIPH_PORT_CALLS_H
#define VPERIPH_PORT_CALLS_H

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>

#include "session.h"

namespace vperiph {

// Who asks: the stand-in's WinMM function, which "fail N" can make fail with
// `usual` (its platform function's usual failure), or the driver, whose
// calls are never made to fail (0).
struct Caller {
    const char *label;
    MMRESULT usual;
};

// Opens port `port`: on success a new handle value is stored in *handle
// (null: MMSYSERR_INVALPARAM). callback, instance and flags are only logged.
MMRESULT open_port(Session &session, Caller caller, unsigned port, std::uintptr_t *handle,
                   std::uint64_t callback, std::uint64_t instance, unsigned long flags);

// A capability query for `id`, an open handle value or a port index. A query
// while the caller holds no handle of the port is a fault of the caller when
// unheld_is_fault; otherwise (Wine's MIDI mapper listing the ports as it
// starts, a host's own port list) the log line says so.
MMRESULT query_caps(Session &session, Caller caller, std::uintptr_t id, MIDIOUTCAPSW *caps,
                    UINT size, bool unheld_is_fault);

// A short message on an open handle; the bytes are recorded for its port.
MMRESULT send_short(Session &session, Caller caller, std::uintptr_t handle, DWORD word);

// Resets an open handle (nothing to record).
MMRESULT reset_port(Session &session, Caller caller, std::uintptr_t handle);

// Closes a handle. A failing close still releases it, so a caller that
// closes once is never counted as leaking.
MMRESULT close_port(Session &session, Caller caller, std::uintptr_t handle);

// A call's use of a port handle, as `c` records it: the live holder of
// `handle`, or null with the fault (a closed or unknown handle) in `c`.
const Holder *use_handle(const Record &r, Change &c, std::uintptr_t handle, const char *label);

} // namespace vperiph

#endif
