// Port listing for diagnostic hosts (the command-line tool); not exported.
#ifndef TARNWICK_MIDI_PORTS_H
#define TARNWICK_MIDI_PORTS_H

#include <cstddef>
#include <cstdint>

namespace tarnwick {

struct MidiPortInfo {
    unsigned index;
    bool opened;                 // false: open or identifier query failed
    std::uint32_t caps_status;   // meaningful when opened
    std::uint16_t name[32];      // product name, zero-filled past its end
};

// Calls visit for every MIDI output port, in index order, with the same
// open/query/close steps a broadcast makes (nothing is sent). Returns the
// number of ports.
unsigned list_midi_output_ports(void (*visit)(const MidiPortInfo &port, void *context),
                                void *context);

} // namespace tarnwick

#endif
