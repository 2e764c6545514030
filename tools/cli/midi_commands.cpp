// send and ports: the direct command through the DLL, and the MIDI output
// ports as the library's own walk sees them.
#include <cstdio>

#include <nlohmann/json.hpp>

#include "args.h"
#include "cli.h"
#include "key_match.h"
#include "midi_ports.h"

namespace cli {

namespace {

// The library writes its probe line to the standard output handle; it is
// caught in a pipe here so that --json output stays valid. False when the
// pipe cannot be made: then the call is not made at all.
bool call_capturing_stdout(Library &lib, const unsigned char key[8], int value, int status,
                           int check, int number, int &result, std::string &captured)
{
    std::fflush(stdout);
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, nullptr, 1 << 16))
        return false;
    HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, write_end);
    result = lib.send(reinterpret_cast<const char *>(key), value, status, check, number);
    SetStdHandle(STD_OUTPUT_HANDLE, saved);
    CloseHandle(write_end);
    char chunk[64];
    DWORD got = 0;
    while (ReadFile(read_end, chunk, sizeof chunk, &got, nullptr) && got > 0)
        captured.append(chunk, got);
    CloseHandle(read_end);
    return true;
}

// The eight key bytes from --key-hex, else from NAME (padded with zero
// bytes); 0, or the exit status for bad arguments. what: how the name is
// called in messages ("NAME", "--key").
int read_key(const Options &o, const Arg &name, const char *what, unsigned char key[8])
{
    if (o.key_hex_given)
        return parse_hex_key(o.key_hex, key)
                   ? 0
                   : bad(o, "--key-hex takes sixteen hex digits (eight bytes): '" +
                                show_arg(o.key_hex) + "'");
    const NameKey k = parse_name_key(name, key);
    const std::string quoted = std::string(what) + " '" + show_arg(name) + "'";
    if (name.empty())
        return bad(o, std::string(what) + " is empty (a key of eight zero bytes is "
                                          "--key-hex 0000000000000000)");
    if (k.verdict == NameKey::too_long)
        return bad(o, quoted + " is longer than eight characters (a key is 8 bytes)");
    if (k.verdict == NameKey::not_a_key_byte) {
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(k.character));
        return bad(o, quoted + ": character " + std::to_string(k.position) + " (" + code +
                          ") cannot be a key byte: a key is 8 bytes, one per character, "
                          "and a character above U+007F has no byte that can match a port "
                          "(bytes 80-FF never match); --key-hex takes raw bytes");
    }
    return 0;
}

struct PortsOut {
    bool json = false;
    const unsigned char *key = nullptr; // null: no key given
    unsigned ports = 0;
    std::vector<unsigned> matching;
    Json list = Json::array();
};

// Which ports the library would send to with this key, by its own walk
// (nothing is sent). A port it cannot read has no name to compare.
bool port_matches(const tarnwick::MidiPortInfo &p, const unsigned char key[8], KeyMatch &m)
{
    const bool usable = p.opened && p.caps_status == 0;
    m = usable ? match_key(p.name, key) : KeyMatch{false, 0, 0, 0};
    return usable;
}

void count_matching(const tarnwick::MidiPortInfo &p, void *context)
{
    auto &out = *static_cast<PortsOut *>(context);
    KeyMatch m;
    port_matches(p, out.key, m);
    if (m.matches)
        out.matching.push_back(p.index);
}

// "index 0", "indexes 0, 2", or "" for none.
std::string indexes(const std::vector<unsigned> &list)
{
    std::string text;
    for (unsigned index : list)
        text += (text.empty() ? "" : ", ") + std::to_string(index);
    return list.empty() ? "" : (list.size() == 1 ? "index " : "indexes ") + text;
}

const char *meaning_of(int result, bool check_agrees, const PortsOut &walk)
{
    if (!check_agrees)
        return "number check disagrees: nothing sent";
    if (result == 0 && walk.ports == 0)
        return "there is no MIDI output port, so nothing was sent";
    if (result == 0)
        return "every broadcast succeeded";
    if (result == 5)
        return walk.matching.empty() ? "every broadcast failed: no port matches the key"
                                     : "every broadcast failed: no matching port could be used";
    return "some broadcasts reported a failure";
}

} // namespace

int run_send(const Options &o, Library &lib)
{
    unsigned char key[8];
    if (!o.key_hex_given && o.args.empty())
        return bad(o, "send takes NAME NUMBER VALUE STATUS");
    if (o.key_hex_given && o.args.size() == 4)
        return bad(o, "send takes the key once: NAME or --key-hex HEX, not both");
    const std::size_t first = o.key_hex_given ? 0 : 1;
    if (const int status = read_key(o, first ? o.args[0] : Arg(), "NAME", key))
        return status;
    if (o.args.size() != first + 3)
        return bad(o, "send takes NAME NUMBER VALUE STATUS (or --key-hex HEX NUMBER VALUE STATUS)");
    std::uint32_t number = 0, value = 0, status = 0, check = 0;
    std::string error;
    if (!hex_arg(o.args[first], "NUMBER", 0xFF, number, error) ||
        !hex_arg(o.args[first + 1], "VALUE", 0xFF, value, error) ||
        !hex_arg(o.args[first + 2], "STATUS", 0xFF, status, error) ||
        (o.check_given && !hex_arg(o.check, "--check", 0xFF, check, error)))
        return bad(o, error);
    if (!o.check_given)
        check = number;
    if (!lib.load(error))
        return failed(o, error);
    int result = 0;
    std::string line;
    if (!call_capturing_stdout(lib, key, static_cast<int>(value), static_cast<int>(status),
                               static_cast<int>(check), static_cast<int>(number), result, line))
        return failed(o, "cannot make a pipe to catch the probe line; nothing was sent");
    // After the call, so that the call itself meets the ports as the tool found them.
    PortsOut walk;
    walk.key = key;
    walk.ports = tarnwick::list_midi_output_ports(count_matching, &walk);
    const bool agrees = (check & 0x7F) == (number & 0x7F);
    const bool probe_line = line == "AB\r\n";
    if (o.json)
        print_json({{"command", "send"}, {"key", show_key(key)}, {"number", number},
                    {"value", value}, {"status", status}, {"check", check}, {"result", result},
                    {"probe_line", probe_line}, {"port_count", walk.ports},
                    {"matching_ports", walk.matching}});
    else
        std::printf("hiddirect_main(\"%s\", value %02X, status %02X, check %02X, number %02X) = %d: %s\n"
                    "probe line \"AB\\r\\n\" written: %s\n"
                    "MIDI output ports: %u; matching the key: %s\n",
                    show_key(key).c_str(), value, status, check, number, result,
                    meaning_of(result, agrees, walk), probe_line ? "yes" : "no", walk.ports,
                    walk.matching.empty() ? "none" : indexes(walk.matching).c_str());
    return result == 0 ? 0 : 1;
}

namespace {

void print_port(const tarnwick::MidiPortInfo &p, void *context)
{
    auto &out = *static_cast<PortsOut *>(context);
    ++out.ports;
    std::size_t length = 0;
    while (length < 32 && p.name[length] != 0)
        ++length;
    // A port whose capabilities cannot be read has no name to show.
    const bool known = p.opened && p.caps_status == 0;
    const Json name = known ? Json(show_wide(p.name, length)) : Json();
    const Json first8 = known ? Json(show_wide(p.name, length < 8 ? length : 8)) : Json();
    const char *state = !p.opened ? "cannot be opened or identified"
                        : !known  ? "capabilities cannot be read"
                                  : "ok";
    Json row = {{"index", p.index}, {"name", name}, {"key", first8}, {"state", state}};
    std::string verdict;
    if (out.key != nullptr) {
        KeyMatch m;
        const bool usable = port_matches(p, out.key, m);
        if (m.matches)
            out.matching.push_back(p.index);
        const std::string why = usable ? explain(m) : "the library cannot read its name";
        row["sent_to"] = m.matches;
        row["differs_at"] = usable && !m.matches ? Json(m.position + 1) : Json();
        row["why"] = why;
        verdict = std::string("\n       ") + (m.matches ? "sent to: " : "not sent to: ") + why;
    }
    if (out.json) {
        out.list.push_back(row);
        return;
    }
    const auto quoted = [](const Json &text) {
        return text.is_null() ? std::string("(unknown)") : "\"" + text.get<std::string>() + "\"";
    };
    std::printf("%5u  %-34s %-10s %s%s\n", p.index, quoted(name).c_str(), quoted(first8).c_str(),
                state, verdict.c_str());
}

} // namespace

int run_ports(const Options &o)
{
    if (!o.args.empty())
        return bad(o, "ports takes no arguments");
    unsigned char key[8];
    if (o.key_given || o.key_hex_given)
        if (const int status = read_key(o, o.key, "--key", key))
            return status;
    PortsOut out;
    out.json = o.json;
    out.key = o.key_given || o.key_hex_given ? key : nullptr;
    if (!o.json)
        std::printf("index  product name                       key        state\n");
    tarnwick::list_midi_output_ports(print_port, &out);
    if (o.json) {
        Json result = {{"command", "ports"}, {"ports", out.list}};
        if (out.key != nullptr) {
            result["with_key"] = show_key(key);
            result["sent_to"] = out.matching;
        }
        print_json(result);
        return 0;
    }
    if (out.ports == 0)
        std::printf("(no MIDI output ports)\n");
    if (out.key != nullptr)
        std::printf("key \"%s\": hiddirect_main sends to %s of %u port(s)%s%s\n",
                    show_key(key).c_str(),
                    out.matching.empty() ? "none" : std::to_string(out.matching.size()).c_str(),
                    out.ports, out.matching.empty() ? "" : ": ", indexes(out.matching).c_str());
    return 0;
}

} // namespace cli
