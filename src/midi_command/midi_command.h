// The MIDI side of the library: the named-port broadcast (talks to WinMM) and
// the direct command built on it.
#ifndef TARNWICK_MIDI_COMMAND_H
#define TARNWICK_MIDI_COMMAND_H

#include <cstdint>

#include "short_message.h"

namespace tarnwick {

// Process-wide, zero at load; written by hiddirect_main, read by every
// broadcast.
extern unsigned char midi_port_name_key[kPortNameKeySize];

// Sends one short message to every MIDI output port whose product name begins
// with midi_port_name_key; status 0xFF only probes. Returns 0 when there are
// no ports, 1 when none matched (or none could be opened), else the last
// visited port's send or capability status.
std::uint32_t send_midi_to_named_ports(std::uint8_t status, std::uint8_t channel,
                                       std::uint8_t data1, std::uint8_t data2);

// The five-message sequence with its probe and number check; returns how many
// broadcasts failed (0-5), or 1 when the check fails.
std::uint8_t hiddirect_send_sequence(int value, int status_and_channel, int number_check,
                                     int number);

// Writes all of "AB\r\n" to the process's standard output handle, waiting
// while a pipe is full; nothing when there is no usable standard output.
void write_probe_line();

} // namespace tarnwick

#endif
