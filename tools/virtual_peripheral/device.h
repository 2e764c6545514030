// What the virtual device does with the messages it is sent, platform-free:
// which answer a message asks for, the replies waiting for their time, and
// the buffers a host added to an input port. Each is bounded, whatever a
// host or a description asks for.
#ifndef VPERIPH_DEVICE_H
#define VPERIPH_DEVICE_H

#include <cstddef>
#include <cstdint>
#include <deque>

#include "description.h"

namespace vperiph {

// The number of bytes a short message takes on the wire, from its status
// byte: FF (and the other system bytes but F1, F2, F3): one; Cn, Dn, F1, F3:
// two; the rest three. A data byte in the status position: three (the word
// is handed over whole).
std::size_t short_message_length(std::uint8_t status);

// The first answer of `d` that output port `out` gives for exactly these
// bytes, or -1.
int find_answer(const Description &d, unsigned out, const std::uint8_t *bytes, std::size_t size);

// Replies waiting for their time: at most kMostWaitingReplies; the earliest
// due first, and of those due at once, the first asked.
constexpr std::size_t kMostWaitingReplies = 256;

struct WaitingReply {
    std::uint64_t due;  // milliseconds, on the caller's clock
    unsigned answer;    // index into Description::answers
    std::uint64_t order;
};

class ReplyQueue {
public:
    // False when kMostWaitingReplies are waiting already.
    bool add(std::uint64_t due, unsigned answer);
    // Takes the earliest reply due at `now`; false when none is.
    bool take_due(std::uint64_t now, WaitingReply &out);
    // Whether any is waiting, and the time the earliest is due.
    bool next_due(std::uint64_t &due) const;
    std::size_t size() const { return waiting_.size(); }
    void clear() { waiting_.clear(); }

private:
    std::deque<WaitingReply> waiting_; // kept in the order they are to go
    std::uint64_t added_ = 0;
};

// The buffers a host added to an input port, in order, by their address: at
// most kMostQueuedBuffers.
constexpr std::size_t kMostQueuedBuffers = 4096;

class BufferQueue {
public:
    bool full() const { return buffers_.size() == kMostQueuedBuffers; }
    bool empty() const { return buffers_.empty(); }
    std::size_t size() const { return buffers_.size(); }
    void add(std::uintptr_t buffer) { buffers_.push_back(buffer); }
    bool holds(std::uintptr_t buffer) const;
    // The oldest, taken out.
    std::uintptr_t take();

private:
    std::deque<std::uintptr_t> buffers_;
};

} // namespace vperiph

#endif
