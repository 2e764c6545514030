#include "device.h"

#include <algorithm>
#include <cstring>

namespace vperiph {

std::size_t short_message_length(std::uint8_t status)
{
    if ((status >= 0xC0 && status <= 0xDF) || status == 0xF1 || status == 0xF3)
        return 2;
    if (status >= 0xF0 && status != 0xF2)
        return 1;
    return 3;
}

int find_answer(const Description &d, unsigned out, const std::uint8_t *bytes, std::size_t size)
{
    for (std::size_t i = 0; i < d.answers.size(); ++i) {
        const Answer &a = d.answers[i];
        if (a.out == out && a.request.size() == size &&
            (size == 0 || std::memcmp(a.request.data(), bytes, size) == 0))
            return static_cast<int>(i);
    }
    return -1;
}

bool ReplyQueue::add(std::uint64_t due, unsigned answer)
{
    if (waiting_.size() == kMostWaitingReplies)
        return false;
    const WaitingReply w{due, answer, added_++};
    // After every one due no later: replies due at once go in the order asked.
    const auto at = std::upper_bound(waiting_.begin(), waiting_.end(), due,
                                     [](std::uint64_t d, const WaitingReply &r) { return d < r.due; });
    waiting_.insert(at, w);
    return true;
}

bool ReplyQueue::take_due(std::uint64_t now, WaitingReply &out)
{
    if (waiting_.empty() || waiting_.front().due > now)
        return false;
    out = waiting_.front();
    waiting_.pop_front();
    return true;
}

bool ReplyQueue::next_due(std::uint64_t &due) const
{
    if (waiting_.empty())
        return false;
    due = waiting_.front().due;
    return true;
}

bool BufferQueue::holds(std::uintptr_t buffer) const
{
    return std::find(buffers_.begin(), buffers_.end(), buffer) != buffers_.end();
}

std::uintptr_t BufferQueue::take()
{
    const std::uintptr_t b = buffers_.front();
    buffers_.pop_front();
    return b;
}

} // namespace vperiph
