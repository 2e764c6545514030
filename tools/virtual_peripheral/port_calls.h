// The MIDI port calls that the WinMM functions vperiph.dll exports
// (midi_out.cpp and midi_in.cpp, with WinMM's signatures) and the driver
// Wine's own winmm loads (midi_driver.cpp, as driver messages) share: the
// same ports, handles, record, faults and notifications. Each counts one
// call, logs one line "LABEL(arguments) -> result" and returns its result;
// what it has to tell the port's client it adds to `notices`, sent once the
// lock is let go.
#ifndef VPERIPH_PORT_CALLS_H
#define VPERIPH_PORT_CALLS_H

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>

#include "session.h"

namespace vperiph {

// Who asks: an exported WinMM function, which "fail N" can make fail with
// `usual` (its platform function's usual failure), or the driver, whose
// calls are never made to fail (0).
struct Caller {
    const char *label;
    MMRESULT usual;
};

// How a port is opened. `client` gives the callback, its DCB_ type, and
// instance; its handle is what notifications name (the driver: winmm's
// handle; 0: the new handle value itself).
struct Opening {
    bool input;
    unsigned port;
    Client client;
    unsigned long flags; // as given, for the log
    Opener opener;
};

// Opens output or input port `how.port`: on success a new handle value is
// stored in *handle (null: MMSYSERR_INVALPARAM) and the client gets MOM_OPEN
// or MIM_OPEN. A port held open already refuses with MMSYSERR_ALLOCATED
// unless its line says clients=many.
MMRESULT open_port(Session &session, Notices &notices, Caller caller, const Opening &how,
                   std::uintptr_t *handle);

// Closes a handle (MOM_CLOSE or MIM_CLOSE). A failing close still releases
// it, so a caller that closes once is never counted as leaking. An input
// handle with buffers still added answers MIDIERR_STILLPLAYING and stays
// open, unless freed_anyway (Wine's winmm, which frees its handle whatever
// the driver answers): then its buffers are given back done (MIM_LONGDATA)
// and it is closed all the same, the report saying so.
MMRESULT close_port(Session &session, Notices &notices, Caller caller, std::uintptr_t handle,
                    bool input, bool freed_anyway = false);

// A capability query for `id`, an open handle value or a port index, of an
// output port (caps a MIDIOUTCAPSW) or an input port (a MIDIINCAPSW). A
// query while the caller holds no handle of the port is a fault of the
// caller when unheld_is_fault; otherwise (Wine's MIDI mapper listing the
// ports as it starts, a host's own port list) the log line says so.
MMRESULT query_caps(Session &session, Caller caller, std::uintptr_t id, void *caps, UINT size,
                    bool unheld_is_fault, bool input = false);

// A short message on an open output handle; the bytes are recorded for its
// port, and an answer they ask for is queued.
MMRESULT send_short(Session &session, Caller caller, std::uintptr_t handle, DWORD word);

// A long message (midiOutLongMsg, MODM_LONGDATA) from a prepared header: its
// bytes recorded, the header done, MOM_DONE sent.
MMRESULT send_long(Session &session, Notices &notices, Caller caller, std::uintptr_t handle,
                   MIDIHDR *header, UINT size);

// Prepares or unprepares a header for an output or input handle.
MMRESULT prepare_header(Session &session, Caller caller, std::uintptr_t handle, MIDIHDR *header,
                        UINT size, bool input, bool prepare);

// Resets an open output handle (nothing is pending: long messages are done
// as they are sent).
MMRESULT reset_port(Session &session, Caller caller, std::uintptr_t handle);

// What an external MIDI port does not do (volume, patch caching), with the
// checks a driver makes before saying so: `id` a handle or a port index;
// `pointer` the one the call takes (GETVOLUME: null is MMSYSERR_INVALPARAM).
enum class Unsupported { get_volume, set_volume, cache_patches, cache_drum_patches };
MMRESULT unsupported(Session &session, Caller caller, Unsupported what, std::uintptr_t id,
                     const void *pointer);

// The input calls: a buffer added (MHDR_INQUEUE), start, stop, reset
// (every buffer returned done with 0 bytes, MIM_LONGDATA).
MMRESULT add_buffer(Session &session, Caller caller, std::uintptr_t handle, MIDIHDR *header,
                    UINT size);
enum class InputControl { start, stop, reset };
MMRESULT control_input(Session &session, Notices &notices, Caller caller, std::uintptr_t handle,
                       InputControl what);

// The port index of an open handle (midiOutGetID, midiInGetID).
MMRESULT port_of(Session &session, Caller caller, std::uintptr_t handle, UINT *id, bool input);

// A call's use of a port handle, as `c` records it: the live holder of
// `handle`, or null with the fault (a closed or unknown handle) in `c`.
const Holder *use_handle(const Record &r, Change &c, std::uintptr_t handle, const char *label);

} // namespace vperiph

#endif
