// The virtual peripheral as the MIDI driver that Wine's own winmm loads: the
// audio driver Wine's mmdevapi selects by the prefix's value
// HKCU\Software\Wine\Drivers "Audio" (wine<NAME>.drv, found by the usual DLL
// search, the program's folder first). winevp.drv answers mmdevapi's
// questions itself (audio_driver.cpp) and forwards winmm's here: winmm opens
// it (DriverProc), sends DRVM_INIT, asks MODM_GETNUMDEVS once per process,
// and passes each midiOut call on as a driver message with its global device
// id, which is our port index: ours is the only MIDI output driver (Wine's
// MIDI mapper is the mapper, id -1). midiOutGetID never reaches a driver.
#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

#include <cstdio>

#include "midi_driver.h"
#include "port_calls.h"
#include "text.h"

namespace vperiph {

namespace {

// A description with items only the stand-in winmm can present is used like
// a broken one, from the driver's first message on: the report says why.
void refuse(Session &session)
{
    const std::string problem = session.loaded().driver_refusal;
    // As a broken description is said on standard error too, for a console host.
    std::fprintf(stderr, "virtual peripheral: %s: %s\n", session.loaded().source.c_str(),
                 problem.c_str());
    session.replace(std::make_unique<Loaded>(Description{}, session.loaded().source, problem));
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

const char *init_message_name(UINT message)
{
    switch (message) {
    case DRVM_INIT: return "DRVM_INIT";
    case DRVM_EXIT: return "DRVM_EXIT";
    case DRVM_ENABLE: return "DRVM_ENABLE";
    case DRVM_DISABLE: return "DRVM_DISABLE";
    default: return nullptr;
    }
}

DWORD port_count(Session &session)
{
    const int presented = tell_winmm_ports(static_cast<int>(session.d().ports.size()));
    session.change(call_change());
    session.log("MODM_GETNUMDEVS() -> %d", presented);
    return static_cast<DWORD>(presented);
}

DWORD driver_message(Session &session, UINT port, UINT message, DWORD_PTR user, DWORD_PTR param1,
                     DWORD_PTR param2)
{
    if (!session.loaded().driver_refusal.empty())
        refuse(session);
    // Driver calls are never made to fail: "fail N" is refused above.
    if (const char *name = init_message_name(message)) {
        session.change(call_change());
        session.log("%s -> 0", name);
        return MMSYSERR_NOERROR;
    }
    switch (message) {
    case MODM_GETNUMDEVS:
        return port_count(session);
    case MODM_OPEN: {
        const auto *desc = reinterpret_cast<const MIDIOPENDESC *>(param1);
        std::uintptr_t handle = 0;
        const MMRESULT r = open_port(session, {"MODM_OPEN", MMSYSERR_NOERROR}, port,
                                     user != 0 ? &handle : nullptr, desc ? desc->dwCallback : 0,
                                     desc ? desc->dwInstance : 0, static_cast<unsigned long>(param2));
        // The instance winmm hands back with every later message.
        if (r == MMSYSERR_NOERROR)
            *reinterpret_cast<DWORD_PTR *>(user) = handle;
        return r;
    }
    case MODM_GETDEVCAPS:
        // Through a handle `user` is its instance; by device id it is 0.
        return query_caps(session, {"MODM_GETDEVCAPS", MMSYSERR_NOERROR}, user != 0 ? user : port,
                          reinterpret_cast<MIDIOUTCAPSW *>(param1), static_cast<UINT>(param2),
                          false);
    case MODM_DATA:
        return send_short(session, {"MODM_DATA", MMSYSERR_NOERROR}, user,
                          static_cast<DWORD>(param1));
    case MODM_RESET:
        return reset_port(session, {"MODM_RESET", MMSYSERR_NOERROR}, user);
    case MODM_CLOSE:
        return close_port(session, {"MODM_CLOSE", MMSYSERR_NOERROR}, user);
    default:
        session.change(call_change());
        session.log("modMessage(port=%u, message=%u) -> %u", port, message,
                    static_cast<unsigned>(MMSYSERR_NOTSUPPORTED));
        return MMSYSERR_NOTSUPPORTED;
    }
}

} // namespace

std::string driver_cannot_present(const Description &d)
{
    const Named items = name_items(d, kGetId | kFailCall);
    if (items.count == 0)
        return {};
    std::string problem = "only the stand-in winmm can present";
    for (std::size_t i = 0; i < items.shown.size(); ++i)
        problem += (i == 0 ? " " : ", ") + items.shown[i];
    if (items.count > items.shown.size())
        problem += format(" and %zu more", items.count - items.shown.size());
    return problem + " (through Wine's winmm no port identifier is asked of a driver, and it "
                     "counts no WinMM calls)";
}

} // namespace vperiph

using namespace vperiph;

extern "C" {

LRESULT WINAPI DriverProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM param1, LPARAM param2)
{
    (void)id, (void)driver, (void)param1, (void)param2;
    const char *name = driver_message_name(message);
    const LRESULT r = name != nullptr ? 1
                      : message == DRV_CONFIGURE || message == DRV_INSTALL || message == DRV_REMOVE
                          ? DRVCNF_OK
                          : 0;
    in_session<int>("DriverProc", 0, [&](Session &session) {
        session.change(call_change());
        if (name != nullptr)
            session.log("DriverProc(%s) -> %ld", name, static_cast<long>(r));
        else
            session.log("DriverProc(message=%u) -> %ld", message, static_cast<long>(r));
        return 0;
    });
    return r;
}

DWORD WINAPI modMessage(UINT port, UINT message, DWORD_PTR user, DWORD_PTR param1,
                        DWORD_PTR param2)
{
    return in_session<DWORD>("modMessage", MMSYSERR_NOMEM, [&](Session &session) {
        return driver_message(session, port, message, user, param1, param2);
    });
}

// No MIDI input ports.
DWORD WINAPI midMessage(UINT port, UINT message, DWORD_PTR user, DWORD_PTR param1,
                        DWORD_PTR param2)
{
    (void)port, (void)user, (void)param1, (void)param2;
    if (message == MIDM_GETNUMDEVS)
        return 0;
    return init_message_name(message) != nullptr ? DWORD(MMSYSERR_NOERROR)
                                                 : DWORD(MMSYSERR_NOTSUPPORTED);
}

} // extern "C"
