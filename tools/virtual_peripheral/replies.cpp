#include "replies.h"

#include <mmsystem.h>

#include <atomic>
#include <cstring>

namespace vperiph {

namespace {

// Made with the thread, on the first reply, under the lock.
HANDLE g_wake = nullptr;
bool g_started = false;

DWORD WINAPI reply_thread(void *)
{
    for (;;) {
        DWORD wait = INFINITE;
        Notices notices;
        guarded<int>(0, [&] {
            Session session("the device's reply", false);
            if (session.ok())
                wait = deliver_due_replies(session, notices);
            return 0;
        });
        guarded<int>(0, [&] {
            notices.send();
            return 0;
        });
        WaitForSingleObject(g_wake, wait);
    }
}

// False when the thread could not be started: no reply waits then.
bool wake(Session &session, Change &c)
{
    if (!g_started) {
        g_wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        HANDLE thread = g_wake != nullptr ? CreateThread(nullptr, 0, reply_thread, nullptr, 0, nullptr)
                                          : nullptr;
        if (thread == nullptr) {
            session.loaded().replies.clear();
            c.noted = true;
            c.note = make_line("lost: a reply, as the device's thread could not be started");
            return false;
        }
        CloseHandle(thread);
        g_started = true;
    }
    SetEvent(g_wake);
    return true;
}

void note_lost(Session &session, Change &c, const Answer &a, const char *why)
{
    c.noted = true;
    c.note = make_line("lost: the reply of the answer on line %u to input port %u: %s", a.line,
                       a.in, why);
    session.log("reply(line %u, in=%u) lost: %s", a.line, a.in, why);
}

// One reply to one started handle: true when it took all of it.
bool deliver(OpenPort &p, const Answer &a, DWORD stamp, Notices &notices, std::size_t &taken)
{
    const std::vector<std::uint8_t> &bytes = a.reply;
    if (bytes[0] != 0xF0) {
        DWORD word = 0;
        for (std::size_t i = 0; i < bytes.size(); ++i)
            word |= static_cast<DWORD>(bytes[i]) << (8 * i);
        notices.add(p.client, MIM_DATA, word, stamp);
        taken = bytes.size();
        return true;
    }
    // A SysEx fills the buffers added, in order, as much as each holds.
    taken = 0;
    while (taken < bytes.size() && !p.buffers.empty()) {
        auto *header = reinterpret_cast<MIDIHDR *>(p.buffers.take());
        const std::size_t room = header->dwBufferLength;
        const std::size_t n = bytes.size() - taken < room ? bytes.size() - taken : room;
        std::memcpy(header->lpData, bytes.data() + taken, n);
        header->dwBytesRecorded = static_cast<DWORD>(n);
        header->dwFlags = (header->dwFlags & ~DWORD(MHDR_INQUEUE)) | MHDR_DONE;
        notices.add(p.client, MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), stamp);
        taken += n;
    }
    return taken == bytes.size();
}

} // namespace

void queue_reply(Session &session, Change &c, unsigned answer)
{
    const Answer &a = session.d().answers[answer];
    if (!session.loaded().replies.add(GetTickCount64() + a.after, answer)) {
        c.noted = true;
        c.note = make_line("lost: the reply of the answer on line %u: %u replies were waiting already",
                           a.line, static_cast<unsigned>(kMostWaitingReplies));
        return;
    }
    c.queued = wake(session, c);
}

DWORD deliver_due_replies(Session &session, Notices &notices)
{
    Loaded &l = session.loaded();
    const std::uint64_t now = GetTickCount64();
    WaitingReply w{};
    while (l.replies.take_due(now, w)) {
        const Answer &a = session.d().answers[w.answer];
        bool open = false, started = false, whole = false;
        std::size_t most = 0;
        for (auto &[handle, p] : l.opens) {
            if (!p.input || p.port != a.in)
                continue;
            open = true;
            if (!p.started)
                continue;
            started = true;
            std::size_t taken = 0;
            whole = deliver(p, a, static_cast<DWORD>(now - p.started_at), notices, taken) || whole;
            most = taken > most ? taken : most;
        }
        // Delivered or lost, in one change: the report as the process ends
        // counts it as waiting until then.
        Change c;
        c.settled = static_cast<int>(w.answer);
        if (most > 0) {
            c.delivered = true;
            c.port = a.in;
            if (a.reply[0] == 0xF0) {
                c.is_long = true;
                c.long_message.length = static_cast<std::uint32_t>(most);
                std::memcpy(c.long_message.head, a.reply.data(), most < kLongKept ? most : kLongKept);
            } else {
                c.message.size = static_cast<std::uint8_t>(a.reply.size());
                std::memcpy(c.message.bytes, a.reply.data(), a.reply.size());
            }
            session.log("reply(line %u, in=%u) -> %u bytes delivered", a.line, a.in,
                        static_cast<unsigned>(most));
        }
        if (!open)
            note_lost(session, c, a, "the port was not open");
        else if (!started)
            note_lost(session, c, a, "the port was not started (midiInStart)");
        else if (!whole)
            note_lost(session, c, a, most == 0 ? "no buffer was added (midiInAddBuffer)"
                                               : "the buffers added could not hold all of it");
        session.change(c);
    }
    std::uint64_t due = 0;
    if (!l.replies.next_due(due))
        return INFINITE;
    return due <= now ? 0 : static_cast<DWORD>(due - now);
}

} // namespace vperiph
