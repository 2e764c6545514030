// What the commands of tarnwick-cli share: the parsed command line, the
// loaded library, and how results and errors are printed.
#ifndef TARNWICK_CLI_H
#define TARNWICK_CLI_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "args.h"
#include "tarnwick.h"

namespace cli {

// Keys in the order the tool writes them, for readers as well as scripts.
using Json = nlohmann::ordered_json;

constexpr int kBadArguments = 2;

struct Options {
    bool json = false;
    bool help = false;
    bool version = false;
    std::string command; // as show_arg shows it
    std::vector<Arg> args;
    Arg check, key, key_hex, entry;
    bool check_given = false, key_given = false, key_hex_given = false, entry_given = false;
};

// Prints the message for a bad command line (and, with --json, an error
// object on standard output); returns the exit status for it.
int bad(const Options &o, const std::string &message);

// The same for an error that is not the caller's (exit status 1).
int failed(const Options &o, const std::string &message);

// Hex-or-error for one named argument.
bool hex_arg(const Arg &text, const char *name, std::uint32_t max, std::uint32_t &value,
             std::string &error);

// Four upper-case hex digits.
std::string hex4(std::uint32_t v);

void print_json(const Json &value);

// tarnwick.dll beside the tool, loaded by its full path.
class Library {
public:
    // False, with what went wrong in error, when the DLL cannot be found,
    // loaded or lacks an export.
    bool load(std::string &error);
    // The loaded DLL's path (UTF-8) and its file version from its version
    // resource ("1.0.0.0"; empty when it has none).
    std::string path() const;
    std::string file_version() const;

    tarnwick_compare_usb_device_id_mathing_fn count = nullptr;
    tarnwick_compare_usb_device_id_mathing_multi_fn multi = nullptr;
    tarnwick_get_usb_device_matching_result_fn result = nullptr;
    tarnwick_hiddirect_main_fn send = nullptr;

private:
    HMODULE module_ = nullptr;
};

int run_count(const Options &o, Library &lib);
int run_scan(const Options &o, Library &lib);
int run_devices(const Options &o);
int run_send(const Options &o, Library &lib);
int run_ports(const Options &o);
int run_version(const Options &o, Library &lib);

} // namespace cli

#endif
