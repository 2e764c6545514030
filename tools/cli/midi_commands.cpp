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

const char *meaning_of(int result, bool check_agrees)
{
    if (!check_agrees)
        return "number check disagrees: nothing sent";
    if (result == 0)
        return "every broadcast succeeded (or there is no MIDI output port)";
    if (result == 5)
        return "every broadcast failed: no port matched, or none could be used";
    return "some broadcasts reported a failure";
}

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
// bytes); 0, or the exit status for bad arguments. too_long: what is said of
// a name of more than eight characters.
int read_key(const Options &o, const std::string &name, const char *too_long,
             unsigned char key[8])
{
    if (o.key_hex_given)
        return parse_hex_key(o.key_hex, key)
                   ? 0
                   : bad("--key-hex takes sixteen hex digits (eight bytes): '" + o.key_hex + "'");
    return parse_name_key(name, key) ? 0 : bad(std::string(too_long) + ": '" + name + "'");
}

} // namespace

int run_send(const Options &o, Library &lib)
{
    unsigned char key[8];
    if (!o.key_hex_given && o.args.empty())
        return bad("send takes NAME NUMBER VALUE STATUS");
    const std::size_t first = o.key_hex_given ? 0 : 1;
    if (const int status = read_key(o, first ? o.args[0] : "",
                                    "NAME is longer than eight characters", key))
        return status;
    if (o.args.size() != first + 3)
        return bad("send takes NAME NUMBER VALUE STATUS (or --key-hex HEX NUMBER VALUE STATUS)");
    std::uint32_t number = 0, value = 0, status = 0, check = 0;
    std::string error;
    if (!hex_arg(o.args[first], "NUMBER", 0xFF, number, error) ||
        !hex_arg(o.args[first + 1], "VALUE", 0xFF, value, error) ||
        !hex_arg(o.args[first + 2], "STATUS", 0xFF, status, error) ||
        (o.check_given && !hex_arg(o.check, "--check", 0xFF, check, error)))
        return bad(error);
    if (!o.check_given)
        check = number;
    if (!lib.load())
        return 1;
    int result = 0;
    std::string line;
    if (!call_capturing_stdout(lib, key, static_cast<int>(value), static_cast<int>(status),
                               static_cast<int>(check), static_cast<int>(number), result, line))
        return failed("cannot make a pipe to catch the probe line; nothing was sent");
    const bool agrees = (check & 0x7F) == (number & 0x7F);
    const bool probe_line = line == "AB\r\n";
    if (o.json)
        print_json({{"command", "send"}, {"key", show_key(key)}, {"number", number},
                    {"value", value}, {"status", status}, {"check", check}, {"result", result},
                    {"probe_line", probe_line}});
    else
        std::printf("hiddirect_main(\"%s\", value %02X, status %02X, check %02X, number %02X) = %d: %s\n"
                    "probe line \"AB\\r\\n\" written: %s\n",
                    show_key(key).c_str(), value, status, check, number, result,
                    meaning_of(result, agrees), probe_line ? "yes" : "no");
    return result == 0 ? 0 : 1;
}

namespace {

struct PortsOut {
    bool json = false;
    const unsigned char *key = nullptr; // null: no key given
    unsigned ports = 0;
    std::vector<unsigned> matching;
    Json list = Json::array();
};

void print_port(const tarnwick::MidiPortInfo &p, void *context)
{
    auto &out = *static_cast<PortsOut *>(context);
    ++out.ports;
    std::size_t length = 0;
    while (length < 32 && p.name[length] != 0)
        ++length;
    const std::string name = show_wide(p.name, length);
    const std::string first8 = show_wide(p.name, length < 8 ? length : 8);
    const bool usable = p.opened && p.caps_status == 0;
    const char *state = !p.opened ? "cannot be opened or identified"
                        : !usable ? "capabilities cannot be read"
                                  : "ok";
    Json row = {{"index", p.index}, {"name", name}, {"key", first8}, {"state", state}};
    std::string verdict;
    if (out.key != nullptr) {
        // A port the library cannot read has no name to compare: it is never sent to.
        const KeyMatch m = usable ? match_key(p.name, out.key) : KeyMatch{false, 0, 0, 0};
        if (m.matches)
            out.matching.push_back(p.index);
        const std::string why = usable ? explain(m) : "the library cannot read its name";
        row["sent_to"] = m.matches;
        row["differs_at"] = usable && !m.matches ? Json(m.position + 1) : Json();
        row["why"] = why;
        verdict = std::string("\n       ") + (m.matches ? "sent to: " : "not sent to: ") + why;
    }
    if (out.json)
        out.list.push_back(row);
    else
        std::printf("%5u  %-34s %-10s %s%s\n", p.index, ("\"" + name + "\"").c_str(),
                    ("\"" + first8 + "\"").c_str(), state, verdict.c_str());
}

} // namespace

int run_ports(const Options &o)
{
    if (!o.args.empty())
        return bad("ports takes no arguments");
    unsigned char key[8];
    if (o.key_given || o.key_hex_given)
        if (const int status = read_key(o, o.key, "--key NAME is at most eight characters", key))
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
    if (out.key != nullptr) {
        std::string which;
        for (unsigned index : out.matching)
            which += (which.empty() ? " (" : ", ") + std::to_string(index);
        std::printf("key \"%s\": hiddirect_main sends to %u of %u port(s)%s\n",
                    show_key(key).c_str(), static_cast<unsigned>(out.matching.size()), out.ports,
                    which.empty() ? "" : (which + ")").c_str());
    }
    return 0;
}

} // namespace cli
