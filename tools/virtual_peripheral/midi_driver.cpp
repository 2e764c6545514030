// The virtual peripheral as the MIDI driver that Wine's own winmm loads: the
// audio driver Wine's mmdevapi selects by the prefix's value
// HKCU\Software\Wine\Drivers "Audio" (wine<NAME>.drv, found by the usual DLL
// search, the program's folder first). winevp.drv forwards here. mmdevapi
// asks GetPriority and the endpoint functions before it selects a driver;
// winmm then opens it (DriverProc), sends DRVM_INIT, asks MODM_GETNUMDEVS once
// per process, and passes each midiOut call on as a driver message with its
// global device id, which is our port index: ours is the only MIDI output
// driver (Wine's MIDI mapper is the mapper, id -1). midiOutGetID never reaches
// a driver.
#define VPERIPH_BUILDING
#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

#include "port_calls.h"

namespace vperiph {

namespace {

// What winmm was told when it asked for the number of ports: it never asks
// again in this process. -1: not asked yet. Kept apart from State, which a
// new description replaces.
int g_presented = -1;

// A description with items only the stand-in winmm can present is refused
// whole, as a broken one is: the report says why.
void refuse_standin_only(Session &session)
{
    State &s = session.s();
    if (s.d.winmm_standin_only.empty())
        return;
    std::string problem = "only the stand-in winmm can present";
    for (std::size_t i = 0; i < s.d.winmm_standin_only.size(); ++i)
        problem += (i == 0 ? " " : ", ") + s.d.winmm_standin_only[i];
    problem += " (through Wine's winmm no port identifier is asked of a driver, and it counts "
               "no WinMM calls)";
    reset(s, Description{}, std::string(s.source), problem);
}

const char *driver_message_name(UINT message)
{
    switch (message) {
    case DRV_LOAD: return "DRV_LOAD";
    case DRV_ENABLE: return "DRV_ENABLE";
    case DRV_OPEN: return "DRV_OPEN";
    case DRV_CLOSE: return "DRV_CLOSE";
    case DRV_DISABLE: return "DRV_DISABLE";
    case DRV_FREE: return "DRV_FREE";
    default: return nullptr;
    }
}

// Later descriptions may have other numbers: the ports one lacks refuse to
// open, and those past this number are never asked for.
DWORD port_count(Session &session)
{
    if (g_presented < 0)
        g_presented = static_cast<int>(session.s().d.ports.size());
    session.log(format("MODM_GETNUMDEVS() -> %d", g_presented));
    return static_cast<DWORD>(g_presented);
}

} // namespace

} // namespace vperiph

using namespace vperiph;

extern "C" {

// mmdevapi's questions: the highest priority, and no audio endpoints.
int WINAPI GetPriority(void) { return 3; }

HRESULT WINAPI GetEndpointIDs(int flow, WCHAR ***ids, GUID **guids, UINT *count, UINT *preferred)
{
    (void)flow;
    *ids = nullptr;
    *guids = nullptr;
    *count = 0;
    *preferred = static_cast<UINT>(-1);
    return S_OK;
}

HRESULT WINAPI GetAudioEndpoint(void *guid, void *device, void **client)
{
    (void)guid, (void)device, (void)client;
    return E_NOTIMPL;
}

HRESULT WINAPI GetAudioSessionManager(void *device, void **manager)
{
    (void)device, (void)manager;
    return E_NOTIMPL;
}

LRESULT WINAPI DriverProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM param1, LPARAM param2)
{
    (void)id, (void)driver, (void)param1, (void)param2;
    const char *name = driver_message_name(message);
    const LRESULT r = name != nullptr                      ? 1
                      : message == DRV_CONFIGURE || message == DRV_INSTALL ||
                              message == DRV_REMOVE ? DRVCNF_OK
                                                    : 0;
    Session session;
    session.log(name ? format("DriverProc(%s) -> %ld", name, static_cast<long>(r))
                     : format("DriverProc(message=%u) -> %ld", message, static_cast<long>(r)));
    return r;
}

DWORD WINAPI modMessage(UINT port, UINT message, DWORD_PTR user, DWORD_PTR param1,
                        DWORD_PTR param2)
{
    Session session;
    refuse_standin_only(session);
    ++session.s().counters.calls;
    switch (message) {
    case DRVM_INIT:
    case DRVM_EXIT:
    case DRVM_ENABLE:
    case DRVM_DISABLE:
        session.log(format("%s -> 0", message == DRVM_INIT    ? "DRVM_INIT"
                                      : message == DRVM_EXIT  ? "DRVM_EXIT"
                                      : message == DRVM_ENABLE ? "DRVM_ENABLE"
                                                               : "DRVM_DISABLE"));
        return MMSYSERR_NOERROR;
    case MODM_GETNUMDEVS:
        return port_count(session);
    case MODM_OPEN: {
        const auto *desc = reinterpret_cast<const MIDIOPENDESC *>(param1);
        std::uintptr_t handle = 0;
        const MMRESULT r =
            open_port(session, "MODM_OPEN", port, user ? &handle : nullptr,
                      desc ? desc->dwCallback : 0, desc ? desc->dwInstance : 0,
                      static_cast<unsigned long>(param2), MMSYSERR_NOERROR);
        // The instance winmm hands back with every later message.
        if (r == MMSYSERR_NOERROR)
            *reinterpret_cast<DWORD_PTR *>(user) = handle;
        return r;
    }
    case MODM_GETDEVCAPS:
        // Through a handle `user` is its instance; by device id it is 0.
        return query_caps(session, "MODM_GETDEVCAPS", user ? user : port,
                          reinterpret_cast<MIDIOUTCAPSW *>(param1), static_cast<UINT>(param2),
                          false, MMSYSERR_NOERROR);
    case MODM_DATA:
        return send_short(session, "MODM_DATA", user, static_cast<DWORD>(param1),
                          MMSYSERR_NOERROR);
    case MODM_CLOSE:
        return close_port(session, "MODM_CLOSE", user, MMSYSERR_NOERROR);
    case MODM_RESET: {
        const MMRESULT r = open_handle(session, user, "MODM_RESET") ? MMSYSERR_NOERROR
                                                                    : MMSYSERR_INVALHANDLE;
        session.log(format("MODM_RESET(handle=%p) -> %u", reinterpret_cast<void *>(user), r));
        return r;
    }
    default:
        session.log(format("modMessage(port=%u, message=%u) -> %u", port, message,
                           MMSYSERR_NOTSUPPORTED));
        return MMSYSERR_NOTSUPPORTED;
    }
}

// No MIDI input ports.
DWORD WINAPI midMessage(UINT port, UINT message, DWORD_PTR user, DWORD_PTR param1,
                        DWORD_PTR param2)
{
    (void)port, (void)user, (void)param1, (void)param2;
    switch (message) {
    case MIDM_GETNUMDEVS:
        return 0;
    case DRVM_INIT:
    case DRVM_EXIT:
    case DRVM_ENABLE:
    case DRVM_DISABLE:
        return MMSYSERR_NOERROR;
    default:
        return MMSYSERR_NOTSUPPORTED;
    }
}

int VPERIPH_CALL vp_driver_ports(void)
{
    Session session;
    return g_presented;
}

} // extern "C"
