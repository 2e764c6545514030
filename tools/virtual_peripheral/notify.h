// Notifications to a port's client (open, close, done, input), made as a
// WinMM driver makes them: through the system's own DriverCallback, with the
// callback, flags and instance the open gave. A call collects them under the
// peripheral's lock and sends them once it has let go of it, since a client's
// callback may call the peripheral again.
#ifndef VPERIPH_NOTIFY_H
#define VPERIPH_NOTIFY_H

#include <windows.h>

#include <cstdint>
#include <vector>

namespace vperiph {

// Where a port handle's notifications go: `callback` and `instance` as the
// open gave them, `flags` the DCB_ type (the high word of the open's
// CALLBACK_ type), `handle` what the client knows the port by.
struct Client {
    DWORD_PTR callback = 0;
    DWORD flags = 0;
    DWORD_PTR handle = 0;
    DWORD_PTR instance = 0;
};

// The DCB_ type of an open's flags (CALLBACK_WINDOW, _THREAD, _FUNCTION,
// _EVENT, or none).
DWORD callback_type(DWORD open_flags);

struct Notice {
    Client to;
    UINT message; // MOM_ or MIM_
    DWORD_PTR param1, param2;
};

class Notices {
public:
    void add(const Client &to, UINT message, DWORD_PTR param1 = 0, DWORD_PTR param2 = 0)
    {
        if (to.flags != 0)
            list_.push_back(Notice{to, message, param1, param2});
    }
    // Sends them in order; never under the peripheral's lock.
    void send() const;

private:
    std::vector<Notice> list_;
};

} // namespace vperiph

#endif
