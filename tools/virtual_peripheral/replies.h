// The device's own thread, which delivers the replies its answers give
// (device.h's ReplyQueue, kept in Loaded) when they are due: started on the
// first reply, woken by each; never waited for, and holding no lock as the
// process ends (the end stops it wherever it is, as any other thread).
#ifndef VPERIPH_REPLIES_H
#define VPERIPH_REPLIES_H

#include "session.h"

namespace vperiph {

// Queues the reply of answer `answer` (asked for by the call recording `c`,
// which notes a reply that cannot wait), due after the answer's after=, and
// wakes the thread. Under the lock.
void queue_reply(Session &session, Change &c, unsigned answer);

// Delivers the replies due now to the input ports' open handles: a short
// reply as MIM_DATA, a SysEx into the buffers added, in order (MIM_LONGDATA);
// what no handle could take is noted as lost. Returns the milliseconds until
// the next is due (INFINITE: none waits). Under the lock.
DWORD deliver_due_replies(Session &session, Notices &notices);

} // namespace vperiph

#endif
