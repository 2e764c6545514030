// The control interface (vperiph.h): every vp_* function, in one place.
// Each is a thin door onto the file that does the work: the description and
// its record (session.h), the report's text (report.h), the registration for
// Wine's setupapi (usb_registration.h) and the driver selection for Wine's
// winmm (driver_selection.h).
#define VPERIPH_BUILDING
#include <climits>
#include <cstring>

#include "description_file.h"
#include "driver_selection.h"
#include "report.h"
#include "report_file.h"
#include "text.h"
#include "usb_registration.h"

using namespace vperiph;

namespace {

// Runs a reader under the lock; a reader that cannot get its memory gets
// nothing rather than an exception across the DLL's boundary.
template <typename R, typename F> R read(R failure, F f)
{
    return in_session<R>("a record reader", failure, f);
}

unsigned saturated(std::uint64_t v)
{
    return v > UINT_MAX ? UINT_MAX : static_cast<unsigned>(v);
}

// What a call that could not get its memory says, without asking for more.
int out_of_memory(char *error, size_t error_size)
{
    static const char message[] = "not enough memory";
    if (error != nullptr && error_size > 0)
        lstrcpynA(error, message,
                  static_cast<int>(error_size < sizeof message ? error_size : sizeof message));
    return -1;
}

// A registry call's body, given the message to fill; its message is copied
// out, and anything thrown becomes the failure for want of memory, told
// without asking for more.
template <typename F> int registry_call(char *error, size_t error_size, F f)
{
    const int r = guarded(-2, [&] {
        std::string message;
        const int result = f(message);
        copy_out(message, error, error_size);
        return result;
    });
    return r == -2 ? out_of_memory(error, error_size) : r;
}

} // namespace

extern "C" {

int VPERIPH_CALL vp_load(const char *description, char *error, size_t error_size)
{
    try {
        Description d;
        std::string message;
        if (description == nullptr || !parse_description(description, d, message)) {
            copy_out(description == nullptr ? "no description" : message, error, error_size);
            return -1;
        }
        auto next = std::make_unique<Loaded>(std::move(d), "given by vp_load", std::string());
        Session session("vp_load", false);
        reserve_report();
        session.replace(std::move(next));
        copy_out("", error, error_size);
        return 0;
    } catch (...) {
        copy_out("not enough memory for this description", error, error_size);
        return -1;
    }
}

void VPERIPH_CALL vp_clear(void)
{
    try {
        Session session("vp_clear");
        if (session.ok())
            session.replace(std::make_unique<Loaded>(
                Description(session.d()), session.loaded().source, session.loaded().problem));
    } catch (...) {
        // The record stays as it was.
    }
}

size_t VPERIPH_CALL vp_calls(char *buffer, size_t size)
{
    return read<size_t>(copy_out("", buffer, size), [&](Session &session) {
        const auto &log = session.loaded().log;
        std::string text;
        if (log.dropped() > 0)
            text = format("(%llu earlier calls not kept)\n",
                          static_cast<unsigned long long>(log.dropped()));
        for (std::size_t i = 0; i < log.size(); ++i)
            (text += log[i].text) += "\n";
        return copy_out(text, buffer, size);
    });
}

namespace {

// The bytes of a port's kept messages: a long one's first kLongKept.
size_t message_bytes(const Record &r, const std::vector<Ring<Message, Keep::latest>> &ports,
                     unsigned port, unsigned char *buffer, size_t size)
{
    std::vector<std::uint8_t> bytes;
    if (port < ports.size())
        for (std::size_t m = 0; m < ports[port].size(); ++m) {
            const Message &message = ports[port][m];
            if (message.size != 0) {
                bytes.insert(bytes.end(), message.bytes, message.bytes + message.size);
            } else if (const LongMessage *l = long_message_of(r, message)) {
                const std::size_t n = l->length < kLongKept ? l->length : kLongKept;
                bytes.insert(bytes.end(), l->head, l->head + n);
            }
        }
    if (buffer != nullptr)
        std::memcpy(buffer, bytes.data(), bytes.size() < size ? bytes.size() : size);
    return bytes.size();
}

} // namespace

size_t VPERIPH_CALL vp_port_bytes(unsigned port, unsigned char *buffer, size_t size)
{
    return read<size_t>(0, [&](const Session &session) {
        return message_bytes(session.record(), session.record().received, port, buffer, size);
    });
}

size_t VPERIPH_CALL vp_in_bytes(unsigned port, unsigned char *buffer, size_t size)
{
    return read<size_t>(0, [&](const Session &session) {
        return message_bytes(session.record(), session.record().delivered, port, buffer, size);
    });
}

unsigned VPERIPH_CALL vp_port_messages(unsigned port, unsigned *kept)
{
    if (kept != nullptr)
        *kept = 0;
    return read<unsigned>(0, [&](const Session &session) {
        const Record &r = session.record();
        if (port >= r.received.size())
            return 0u;
        if (kept != nullptr)
            *kept = static_cast<unsigned>(r.received[port].size());
        return saturated(r.received[port].total());
    });
}

size_t VPERIPH_CALL vp_faults(char *buffer, size_t size)
{
    return read<size_t>(copy_out("", buffer, size), [&](const Session &session) {
        return copy_out(faults_text(session.record()), buffer, size);
    });
}

void VPERIPH_CALL vp_get_counters(struct vp_counters *out)
{
    if (out == nullptr)
        return;
    *out = vp_counters{};
    read<int>(0, [&](const Session &session) {
        const Record &r = session.record();
        const Counts &c = r.counts;
        *out = vp_counters{saturated(c.calls),        saturated(c.midi_opens),
                           saturated(c.midi_closes),  saturated(c.midi_sends),
                           saturated(c.caps_queries), saturated(c.set_builds),
                           saturated(c.set_destroys), saturated(c.enum_calls),
                           saturated(c.property_reads),
                           saturated(r.faults.total() + r.handles.items().size() +
                                     r.sets.items().size())};
        return 0;
    });
}

size_t VPERIPH_CALL vp_report(char *buffer, size_t size)
{
    return read<size_t>(copy_out("", buffer, size), [&](Session &session) {
        return copy_out(report_text(session.loaded(), session.record()), buffer, size);
    });
}

int VPERIPH_CALL vp_register(const char *description, char *error, size_t error_size)
{
    return registry_call(error, error_size, [&](std::string &message) {
        Description d;
        if (description == nullptr) {
            message = "no description";
            return -1;
        }
        if (!parse_description(description, d, message))
            return -1;
        return register_description(d, message);
    });
}

int VPERIPH_CALL vp_register_file(const wchar_t *path, char *error, size_t error_size)
{
    return registry_call(error, error_size, [&](std::string &message) {
        if (path == nullptr) {
            message = "no file";
            return -1;
        }
        bool absent = false;
        Description d;
        if (!read_description_file(path, d, message, absent))
            return -1;
        return register_description(d, message);
    });
}

int VPERIPH_CALL vp_unregister(char *error, size_t error_size)
{
    return registry_call(error, error_size, remove_marked);
}

int VPERIPH_CALL vp_driver_ports(void) { return winmm_ports(); }

int VPERIPH_CALL vp_select_driver(char *error, size_t error_size)
{
    return registry_call(error, error_size, select_driver);
}

int VPERIPH_CALL vp_restore_driver(char *error, size_t error_size)
{
    return registry_call(error, error_size, restore_driver);
}

} // extern "C"
