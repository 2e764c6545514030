// tarnwick-cli: each export of tarnwick.dll from a shell, plus the port and
// device lists the library itself sees.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "args.h"
#include "midi_ports.h"
#include "tarnwick.h"
#include "usb_entries.h"

namespace {

constexpr int kBadArguments = 2;

struct Command {
    const char *name;
    const char *synopsis;
    const char *help;
};

const Command kCommands[] = {
    {"count", "count VID PID",
     "Counts the present USB entries with this VID and PID (hex, 0-FFFF: 1A2B or 0x1A2B).\n"
     "Calls compare_usb_device_id_mathing."},
    {"scan", "scan VID PID",
     "Counts the entries of the sixteen VIDs (VID & FFF0) + 0..F with this PID and prints\n"
     "the table. Calls compare_usb_device_id_mathing_multi, then\n"
     "get_usb_device_matching_result for each slot."},
    {"result", "result INDEX",
     "Reads one entry of the table of the last scan made in this process (INDEX decimal or\n"
     "0x hex, 0-255; entries 0-15 exist). Calls get_usb_device_matching_result."},
    {"send", "send NAME|--key-hex HEX NUMBER VALUE STATUS [--check N]",
     "Sends the direct command to the ports whose name begins with NAME (at most eight\n"
     "characters, padded with zero bytes) or with the eight bytes of --key-hex (sixteen hex\n"
     "digits). NUMBER (key), VALUE (velocity), STATUS (status and channel) and --check are\n"
     "hex bytes, 00-FF; --check defaults to NUMBER. Calls hiddirect_main. Exit status 0 when\n"
     "it returned 0, else 1."},
    {"ports", "ports",
     "Lists every MIDI output port: index, product name, and its first eight characters as\n"
     "the key comparison sees them."},
    {"devices", "devices",
     "Lists every present USB entry: its first hardware-ID string and the VID and PID texts\n"
     "found in it, or why none were."},
};

struct Options {
    bool json = false;
    bool help = false;
    std::string command;
    std::vector<std::string> args;
    std::string check, key_hex;
    bool check_given = false, key_hex_given = false;
};

int bad(const std::string &message)
{
    std::fprintf(stderr, "tarnwick-cli: %s (see tarnwick-cli --help)\n", message.c_str());
    return kBadArguments;
}

void print_usage(FILE *out)
{
    std::fprintf(out, "usage: tarnwick-cli [--json] COMMAND ARGS...\n\ncommands:\n");
    for (const Command &c : kCommands)
        std::fprintf(out, "  %s\n", c.synopsis);
    std::fprintf(out, "\ntarnwick-cli COMMAND --help describes one. Exit status: 0 on success, 1 when\n"
                      "the library cannot be loaded or the call reports a failure, 2 for bad arguments.\n");
}

const Command *find_command(const std::string &name)
{
    for (const Command &c : kCommands)
        if (name == c.name)
            return &c;
    return nullptr;
}

// Hex-or-error for one named argument.
bool hex_arg(const std::string &text, const char *name, std::uint32_t max, std::uint32_t &value,
             std::string &error)
{
    const cli::Parsed parsed = cli::parse_hex(text, max, value);
    if (parsed == cli::Parsed::not_a_number) {
        error = std::string(name) + " is not hexadecimal: '" + text + "'";
        return false;
    }
    if (parsed == cli::Parsed::out_of_range) {
        char limit[16];
        std::snprintf(limit, sizeof limit, "%X", max);
        error = std::string(name) + " out of range: '" + text + "' (at most " + limit + ")";
        return false;
    }
    return true;
}

class Library {
public:
    bool load()
    {
        wchar_t path[MAX_PATH];
        const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring dll(path, n);
        dll.replace(dll.find_last_of(L"\\/") + 1, std::wstring::npos, L"tarnwick.dll");
        module_ = LoadLibraryW(dll.c_str());
        if (module_ == nullptr) {
            std::fprintf(stderr, "tarnwick-cli: cannot load tarnwick.dll beside tarnwick-cli.exe\n");
            return false;
        }
        count = export_of<tarnwick_compare_usb_device_id_mathing_fn>("compare_usb_device_id_mathing");
        multi = export_of<tarnwick_compare_usb_device_id_mathing_multi_fn>("compare_usb_device_id_mathing_multi");
        result = export_of<tarnwick_get_usb_device_matching_result_fn>("get_usb_device_matching_result");
        send = export_of<tarnwick_hiddirect_main_fn>("hiddirect_main");
        if (!count || !multi || !result || !send) {
            std::fprintf(stderr, "tarnwick-cli: tarnwick.dll lacks an export\n");
            return false;
        }
        return true;
    }

    tarnwick_compare_usb_device_id_mathing_fn count = nullptr;
    tarnwick_compare_usb_device_id_mathing_multi_fn multi = nullptr;
    tarnwick_get_usb_device_matching_result_fn result = nullptr;
    tarnwick_hiddirect_main_fn send = nullptr;

private:
    // The detour through void(*)() tells the compiler the type change is meant.
    template <typename F> F export_of(const char *name) const
    {
        return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module_, name)));
    }

    HMODULE module_ = nullptr;
};

std::string hex4(std::uint32_t v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", v & 0xFFFF);
    return buf;
}

// 0, or the exit status for bad arguments.
int read_vid_pid(const Options &o, std::uint32_t &vid, std::uint32_t &pid)
{
    std::string error;
    if (o.args.size() != 2)
        return bad(o.command + " takes VID PID");
    if (!hex_arg(o.args[0], "VID", 0xFFFF, vid, error) ||
        !hex_arg(o.args[1], "PID", 0xFFFF, pid, error))
        return bad(error);
    return 0;
}

int run_count(const Options &o, Library &lib)
{
    std::uint32_t vid = 0, pid = 0;
    if (const int status = read_vid_pid(o, vid, pid))
        return status;
    if (!lib.load())
        return 1;
    const int n = lib.count(static_cast<int>(vid), static_cast<int>(pid));
    if (o.json)
        std::printf("{\"command\":\"count\",\"vid\":\"%s\",\"pid\":\"%s\",\"entries\":%d}\n",
                    hex4(vid).c_str(), hex4(pid).c_str(), n);
    else
        std::printf("VID %s PID %s: %d entr%s\n", hex4(vid).c_str(), hex4(pid).c_str(), n,
                    n == 1 ? "y" : "ies");
    return 0;
}

int run_scan(const Options &o, Library &lib)
{
    std::uint32_t vid = 0, pid = 0;
    if (const int status = read_vid_pid(o, vid, pid))
        return status;
    if (!lib.load())
        return 1;
    const int found = lib.multi(static_cast<int>(vid), static_cast<int>(pid));
    const std::uint32_t base = vid & 0xFFF0;
    int slots[16];
    for (int s = 0; s < 16; ++s)
        slots[s] = lib.result(s);
    if (o.json) {
        std::printf("{\"command\":\"scan\",\"vid_base\":\"%s\",\"pid\":\"%s\",\"found\":%d,"
                    "\"slots\":[", hex4(base).c_str(), hex4(pid).c_str(), found);
        for (int s = 0; s < 16; ++s)
            std::printf("%s{\"vid\":\"%s\",\"entries\":%d}", s ? "," : "",
                        hex4(base + s).c_str(), slots[s]);
        std::printf("]}\n");
    } else {
        std::printf("slot  VID   PID   entries\n");
        for (int s = 0; s < 16; ++s)
            std::printf("%4X  %s  %s  %d\n", s, hex4(base + s).c_str(), hex4(pid).c_str(),
                        slots[s]);
        std::printf("found: %d of 16\n", found);
    }
    return 0;
}

int run_result(const Options &o, Library &lib)
{
    std::uint32_t index = 0;
    if (o.args.size() != 1)
        return bad("result takes INDEX");
    if (!cli::parse_decimal_or_hex(o.args[0], 0xFF, index))
        return bad("INDEX is not a number from 0 to 255: '" + o.args[0] + "'");
    if (!lib.load())
        return 1;
    const int n = lib.result(static_cast<int>(index));
    if (o.json)
        std::printf("{\"command\":\"result\",\"index\":%u,\"entries\":%d}\n", index, n);
    else
        std::printf("entry %u: %d\n", index, n);
    return 0;
}

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
// caught here so that --json output stays valid.
std::string call_capturing_stdout(Library &lib, const unsigned char key[8], int value, int status,
                                  int check, int number, int &result)
{
    std::fflush(stdout);
    HANDLE read_end = nullptr, write_end = nullptr;
    CreatePipe(&read_end, &write_end, nullptr, 1 << 16);
    HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, write_end);
    result = lib.send(reinterpret_cast<const char *>(key), value, status, check, number);
    SetStdHandle(STD_OUTPUT_HANDLE, saved);
    CloseHandle(write_end);
    std::string captured;
    char chunk[64];
    DWORD got = 0;
    while (ReadFile(read_end, chunk, sizeof chunk, &got, nullptr) && got > 0)
        captured.append(chunk, got);
    CloseHandle(read_end);
    return captured;
}

int run_send(const Options &o, Library &lib)
{
    unsigned char key[8];
    std::size_t first = 0;
    if (o.key_hex_given) {
        if (!cli::parse_hex_key(o.key_hex, key))
            return bad("--key-hex takes sixteen hex digits (eight bytes): '" + o.key_hex + "'");
    } else {
        if (o.args.empty())
            return bad("send takes NAME NUMBER VALUE STATUS");
        if (!cli::parse_name_key(o.args[0], key))
            return bad("NAME is longer than eight characters: '" + o.args[0] + "'");
        first = 1;
    }
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
    const std::string line =
        call_capturing_stdout(lib, key, static_cast<int>(value), static_cast<int>(status),
                              static_cast<int>(check), static_cast<int>(number), result);
    const bool agrees = (check & 0x7F) == (number & 0x7F);
    const bool probe_line = line == "AB\r\n";
    if (o.json)
        std::printf("{\"command\":\"send\",\"key\":%s,\"number\":%u,\"value\":%u,\"status\":%u,"
                    "\"check\":%u,\"result\":%d,\"probe_line\":%s}\n",
                    cli::json_string(cli::show_key(key)).c_str(), number, value, status, check,
                    result, probe_line ? "true" : "false");
    else
        std::printf("hiddirect_main(\"%s\", value %02X, status %02X, check %02X, number %02X) = %d: %s\n"
                    "probe line \"AB\\r\\n\" written: %s\n",
                    cli::show_key(key).c_str(), value, status, check, number, result,
                    meaning_of(result, agrees), probe_line ? "yes" : "no");
    return result == 0 ? 0 : 1;
}

struct PortsOut {
    bool json;
    int printed;
};

void print_port(const tarnwick::MidiPortInfo &p, void *context)
{
    auto &out = *static_cast<PortsOut *>(context);
    std::size_t length = 0;
    while (length < 32 && p.name[length] != 0)
        ++length;
    const std::string name = cli::show_wide(p.name, length);
    const std::string key = cli::show_wide(p.name, length < 8 ? length : 8);
    const char *state = !p.opened ? "cannot be opened or identified"
                        : p.caps_status != 0 ? "capabilities cannot be read"
                                             : "ok";
    if (out.json)
        std::printf("%s{\"index\":%u,\"name\":%s,\"key\":%s,\"state\":%s}", out.printed ? "," : "",
                    p.index, cli::json_string(name).c_str(), cli::json_string(key).c_str(),
                    cli::json_string(state).c_str());
    else
        std::printf("%5u  %-34s %-10s %s\n", p.index, ("\"" + name + "\"").c_str(),
                    ("\"" + key + "\"").c_str(), state);
    ++out.printed;
}

int run_ports(const Options &o)
{
    if (!o.args.empty())
        return bad("ports takes no arguments");
    PortsOut out{o.json, 0};
    if (o.json)
        std::printf("{\"command\":\"ports\",\"ports\":[");
    else
        std::printf("index  product name                       key        state\n");
    tarnwick::list_midi_output_ports(print_port, &out);
    if (o.json)
        std::printf("]}\n");
    else if (out.printed == 0)
        std::printf("(no MIDI output ports)\n");
    return 0;
}

const char *shape_text(const tarnwick::UsbEntry &e)
{
    using tarnwick::HardwareIdShape;
    if (!e.property_read)
        return "hardware ID cannot be read";
    switch (e.shape) {
    case HardwareIdShape::ids_found: return "ok";
    case HardwareIdShape::no_v: return "no \"V\" in the first string";
    case HardwareIdShape::no_vid_prefix: return "the first \"V\" does not start \"VID_\"";
    case HardwareIdShape::no_pid_prefix: return "no \"&PID_\" after the four VID characters";
    case HardwareIdShape::cut_short: return "the string ends inside the IDs";
    }
    return "?";
}

void print_device(const tarnwick::UsbEntry &e, void *context)
{
    auto &out = *static_cast<PortsOut *>(context);
    std::vector<std::uint16_t> first;
    for (std::size_t i = 0; e.property_read && i + 1 < e.property_size; i += 2) {
        const auto c = static_cast<std::uint16_t>(e.property[i] | (e.property[i + 1] << 8));
        if (c == 0)
            break;
        first.push_back(c);
    }
    const std::string id = cli::show_wide(first.data(), first.size());
    const bool found = e.property_read && e.shape == tarnwick::HardwareIdShape::ids_found;
    const std::string vid = found ? std::string(e.ids.vid, 4) : "";
    const std::string pid = found ? std::string(e.ids.pid, 4) : "";
    if (out.json)
        std::printf("%s{\"index\":%u,\"hardware_id\":%s,\"vid\":%s,\"pid\":%s,\"state\":%s}",
                    out.printed ? "," : "", e.index, cli::json_string(id).c_str(),
                    found ? cli::json_string(vid).c_str() : "null",
                    found ? cli::json_string(pid).c_str() : "null",
                    cli::json_string(shape_text(e)).c_str());
    else
        std::printf("%5u  %-4s  %-4s  %s%s%s\n", e.index, found ? vid.c_str() : "-",
                    found ? pid.c_str() : "-", id.c_str(), found ? "" : "  -- ",
                    found ? "" : shape_text(e));
    ++out.printed;
}

int run_devices(const Options &o)
{
    if (!o.args.empty())
        return bad("devices takes no arguments");
    PortsOut out{o.json, 0};
    if (o.json)
        std::printf("{\"command\":\"devices\",\"devices\":[");
    else
        std::printf("index  VID   PID   first hardware ID\n");
    const bool listed = tarnwick::walk_usb_entries(print_device, &out);
    if (o.json)
        std::printf("],\"listed\":%s}\n", listed ? "true" : "false");
    else if (!listed)
        std::printf("(the USB device list cannot be obtained)\n");
    else if (out.printed == 0)
        std::printf("(no USB entries)\n");
    return 0;
}

bool read_options(int argc, char **argv, Options &o, std::string &error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--json") {
            o.json = true;
        } else if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--check" || a == "--key-hex") {
            if (i + 1 >= argc) {
                error = a + " needs a value";
                return false;
            }
            (a == "--check" ? o.check : o.key_hex) = argv[++i];
            (a == "--check" ? o.check_given : o.key_hex_given) = true;
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            error = "unknown option " + a;
            return false;
        } else if (o.command.empty()) {
            o.command = a;
        } else {
            o.args.push_back(a);
        }
    }
    if ((o.check_given || o.key_hex_given) && o.command != "send") {
        error = "--check and --key-hex belong to send";
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    std::string error;
    if (!read_options(argc, argv, o, error))
        return bad(error);
    if (o.command.empty()) {
        print_usage(o.help ? stdout : stderr);
        return o.help ? 0 : kBadArguments;
    }
    const Command *command = find_command(o.command);
    if (command == nullptr)
        return bad("unknown command '" + o.command + "'");
    if (o.help) {
        std::printf("usage: tarnwick-cli [--json] %s\n\n%s\n", command->synopsis, command->help);
        return 0;
    }
    Library lib;
    const std::string &c = o.command;
    if (c == "count")
        return run_count(o, lib);
    if (c == "scan")
        return run_scan(o, lib);
    if (c == "result")
        return run_result(o, lib);
    if (c == "send")
        return run_send(o, lib);
    if (c == "ports")
        return run_ports(o);
    return run_devices(o);
}
