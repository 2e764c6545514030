#include <cstring>

#include "midi_command.h"
#include "tarnwick.h"

namespace tarnwick {

unsigned char midi_port_name_key[kPortNameKeySize] = {};

namespace {

// Walks the ports as a broadcast would, sending nothing.
std::uint32_t probe_ports() { return send_midi_to_named_ports(kProbeStatus, 15, 0, 0); }

struct Broadcast {
    std::uint8_t status, channel, data1, data2;
};

} // namespace

std::uint8_t hiddirect_send_sequence(int value, int status_and_channel, int number_check,
                                     int number)
{
    if (probe_ports() == 0)
        write_probe_line();
    if ((number_check & 0x7F) != (number & 0x7F))
        return 1;

    const auto channel = static_cast<std::uint8_t>((status_and_channel & 0x0F) + 1);
    const auto key = static_cast<std::uint8_t>(number & 0x7F);
    const auto velocity = static_cast<std::uint8_t>(value & 0x7F);
    const auto status4 = static_cast<std::uint8_t>(status_and_channel & 0xF0);
    // Channel 0 turns the status byte 0xF0 into 0xFF: the one-byte bracket.
    const Broadcast sequence[] = {
        {0xF0, 0, 0, 0},
        {0x90, channel, key, velocity},
        {0x80, channel, key, velocity},
        {status4, channel, key, velocity},
        {0xF0, 0, 0, 0},
    };
    std::uint8_t failed = 0;
    for (const Broadcast &b : sequence)
        if (send_midi_to_named_ports(b.status, b.channel, b.data1, b.data2) != 0)
            ++failed;
    return failed;
}

} // namespace tarnwick

extern "C" int TARNWICK_CALL hiddirect_main(const char *port_name_key, int value,
                                            int status_and_channel, int number_check, int number)
{
    using namespace tarnwick;
    if (port_name_key == nullptr)
        return 1;
    std::memcpy(midi_port_name_key, port_name_key, kPortNameKeySize);
    (void)probe_ports();
    return static_cast<signed char>(
        hiddirect_send_sequence(value, status_and_channel, number_check, number));
}
