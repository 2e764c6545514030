// The virtual peripheral as the MIDI driver that Wine's own winmm loads: the
// audio driver Wine's mmdevapi selects by the prefix's value
// HKCU\Software\Wine\Drivers "Audio" (wine<NAME>.drv, found by the usual DLL
// search, the program's folder first). winevp.drv answers mmdevapi's
// questions itself (audio_driver.cpp) and forwards winmm's here: winmm opens
// it (DriverProc), sends DRVM_INIT, asks MODM_GETNUMDEVS once per process,
// and passes each midiOut call on as a driver message with its global device
// id, which is our port index: ours is the only MIDI output driver (Wine's
// MIDI mapper is the mapper, id -1). midiOutGetID never reaches a driver.
// Its input ports come the same way, through midMessage.
#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

#include <cstdio>

#include "caller.h"
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

// What a driver open gives: winmm's handle and the client's callback.
Opening opening(bool input, UINT port, DWORD_PTR param1, DWORD_PTR param2)
{
    const auto *desc = reinterpret_cast<const MIDIOPENDESC *>(param1);
    Opening how{input, port, {}, static_cast<unsigned long>(param2), opener_through_winmm()};
    if (desc != nullptr) {
        how.client.callback = desc->dwCallback;
        how.client.instance = desc->dwInstance;
        how.client.handle = reinterpret_cast<DWORD_PTR>(desc->hMidi);
        how.client.flags = callback_type(static_cast<DWORD>(param2));
    }
    return how;
}

DWORD open_through_winmm(Session &session, Notices &notices, const char *label,
                         const Opening &how, DWORD_PTR user)
{
    std::uintptr_t handle = 0;
    const MMRESULT r = open_port(session, notices, {label, MMSYSERR_NOERROR}, how,
                                 user != 0 ? &handle : nullptr);
    // The instance winmm hands back with every later message.
    if (r == MMSYSERR_NOERROR)
        *reinterpret_cast<DWORD_PTR *>(user) = handle;
    return r;
}

// What both kinds of driver message meet first: a description the driver
// cannot present is refused, and the init messages are answered (true).
bool answered_first(Session &session, UINT message, const char *kind)
{
    if (!session.loaded().driver_refusal.empty())
        refuse(session);
    const char *name = init_message_name(message);
    if (name == nullptr)
        return false;
    session.change(call_change());
    session.log("%s%s -> 0", name, kind);
    return true;
}

// Driver calls are never made to fail: "fail N" is refused as a description
// is loaded.
DWORD driver_message(Session &session, Notices &notices, UINT port, UINT message, DWORD_PTR user,
                     DWORD_PTR param1, DWORD_PTR param2, const Opening &how)
{
    if (answered_first(session, message, ""))
        return MMSYSERR_NOERROR;
    const auto header = reinterpret_cast<MIDIHDR *>(param1);
    const UINT size = static_cast<UINT>(param2);
    switch (message) {
    case MODM_GETNUMDEVS:
        return port_count(session);
    case MODM_OPEN:
        return open_through_winmm(session, notices, "MODM_OPEN", how, user);
    case MODM_GETDEVCAPS:
        // Through a handle `user` is its instance; by device id it is 0.
        return query_caps(session, {"MODM_GETDEVCAPS", MMSYSERR_NOERROR}, user != 0 ? user : port,
                          reinterpret_cast<MIDIOUTCAPSW *>(param1), size, false);
    case MODM_DATA:
        return send_short(session, {"MODM_DATA", MMSYSERR_NOERROR}, user,
                          static_cast<DWORD>(param1));
    case MODM_LONGDATA:
        return send_long(session, notices, {"MODM_LONGDATA", MMSYSERR_NOERROR}, user, header, size);
    case MODM_PREPARE:
    case MODM_UNPREPARE:
        return prepare_header(session,
                              {message == MODM_PREPARE ? "MODM_PREPARE" : "MODM_UNPREPARE",
                               MMSYSERR_NOERROR},
                              user, header, size, false, message == MODM_PREPARE);
    case MODM_GETVOLUME:
        return unsupported(session, {"MODM_GETVOLUME", MMSYSERR_NOERROR}, Unsupported::get_volume,
                           user != 0 ? user : port, reinterpret_cast<const void *>(param1));
    case MODM_SETVOLUME:
        return unsupported(session, {"MODM_SETVOLUME", MMSYSERR_NOERROR}, Unsupported::set_volume,
                           user != 0 ? user : port, nullptr);
    case MODM_CACHEPATCHES:
    case MODM_CACHEDRUMPATCHES:
        return unsupported(session,
                           {message == MODM_CACHEPATCHES ? "MODM_CACHEPATCHES" : "MODM_CACHEDRUMPATCHES",
                            MMSYSERR_NOERROR},
                           message == MODM_CACHEPATCHES ? Unsupported::cache_patches
                                                        : Unsupported::cache_drum_patches,
                           user != 0 ? user : port, reinterpret_cast<const void *>(param1));
    case MODM_RESET:
        return reset_port(session, {"MODM_RESET", MMSYSERR_NOERROR}, user);
    case MODM_CLOSE:
        return close_port(session, notices, {"MODM_CLOSE", MMSYSERR_NOERROR}, user, false);
    default:
        session.change(call_change());
        session.log("modMessage(port=%u, message=%u) -> %u", port, message,
                    static_cast<unsigned>(MMSYSERR_NOTSUPPORTED));
        return MMSYSERR_NOTSUPPORTED;
    }
}

DWORD input_message(Session &session, Notices &notices, UINT port, UINT message, DWORD_PTR user,
                    DWORD_PTR param1, DWORD_PTR param2, const Opening &how)
{
    if (answered_first(session, message, " (input)"))
        return MMSYSERR_NOERROR;
    const auto header = reinterpret_cast<MIDIHDR *>(param1);
    const UINT size = static_cast<UINT>(param2);
    switch (message) {
    case MIDM_GETNUMDEVS: {
        const auto n = static_cast<DWORD>(session.d().inputs.size());
        session.change(call_change());
        session.log("MIDM_GETNUMDEVS() -> %lu", static_cast<unsigned long>(n));
        return n;
    }
    case MIDM_OPEN:
        return open_through_winmm(session, notices, "MIDM_OPEN", how, user);
    case MIDM_GETDEVCAPS:
        return query_caps(session, {"MIDM_GETDEVCAPS", MMSYSERR_NOERROR}, user != 0 ? user : port,
                          reinterpret_cast<void *>(param1), size, false, true);
    case MIDM_PREPARE:
    case MIDM_UNPREPARE:
        return prepare_header(session,
                              {message == MIDM_PREPARE ? "MIDM_PREPARE" : "MIDM_UNPREPARE",
                               MMSYSERR_NOERROR},
                              user, header, size, true, message == MIDM_PREPARE);
    case MIDM_ADDBUFFER:
        return add_buffer(session, {"MIDM_ADDBUFFER", MMSYSERR_NOERROR}, user, header, size);
    case MIDM_START:
    case MIDM_STOP:
    case MIDM_RESET: {
        const char *label = message == MIDM_START ? "MIDM_START"
                            : message == MIDM_STOP ? "MIDM_STOP"
                                                   : "MIDM_RESET";
        return control_input(session, notices, {label, MMSYSERR_NOERROR}, user,
                             message == MIDM_START  ? InputControl::start
                             : message == MIDM_STOP ? InputControl::stop
                                                    : InputControl::reset);
    }
    case MIDM_CLOSE:
        return close_port(session, notices, {"MIDM_CLOSE", MMSYSERR_NOERROR}, user, true);
    default:
        session.change(call_change());
        session.log("midMessage(port=%u, message=%u) -> %u", port, message,
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

// Who opens is asked before the lock is taken (caller.h).
DWORD WINAPI modMessage(UINT port, UINT message, DWORD_PTR user, DWORD_PTR param1,
                        DWORD_PTR param2)
{
    const Opening how = message == MODM_OPEN ? opening(false, port, param1, param2) : Opening{};
    return in_session_notifying<DWORD>("modMessage", MMSYSERR_NOMEM,
                                       [&](Session &session, Notices &notices) {
        return driver_message(session, notices, port, message, user, param1, param2, how);
    });
}

DWORD WINAPI midMessage(UINT port, UINT message, DWORD_PTR user, DWORD_PTR param1,
                        DWORD_PTR param2)
{
    const Opening how = message == MIDM_OPEN ? opening(true, port, param1, param2) : Opening{};
    return in_session_notifying<DWORD>("midMessage", MMSYSERR_NOMEM,
                                       [&](Session &session, Notices &notices) {
        return input_message(session, notices, port, message, user, param1, param2, how);
    });
}

} // extern "C"
