// tarnwick-cli: each export of tarnwick.dll from a shell, plus the port and
// device lists the library itself sees.
#include <algorithm>
#include <cstdio>
#include <vector>

#include <nlohmann/json.hpp>

#include "args.h"
#include "cli.h"

namespace cli {

int bad(const std::string &message)
{
    std::fprintf(stderr, "tarnwick-cli: %s (see tarnwick-cli --help)\n", message.c_str());
    return kBadArguments;
}

int failed(const std::string &message)
{
    std::fprintf(stderr, "tarnwick-cli: %s\n", message.c_str());
    return 1;
}

bool hex_arg(const std::string &text, const char *name, std::uint32_t max, std::uint32_t &value,
             std::string &error)
{
    const Parsed parsed = parse_hex(text, max, value);
    if (parsed == Parsed::not_a_number) {
        error = std::string(name) + " is not hexadecimal: '" + text + "'";
        return false;
    }
    if (parsed == Parsed::out_of_range) {
        char limit[16];
        std::snprintf(limit, sizeof limit, "%X", max);
        error = std::string(name) + " out of range: '" + text + "' (at most " + limit + ")";
        return false;
    }
    return true;
}

std::string hex4(std::uint32_t v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", v & 0xFFFF);
    return buf;
}

void print_json(const Json &value) { std::printf("%s\n", value.dump().c_str()); }

int run_version(const Options &o, Library &lib)
{
    if (!o.args.empty())
        return bad("--version takes no arguments");
    const bool loaded = lib.load();
    const std::string path = loaded ? lib.path() : "";
    const std::string version = loaded ? lib.file_version() : "";
    if (o.json) {
        print_json({{"command", "version"},
                    {"tool", TARNWICK_VERSION_STRING},
                    {"library", loaded ? Json{{"version", version}, {"path", path}}
                                       : Json()}});
    } else {
        std::printf("tarnwick-cli %s\n", TARNWICK_VERSION_STRING);
        if (loaded)
            std::printf("tarnwick.dll %s (%s)\n",
                        version.empty() ? "without a version resource" : version.c_str(),
                        path.c_str());
    }
    return loaded ? 0 : 1;
}

} // namespace cli

namespace {

using cli::Options;

struct Command {
    const char *name;
    const char *synopsis;
    const char *help;
};

const Command kCommands[] = {
    {"count", "count VID PID",
     "Counts the present USB entries with this VID and PID (hex, 0-FFFF: 1A2B or 0x1A2B).\n"
     "Calls compare_usb_device_id_mathing."},
    {"scan", "scan VID PID [--entry N]",
     "Counts the entries of the sixteen VIDs (VID & FFF0) + 0..F with this PID. Calls\n"
     "compare_usb_device_id_mathing_multi, then get_usb_device_matching_result for each\n"
     "slot and prints the table; with --entry, for entry N only (decimal or 0x hex, 0-255;\n"
     "entries 0-15 exist). The table lives in the library's process, so it is read in\n"
     "the same run that fills it."},
    {"send", "send NAME|--key-hex HEX NUMBER VALUE STATUS [--check N]",
     "Sends the direct command to the ports whose name begins with NAME (at most eight\n"
     "characters, padded with zero bytes) or with the eight bytes of --key-hex (sixteen hex\n"
     "digits). NUMBER (key), VALUE (velocity), STATUS (status and channel) and --check are\n"
     "hex bytes, 00-FF; --check defaults to NUMBER. Calls hiddirect_main. Exit status 0 when\n"
     "it returned 0, else 1."},
    {"ports", "ports [--key NAME | --key-hex HEX]",
     "Lists every MIDI output port: index, product name, and its first eight characters as\n"
     "the key comparison sees them. With a key (as send takes it), marks each port\n"
     "hiddirect_main would send to, and says for the others where the name first differs\n"
     "from the key."},
    {"devices", "devices",
     "Lists every present USB entry: its first hardware-ID string and the VID and PID texts\n"
     "found in it, or why none were. Characters outside printable ASCII are shown as \\xHH\n"
     "or \\uHHHH."},
};

void print_usage(FILE *out)
{
    std::fprintf(out, "usage: tarnwick-cli [--json] COMMAND ARGS...\n"
                      "       tarnwick-cli [--json] --version\n\ncommands:\n");
    for (const Command &c : kCommands)
        std::fprintf(out, "  %s\n", c.synopsis);
    std::fprintf(out, "\ntarnwick-cli COMMAND --help describes one. --version prints this tool's\n"
                      "version and the version and path of the tarnwick.dll it loads. Exit status:\n"
                      "0 on success, 1 when the library cannot be loaded or the call reports a\n"
                      "failure, 2 for bad arguments.\n");
}

const Command *find_command(const std::string &name)
{
    for (const Command &c : kCommands)
        if (name == c.name)
            return &c;
    return nullptr;
}

struct ValueOption {
    const char *name;
    std::string Options::*value;
    bool Options::*given;
    std::vector<std::string> commands; // the commands that take it
};

const ValueOption kValueOptions[] = {
    {"--check", &Options::check, &Options::check_given, {"send"}},
    {"--key", &Options::key, &Options::key_given, {"ports"}},
    {"--key-hex", &Options::key_hex, &Options::key_hex_given, {"send", "ports"}},
    {"--entry", &Options::entry, &Options::entry_given, {"scan"}},
};

bool read_options(int argc, char **argv, Options &o, std::string &error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const ValueOption *option = nullptr;
        for (const ValueOption &v : kValueOptions)
            option = a == v.name ? &v : option;
        if (a == "--json") {
            o.json = true;
        } else if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (option != nullptr) {
            if (i + 1 >= argc) {
                error = a + " needs a value";
                return false;
            }
            o.*(option->value) = argv[++i];
            o.*(option->given) = true;
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            error = "unknown option " + a;
            return false;
        } else if (o.command.empty() && !o.version) {
            o.command = a;
        } else {
            o.args.push_back(a);
        }
    }
    for (const ValueOption &v : kValueOptions)
        if (o.*(v.given) && std::find(v.commands.begin(), v.commands.end(), o.command) ==
                                v.commands.end()) {
            error = std::string(v.name) + " belongs to " + v.commands[0] +
                    (v.commands.size() > 1 ? " and " + v.commands[1] : "");
            return false;
        }
    if (o.key_given && o.key_hex_given) {
        error = "give the key once: --key or --key-hex";
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
        return cli::bad(error);
    cli::Library lib;
    if (o.version && !o.help)
        return o.command.empty() ? cli::run_version(o, lib)
                                 : cli::bad("--version takes no command");
    if (o.command.empty()) {
        print_usage(o.help ? stdout : stderr);
        return o.help ? 0 : cli::kBadArguments;
    }
    const Command *command = find_command(o.command);
    if (command == nullptr && o.command == "result")
        return cli::bad("there is no result command: the table lives in one run of the tool, "
                        "so read an entry with scan VID PID --entry N");
    if (command == nullptr)
        return cli::bad("unknown command '" + o.command + "'");
    if (o.help) {
        std::printf("usage: tarnwick-cli [--json] %s\n\n%s\n", command->synopsis, command->help);
        return 0;
    }
    const std::string &c = o.command;
    if (c == "count")
        return cli::run_count(o, lib);
    if (c == "scan")
        return cli::run_scan(o, lib);
    if (c == "send")
        return cli::run_send(o, lib);
    if (c == "ports")
        return cli::run_ports(o);
    return cli::run_devices(o);
}
