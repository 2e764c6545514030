// The only file of the MIDI side that talks to Windows: WinMM port walks and
// the standard output handle.
#include <windows.h>
#include <mmsystem.h>

#include <cstring>

#include "midi_command.h"
#include "midi_ports.h"

namespace tarnwick {

namespace {

struct OpenPort {
    HMIDIOUT handle = nullptr;
    MIDIOUTCAPSW caps;
    MMRESULT caps_status = MMSYSERR_ERROR;
};

// Opens a port and reads its capabilities. False when the port cannot be
// opened or identified: then nothing is held and the caller skips it.
bool open_port(UINT index, OpenPort &port)
{
    HMIDIOUT handle = nullptr;
    if (midiOutOpen(&handle, index, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR)
        return false;
    UINT id = 0;
    if (midiOutGetID(handle, &id) != MMSYSERR_NOERROR) {
        midiOutClose(handle);
        return false;
    }
    port.handle = handle;
    // Cleared so a short name is never compared with an earlier port's name.
    std::memset(&port.caps, 0, sizeof port.caps);
    port.caps_status = midiOutGetDevCapsW(id, &port.caps, sizeof port.caps);
    return true;
}

const std::uint16_t *name_of(const MIDIOUTCAPSW &caps)
{
    static_assert(sizeof(WCHAR) == sizeof(std::uint16_t), "product names are UTF-16");
    return reinterpret_cast<const std::uint16_t *>(caps.szPname);
}

} // namespace

std::uint32_t send_midi_to_named_ports(std::uint8_t status, std::uint8_t channel,
                                       std::uint8_t data1, std::uint8_t data2)
{
    const DWORD word = pack_short_message(status, channel, data1, data2);
    const UINT count = midiOutGetNumDevs();
    if (count == 0)
        return 0;

    bool any_match = false;
    // Ports exist: with no port matched (or none usable) the walk reports 1.
    MMRESULT running = 1;
    for (UINT i = 0; i < count; ++i) {
        OpenPort port;
        if (!open_port(i, port))
            continue;
        MMRESULT port_status = port.caps_status;
        const bool match =
            port.caps_status == MMSYSERR_NOERROR &&
            name_matches_key(name_of(port.caps), MAXPNAMELEN, midi_port_name_key);
        if (match) {
            // Decided on the parameter: 0xF0 on channel 0 composes 0xFF and is sent.
            if (status != kProbeStatus)
                port_status = midiOutShortMsg(port.handle, word);
            any_match = true;
        }
        running = any_match ? port_status : 1;
        midiOutClose(port.handle);
    }
    return running;
}

unsigned list_midi_output_ports(void (*visit)(const MidiPortInfo &port, void *context),
                                void *context)
{
    const UINT count = midiOutGetNumDevs();
    for (UINT i = 0; i < count; ++i) {
        MidiPortInfo info{};
        info.index = i;
        OpenPort port;
        info.opened = open_port(i, port);
        if (info.opened) {
            info.caps_status = port.caps_status;
            std::memcpy(info.name, port.caps.szPname, sizeof info.name);
            midiOutClose(port.handle);
        }
        visit(info, context);
    }
    return count;
}

void write_probe_line()
{
    static const char line[] = "AB\r\n";
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE)
        return;

    // As any write to standard output: a full pipe is waited on, a partial
    // write is continued, and the handle's mode is the host's business. A
    // broken pipe or a closed handle fails at once and ends the line.
    const char *next = line;
    DWORD left = sizeof line - 1;
    while (left > 0) {
        DWORD written = 0;
        if (!WriteFile(out, next, left, &written, nullptr) || written == 0)
            return;
        next += written;
        left -= written;
    }
}

} // namespace tarnwick
