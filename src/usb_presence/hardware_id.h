// Platform-free pieces of the USB side: reading the VID and PID texts out of
// a hardware-ID property, and the texts the queries look for.
#ifndef TARNWICK_HARDWARE_ID_H
#define TARNWICK_HARDWARE_ID_H

#include <cstddef>
#include <cstdint>

namespace tarnwick {

constexpr std::size_t kIdTextSize = 4;

struct UsbIds {
    char vid[kIdTextSize]; // not terminated; compared as four bytes
    char pid[kIdTextSize];
};

// Why an entry has or has no IDs; the command-line tool shows it.
enum class HardwareIdShape {
    ids_found,
    no_v,            // the first string has no "V"
    no_vid_prefix,   // the first "V" does not start "VID_"
    no_pid_prefix,   // the four VID characters are not followed by "&PID_"
    cut_short,       // the first string or the data ends inside the IDs
};

// Reads the first string of a hardware-ID list given as the bytes the
// platform delivered (UTF-16LE; an odd last byte is ignored). Reads nothing
// at or past data + size. Fills ids only for ids_found.
HardwareIdShape parse_hardware_id(const unsigned char *data, std::size_t size, UsbIds &ids);

// Four upper-case hexadecimal digits with leading zeros: 0x0A1B gives "0A1B".
void render_id_text(std::uint16_t id, char text[kIdTextSize]);

// Exact, case-sensitive comparison of one ID text.
bool id_text_equals(const char a[kIdTextSize], const char b[kIdTextSize]);

} // namespace tarnwick

#endif
