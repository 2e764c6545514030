// tarnwick-cli: each export of tarnwick.dll from a shell, plus the port and
// device lists the library itself sees.
#include <algorithm>
#include <cstdio>
#include <vector>

#include <nlohmann/json.hpp>

#include "args.h"
#include "cli.h"

namespace cli {

namespace {

// A line on standard error, in UTF-8; a console gets it as UTF-16, so that it
// reads right whatever the console's code page.
void print_error(const std::string &text)
{
    const std::string line = "tarnwick-cli: " + text + "\n";
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(err, &mode)) {
        std::fputs(line.c_str(), stderr);
        return;
    }
    std::wstring wide(line.size(), L'\0');
    wide.resize(static_cast<std::size_t>(MultiByteToWideChar(
        CP_UTF8, 0, line.data(), static_cast<int>(line.size()), &wide[0], static_cast<int>(wide.size()))));
    DWORD written = 0;
    WriteConsoleW(err, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

int report(const Options &o, const std::string &message, const char *hint, int status)
{
    print_error(message + hint);
    // A script that reads standard output gets the error there too.
    if (o.json)
        print_json({{"command", o.command.empty() ? Json() : Json(o.command)},
                    {"error", message},
                    {"exit", status}});
    return status;
}

} // namespace

int bad(const Options &o, const std::string &message)
{
    return report(o, message, " (see tarnwick-cli --help)", kBadArguments);
}

int failed(const Options &o, const std::string &message) { return report(o, message, "", 1); }

bool hex_arg(const Arg &text, const char *name, std::uint32_t max, std::uint32_t &value,
             std::string &error)
{
    const Parsed parsed = parse_hex(text, max, value);
    if (parsed == Parsed::not_a_number) {
        error = std::string(name) + " is not hexadecimal: '" + show_arg(text) + "'";
        return false;
    }
    if (parsed == Parsed::out_of_range) {
        char limit[16];
        std::snprintf(limit, sizeof limit, "%X", max);
        error = std::string(name) + " out of range: '" + show_arg(text) + "' (at most " + limit + ")";
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

// ASCII only (anything else as \uXXXX): valid on any console or code page.
void print_json(const Json &value) { std::printf("%s\n", value.dump(-1, ' ', true).c_str()); }

int run_version(const Options &o, Library &lib)
{
    if (!o.args.empty())
        return bad(o, "--version takes no arguments");
    std::string error;
    const bool loaded = lib.load(error);
    const std::string path = loaded ? lib.path() : "";
    const std::string version = loaded ? lib.file_version() : "";
    if (o.json) {
        Json out = {{"command", "version"},
                    {"tool", TARNWICK_VERSION_STRING},
                    {"library", loaded ? Json{{"version", version}, {"path", path}} : Json()}};
        if (!loaded) {
            out["error"] = error;
            out["exit"] = 1;
        }
        print_json(out);
    } else {
        std::printf("tarnwick-cli %s\n", TARNWICK_VERSION_STRING);
        if (loaded)
            std::printf("tarnwick.dll %s (%s)\n",
                        version.empty() ? "without a version resource" : version.c_str(),
                        path.c_str());
        else
            print_error(error);
    }
    return loaded ? 0 : 1;
}

} // namespace cli

namespace {

using cli::Arg;
using cli::Options;

struct Command {
    const char *name;
    const char *synopsis;
    const char *help;
};

const Command kCommands[] = {
    {"count", "count VID PID",
     "Counts the present USB entries with this VID and PID (0-FFFF: 1A2B or 0x1A2B).\n"
     "Calls compare_usb_device_id_mathing. Exit status 1 when the count is 0 because the\n"
     "device list cannot be obtained (the library answers 0 for both)."},
    {"scan", "scan VID PID [--entry N]",
     "Counts the entries of the sixteen VIDs (VID & FFF0) + 0..F with this PID. Calls\n"
     "compare_usb_device_id_mathing_multi, then get_usb_device_matching_result for each\n"
     "slot and prints the table; with --entry, for entry N only (0-FF, as the table's slot\n"
     "column labels them: --entry B; entries 0-F exist). The table lives in the library's\n"
     "process, so it is read in the same run that fills it. Exit status 1 when none was\n"
     "found because the device list cannot be obtained."},
    {"send", "send NAME|--key-hex HEX NUMBER VALUE STATUS [--check N]",
     "Sends the direct command to the ports whose name begins with NAME or with the eight\n"
     "bytes of --key-hex (sixteen hex digits, for any bytes). NAME is at most eight ASCII\n"
     "characters, one key byte each, padded with zero bytes; a character above U+007F is\n"
     "refused, as no key byte for it can match a port (bytes 80-FF never match). NUMBER\n"
     "(key), VALUE (velocity), STATUS (status and channel) and --check are bytes, 00-FF;\n"
     "--check defaults to NUMBER. Calls hiddirect_main, then lists the ports (sending\n"
     "nothing) to say which match the key. Exit status 0 when it returned 0, else 1."},
    {"ports", "ports [--key NAME | --key-hex HEX]",
     "Lists every MIDI output port: index, product name, and its first eight characters as\n"
     "the key comparison sees them. With a key (as send takes it), marks each port\n"
     "hiddirect_main would send to, and says for the others where the name first differs\n"
     "from the key."},
    {"devices", "devices",
     "Lists every present USB entry: its first hardware-ID string and the VID and PID texts\n"
     "found in it, or why none were, and marks texts no query can match (lower-case or\n"
     "other characters than hex digits). Exit status 1 when the list cannot be obtained."},
};

void print_usage(FILE *out)
{
    std::fprintf(out, "usage: tarnwick-cli [--json] COMMAND ARGS...\n"
                      "       tarnwick-cli [--json] --version\n\ncommands:\n");
    for (const Command &c : kCommands)
        std::fprintf(out, "  %s\n", c.synopsis);
    std::fprintf(
        out,
        "\nEvery number is hexadecimal, with or without 0x (1A2B, 0x1a2b, B). Names, hardware\n"
        "IDs and ID texts are shown with the backslash as \\\\ and any character outside\n"
        "printable ASCII as \\xHH or \\uHHHH, so two different names never show alike.\n"
        "--json prints one JSON object on standard output, numbers as JSON numbers; an error\n"
        "is an object too: {\"command\", \"error\", \"exit\"}.\n"
        "-- ends the options (for a NAME that begins with -). An option given twice is refused.\n"
        "tarnwick-cli COMMAND --help describes one (as text, --json or not). --version prints\n"
        "this tool's version and the version and path of the tarnwick.dll it loads. Exit\n"
        "status: 0 on success, 1 when the library cannot be loaded or the call reports a\n"
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
    Arg Options::*value;
    bool Options::*given;
    std::vector<std::string> commands; // the commands that take it
};

const ValueOption kValueOptions[] = {
    {"--check", &Options::check, &Options::check_given, {"send"}},
    {"--key", &Options::key, &Options::key_given, {"ports"}},
    {"--key-hex", &Options::key_hex, &Options::key_hex_given, {"send", "ports"}},
    {"--entry", &Options::entry, &Options::entry_given, {"scan"}},
};

const ValueOption *value_option(const std::string &a)
{
    for (const ValueOption &v : kValueOptions)
        if (a == v.name)
            return &v;
    return nullptr;
}

bool read_options(const std::vector<Arg> &argv, Options &o, std::string &error)
{
    // Known before anything can go wrong: an error is then printed as JSON
    // too. An option's value is not an option, whatever it reads.
    for (std::size_t i = 0; i < argv.size() && argv[i] != u"--"; ++i) {
        o.json = o.json || argv[i] == u"--json";
        i += value_option(cli::show_arg(argv[i])) != nullptr ? 1 : 0;
    }
    bool options = true; // until "--": after it, every argument is a plain one
    bool json = false;   // o.json is read above
    for (std::size_t i = 0; i < argv.size(); ++i) {
        const std::string a = cli::show_arg(argv[i]);
        const ValueOption *option = options ? value_option(a) : nullptr;
        if (options && a == "--") {
            options = false;
        } else if (options && (a == "--json" || a == "--help" || a == "-h" || a == "--version")) {
            // Refused twice like every other option: a script that says it
            // twice has lost track of what it says.
            bool &given = a == "--json" ? json : a == "--version" ? o.version : o.help;
            if (given) {
                error = a + " given twice";
                return false;
            }
            given = true;
        } else if (option != nullptr) {
            if (i + 1 >= argv.size()) {
                error = a + " needs a value";
                return false;
            }
            // The last of two would win unseen.
            if (o.*(option->given)) {
                error = a + " given twice";
                return false;
            }
            o.*(option->value) = argv[++i];
            o.*(option->given) = true;
        } else if (options && a.size() > 1 && a[0] == '-' && a[1] == '-') {
            error = "unknown option " + a + " (-- ends the options)";
            return false;
        } else if (o.command.empty() && !o.version) {
            if (a.empty()) {
                error = "an empty command";
                return false;
            }
            o.command = a;
        } else {
            o.args.push_back(argv[i]);
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

int run(const std::vector<Arg> &argv)
{
    Options o;
    std::string error;
    if (!read_options(argv, o, error))
        return cli::bad(o, error);
    cli::Library lib;
    if (o.version && !o.help) {
        const bool alone = o.command.empty();
        o.command = "version";
        return alone ? cli::run_version(o, lib) : cli::bad(o, "--version takes no command");
    }
    if (o.command.empty()) {
        if (o.json && !o.help)
            return cli::bad(o, "no command given");
        print_usage(o.help ? stdout : stderr);
        return o.help ? 0 : cli::kBadArguments;
    }
    const Command *command = find_command(o.command);
    if (command == nullptr && o.command == "result")
        return cli::bad(o, "there is no result command: the table lives in one run of the tool, "
                           "so read an entry with scan VID PID --entry N");
    if (command == nullptr)
        return cli::bad(o, "unknown command '" + o.command + "'");
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

} // namespace

// Built with -municode: the arguments arrive as Windows holds them, in
// UTF-16, never through the ANSI code page (which turns what it cannot hold
// into '?', a valid key byte).
extern "C" int wmain(int argc, wchar_t **argv)
{
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16");
    std::vector<Arg> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(reinterpret_cast<const char16_t *>(argv[i]));
    return run(args);
}
