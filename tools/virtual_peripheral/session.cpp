#include "session.h"

#include <cstdarg>

#include "description_file.h"
#include "midi_driver.h"
#include "report_file.h"

namespace vperiph {

Loaded::Loaded(Description description, std::string from, std::string why)
    : d(std::move(description)), source(std::move(from)), problem(std::move(why)),
      driver_refusal(driver_cannot_present(d)), records{Record(d), Record(d)},
      log(VP_KEPT_CALLS)
{
}

void install(std::unique_ptr<Loaded> next)
{
    // Handle values go on where they were: one handed out before is never
    // handed out again while a caller may still hold it.
    if (const Loaded *before = g_loaded.load()) {
        const Record &was = before->records[before->published.load()];
        for (Record &r : next->records) {
            r.port_handles.issued = was.port_handles.issued;
            r.set_handles.issued = was.set_handles.issued;
        }
    }
    delete g_loaded.exchange(next.release());
}

Session::Session(const char *function, bool load)
{
    EnterCriticalSection(&g_lock);
    g_call_thread.store(GetCurrentThreadId());
    g_call.store(function);
    loaded_ = g_loaded.load();
    if (loaded_ == nullptr && load) {
        reserve_report();
        try {
            Described described = describe_from_environment();
            install(std::make_unique<Loaded>(std::move(described.d), std::move(described.source),
                                             std::move(described.problem)));
        } catch (...) {
            // Too little memory even to read the description: present
            // nothing, and say why.
            try {
                install(std::make_unique<Loaded>(Description{}, "the description",
                                                 "there was not enough memory to read it"));
            } catch (...) {
            }
        }
        loaded_ = g_loaded.load();
    }
}

Session::~Session()
{
    const Loaded *now = g_loaded.load();
    if (now != nullptr) {
        const Record &r = now->records[now->published.load()];
        g_live.store(r.handles.items().size() + r.sets.items().size());
    }
    g_call.store(nullptr);
    LeaveCriticalSection(&g_lock);
}

void Session::log(const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    loaded_->log.add(make_line_v(fmt, args));
    va_end(args);
}

} // namespace vperiph
