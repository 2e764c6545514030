// The virtual peripheral's description file: the MIDI output and input ports
// and USB entries it presents, the answers it gives, and the failures it
// injects. Platform-free.
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
constexpr std::size_t kMostAnswers = 1024;
constexpr std::size_t kLongestAnswerBytes = 65536;   // a request or a reply
constexpr std::size_t kMostAnswerBytes = 1u << 20;   // all answers' bytes together
constexpr std::uint32_t kLatestReply = 60000;        // after=, in milliseconds

// unterminated: the name's characters only, no terminator, the rest of the
// record as the caller's buffer had it.
enum class NameTail { garbage, zero, keep, unterminated };

// The parser records what the file says, with the line each item stands on;
// each door (the stand-ins, the driver Wine's winmm loads, the registration
// for Wine's setupapi) decides from that what it cannot present.
struct Port {
    std::u16string name;            // at most 32 UTF-16 units
    std::uint32_t open = 0, getid = 0, caps = 0, send = 0, close = 0; // statuses to return
    std::uint32_t long_send = 0;    // long=S: what a long message returns
    NameTail tail = NameTail::garbage;
    bool many_clients = false;      // clients=many: further opens are not refused
    unsigned line = 0;
};

// A MIDI input port (an `in` line).
struct InPort {
    std::u16string name;
    std::uint32_t open = 0, close = 0;
    bool many_clients = false;
    unsigned line = 0;
};

// answer OUT BYTES... reply IN BYTES... [after=MS]: when output port `out`
// receives exactly `request` (one short message's bytes, or one long
// message's), input port `in` delivers `reply` after `after` milliseconds.
// A reply is one short message (a status byte from 0x80, not 0xF0 or 0xF7,
// with at most two data bytes) or one SysEx (F0 ... F7).
struct Answer {
    unsigned out = 0, in = 0;
    std::vector<std::uint8_t> request, reply;
    std::uint32_t after = 0;
    unsigned line = 0;
};

// The options of a usb line that shape what the stand-in setupapi delivers
// (as bits of UsbEntry::given).
enum UsbOption : std::uint8_t { kBytes = 1, kProperty = 2, kAppear = 4, kVanish = 8 };

struct UsbEntry {
    std::vector<std::uint8_t> property; // hardware-ID data exactly as delivered
    std::uint32_t property_error = 0;   // nonzero: reading the property fails with it
    unsigned appear = 0;                // present only in sets built after this many builds
    unsigned vanish = 0;                // present only in the first this many builds (0: always)
    unsigned line = 0;                  // the copies repeat= makes share it
    std::uint8_t given = 0;             // the UsbOption bits its line gave
};

struct Description {
    std::vector<Port> ports;
    std::vector<InPort> inputs;
    std::vector<Answer> answers;
    std::vector<UsbEntry> usb;        // repeat= already expanded
    std::uint32_t classdevs_error = 0; // nonzero: every set build fails with it
    unsigned classdevs_line = 0;
    unsigned fail_call = 0;            // 1-based platform call that fails (0: none)
    std::uint32_t fail_status = 0;     // 0: that function's usual failure
    bool fail_status_given = false;
    unsigned fail_line = 0;
};

// What a door may be unable to present, as bits.
enum ItemKind : unsigned {
    kGetId = 1,          // port getid=S, nonzero (midiOutGetID reaches no driver)
    kUsbOptions = 2,     // usb bytes=, property=, appear=, vanish=
    kClassdevsFail = 4,  // classdevs fail
    kFailCall = 8,       // fail N (it counts the stand-ins' calls)
};

// How many items a message names; a file of 100,000 lines has no use for
// all of them in one.
constexpr std::size_t kShownItems = 20;

struct Named {
    std::vector<std::string> shown; // "line 3: bytes=41", in the file's order
    std::size_t count = 0;          // all of them, shown or not
};

// The items of the kinds `items` (ItemKind bits) a description holds: the first
// kShownItems as the file's lines name them, and how many there are.
Named name_items(const Description &d, unsigned items);

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
