// What vperiph.dll's exported WinMM functions (midi_out.cpp, midi_in.cpp)
// share: each runs its body under the session, anything thrown turned into
// the failure for want of memory, and hands handles on as plain values.
#ifndef VPERIPH_EXPORTED_H
#define VPERIPH_EXPORTED_H

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>

#include "port_calls.h"
#include "session.h"

namespace vperiph {

template <typename F> MMRESULT exported(const char *function, F f)
{
    return in_session<MMRESULT>(function, MMSYSERR_NOMEM, f);
}

// The same for a function that may notify the port's client.
template <typename F> MMRESULT notifying(const char *function, F f)
{
    return in_session_notifying<MMRESULT>(function, MMSYSERR_NOMEM, f);
}

template <typename Handle> std::uintptr_t value(Handle h)
{
    return reinterpret_cast<std::uintptr_t>(h);
}

// midiOutOpen and midiInOpen: the new handle stored only when the open
// succeeds. `how` is made by the exported function itself, whose return
// address tells who opens.
template <typename Handle>
MMRESULT open_exported(const char *function, const Opening &how, Handle *out)
{
    return notifying(function, [&](Session &session, Notices &notices) {
        std::uintptr_t handle = 0;
        const MMRESULT r = open_port(session, notices, {function, MMSYSERR_ALLOCATED}, how,
                                     out != nullptr ? &handle : nullptr);
        if (r == MMSYSERR_NOERROR)
            *out = reinterpret_cast<Handle>(handle);
        return r;
    });
}

// midiOutGetNumDevs and midiInGetNumDevs: the ports of one kind, none while
// the description makes every call fail.
inline UINT port_count(const char *function, bool input)
{
    return in_session<UINT>(function, 0, [&](Session &session) {
        const auto &d = session.d();
        const std::size_t kind = input ? d.inputs.size() : d.ports.size();
        const UINT n = session.failing() ? 0u : static_cast<UINT>(kind);
        session.change(call_change());
        session.log("%s() -> %u", function, n);
        return n;
    });
}

// An A capability record from its W one, the name in the ANSI code page as
// WinMM converts it, copied out up to the caller's size.
template <typename Narrow, typename Wide>
void copy_narrow(Narrow narrow, const Wide &wide, void *to, UINT size)
{
    WideCharToMultiByte(CP_ACP, 0, wide.szPname, MAXPNAMELEN, narrow.szPname, sizeof narrow.szPname,
                        nullptr, nullptr);
    narrow.szPname[MAXPNAMELEN - 1] = 0;
    CopyMemory(to, &narrow, size < sizeof narrow ? size : sizeof narrow);
}

} // namespace vperiph

#endif
