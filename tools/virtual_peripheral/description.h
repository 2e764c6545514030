// The virtual peripheral's description file: the MIDI output ports and USB
// entries it presents, and the failures it injects. Platform-free.
#ifndef VPERIPH_DESCRIPTION_H
#define VPERIPH_DESCRIPTION_H

#include <cstdint>
#include <string>
#include <vector>

namespace vperiph {

// What any description may ask for at most, so that none can take a host's
// memory: about 20 MB for the largest description these allow.
constexpr std::size_t kMostPorts = 256;
constexpr std::size_t kMostUsbEntries = 100000;
constexpr std::size_t kMostPropertyBytes = 8u << 20; // all entries' hardware-ID data together
constexpr std::uint32_t kLargestProperty = 65536;    // bytes= of one entry

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
    // Items only the stand-in DLLs can present ("line 3: bytes=41"): the
    // first kShownItems of them, and how many there are. A registry
    // registration refuses a description that has any.
    std::vector<std::string> standin_only;
    std::size_t standin_only_count = 0;
    // Items only the stand-in winmm can present (midiOutGetID never reaches a
    // MIDI driver; "fail N" counts WinMM calls): the driver refuses them.
    // At most one a port and one more.
    std::vector<std::string> winmm_standin_only;
};

// How many items of a kind a description keeps to show; a file of 100,000
// lines has no use for all of them in a message.
constexpr std::size_t kShownItems = 20;

// A description file's bytes as UTF-8: a UTF-8 byte order mark is skipped,
// UTF-16 (either byte order, with its mark) is converted. False with a
// message naming the line when the bytes cannot be text of either kind.
bool decode_description(const std::string &bytes, std::string &utf8, std::string &error);

// Parses a whole description file (any encoding decode_description takes).
// On failure returns false with a message that names the line.
bool parse_description(const std::string &bytes, Description &out, std::string &error);

// Parses UTF-8 text already decoded.
bool parse_description_text(const std::string &utf8, Description &out, std::string &error);

} // namespace vperiph

#endif
