// A call into the virtual peripheral: the description in use with its
// record (Loaded), and the Session every exported function runs under.
#ifndef VPERIPH_SESSION_H
#define VPERIPH_SESSION_H

#include <windows.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "description.h"
#include "device.h"
#include "notify.h"
#include "process.h"
#include "record.h"

namespace vperiph {

// A port handle as the device sees it, beyond the record: whom to notify, and
// an input port's buffers and start. Read and changed only under the lock.
struct OpenPort {
    bool input = false;
    unsigned port = 0;
    Client client;
    bool started = false;
    std::uint64_t started_at = 0; // GetTickCount64()
    BufferQueue buffers;
};

// A description in use, with everything recorded since it was loaded.
struct Loaded {
    Loaded(Description description, std::string from, std::string why);
    const Description d;
    const std::string source;  // where the description came from
    const std::string problem; // why it could not be used; empty when it was
    // What the driver Wine's winmm loads cannot present of it, decided as it
    // is loaded (midi_driver.h); empty when it can present all.
    const std::string driver_refusal;
    Record records[2]; // kept twice: see record.h
    std::atomic<int> published{0};
    Ring<Line, Keep::latest> log; // never read as the process ends
    // The members of each live set, by value, and the latest list made:
    // read only under the lock.
    std::map<std::uintptr_t, std::shared_ptr<const std::vector<std::uint32_t>>> members;
    std::shared_ptr<const std::vector<std::uint32_t>> latest_members;
    // The device's live state: its open port handles, and the replies
    // waiting for their time (replies.h). Read only under the lock.
    std::map<std::uintptr_t, OpenPort> opens;
    ReplyQueue replies;
};

// Makes the description the one in use, with a fresh record. Under the lock.
void install(std::unique_ptr<Loaded> next);

// Serialises every call (Wine may call from its own threads), loads the
// description on first use, and marks the call as in progress for a report
// written while it runs.
class Session {
public:
    // load: read the description first if none is in use yet (a load that
    // replaces it anyway passes false).
    explicit Session(const char *function, bool load = true);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // False when not even an empty description could be made (no memory):
    // the caller then fails as its platform function fails for lack of it.
    bool ok() const { return loaded_ != nullptr; }
    Loaded &loaded() { return *loaded_; }
    const Description &d() const { return loaded_->d; }
    // The record as it stands; between changes both copies are the same.
    const Record &record() const { return loaded_->records[loaded_->published.load()]; }

    // Whether the platform call about to be counted is the one the
    // description makes fail (fail N).
    bool failing() const { return d().fail_call != 0 && record().counts.calls + 1 == d().fail_call; }
    std::uint32_t injected_status(std::uint32_t usual) const
    {
        return d().fail_status_given ? d().fail_status : usual;
    }

    // Makes the change in both copies of the record, one after the other,
    // publishing the first before touching the second.
    void change(const Change &c)
    {
        Loaded &l = *loaded_;
        const int next = 1 - l.published.load();
        apply(l.records[next], c);
        l.published.store(next);
        apply(l.records[1 - next], c);
    }

    // A line of the call log.
    void log(const char *fmt, ...);

    // Makes `next` the description in use (see install) and goes on with it.
    void replace(std::unique_ptr<Loaded> next)
    {
        install(std::move(next));
        loaded_ = g_loaded.load();
    }

private:
    Loaded *loaded_ = nullptr;
};

// Runs an exported function's body; anything thrown becomes the function's
// failure, never an exception across the DLL's boundary.
template <typename R, typename F> R guarded(R failure, F f) noexcept
{
    try {
        return f();
    } catch (...) {
        return failure;
    }
}

// An exported function's body under its session: the function's failure
// when the peripheral cannot be used or anything is thrown.
template <typename R, typename F> R in_session(const char *function, R failure, F f) noexcept
{
    return guarded<R>(failure, [&]() -> R {
        Session session(function);
        return session.ok() ? R(f(session)) : failure;
    });
}

// The same for a call that may notify the port's client: `f` collects its
// notifications, which are sent once the lock is let go.
template <typename R, typename F> R in_session_notifying(const char *function, R failure, F f) noexcept
{
    Notices notices;
    const R r = in_session<R>(function, failure, [&](Session &session) { return f(session, notices); });
    guarded<int>(0, [&] {
        notices.send();
        return 0;
    });
    return r;
}

// A handle value as the call log and the faults write it.
inline unsigned long long value_of(const void *handle)
{
    return static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(handle));
}

} // namespace vperiph

#endif
