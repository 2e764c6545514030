// The virtual peripheral's description file: the MIDI output ports and USB
// entries it presents, and the failures it injects. Platform-free.
#ifndef VPERIPH_DESCRIPTION_H
#define VPERIPH_DESCRIPTION_H

#include <cstdint>
#include <string>
#include <vector>

namespace vperiph {

// unterminated: the name's characters only, no terminator, the rest of the
// record as the caller's buffer had it.
enum class NameTail { garbage, zero, keep, unterminated };

struct Port {
    std::u16string name;            // at most 32 UTF-16 units
    std::uint32_t open = 0, getid = 0, caps = 0, send = 0, close = 0; // statuses to return
    NameTail tail = NameTail::garbage;
};

struct UsbEntry {
    std::vector<std::uint8_t> property; // hardware-ID data exactly as delivered
    std::uint32_t property_error = 0;   // nonzero: reading the property fails with it
    unsigned appear = 0;                // present only in sets built after this many builds
    unsigned vanish = 0;                // present only in the first this many builds (0: always)
};

struct Description {
    std::vector<Port> ports;
    std::vector<UsbEntry> usb;        // repeat= already expanded
    std::uint32_t classdevs_error = 0; // nonzero: every set build fails with it
    unsigned fail_call = 0;            // 1-based platform call that fails (0: none)
    std::uint32_t fail_status = 0;     // 0: that function's usual failure
    bool fail_status_given = false;
    // Items only the stand-in DLLs can present ("line 3: bytes=41"); a
    // registry registration refuses a description that has any.
    std::vector<std::string> standin_only;
    // Items only the stand-in winmm can present (midiOutGetID never reaches a
    // MIDI driver; "fail N" counts WinMM calls): the driver refuses them.
    std::vector<std::string> winmm_standin_only;
};

// Parses a whole description. On failure returns false with a message that
// names the line.
bool parse_description(const std::string &text, Description &out, std::string &error);

} // namespace vperiph

#endif
