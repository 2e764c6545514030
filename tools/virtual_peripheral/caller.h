// Who opens a port, for the report of a handle left open: the library (any
// tarnwick*.dll), or the host's own program, through Wine's winmm or
// redirected. Asked before a call takes the peripheral's lock: looking a
// module up takes the loader's lock.
#ifndef VPERIPH_CALLER_H
#define VPERIPH_CALLER_H

#include "record.h"

namespace vperiph {

// The opener whose code is at `address` (the return address of an exported
// function, called by the redirected library or program).
Opener opener_at(const void *address);

// For a call that reached the driver through Wine's winmm: the first module on
// the calling thread's stack that is none of the peripheral's, winmm's or the
// MIDI mapper's; unknown when the stack cannot be read that far.
Opener opener_through_winmm();

} // namespace vperiph

#endif
