// tarnwick-cli as a script would run it: exit status, output, and what the
// virtual peripheral saw. Bad input must reach no library call at all.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "harness.h"

namespace {

const char kDevice[] = "port \"PERIPHRL MIDI 1\"\n"
                       "port \"Other Synth\" caps=6\n"
                       "port \"\\u00c9tude\"\n"
                       // Two names that differ only by a backslash: a literal
                       // "\xC9" and the character U+00C9 itself.
                       "port \"\\\\xC9 lit\"\n"
                       "port \"\\u00c9 lit\"\n"
                       "usb \"USB\\VID_1A2B&PID_3C4D&REV_0100\"\n"
                       "usb \"USB\\VID_1A2B&PID_3C4D&MI_00\"\n"
                       "usb \"USB\\VID_1A2B&PID_3C4D&MI_01\"\n"
                       "usb \"USB\\ROOT_HUB30&VID1A2B&PID3C4D\"\n"
                       // ID texts of bytes 00, 1B (escape) and 80 and above:
                       // the low bytes of these characters.
                       "usb \"USB\\VID_\\u01001\\u011b\\u00c9&PID_\\u0080AA\\u001b\"\n"
                       "usb \"USB\\VID_1a2b&PID_3C4D\"\n";

// No ports, and a device list that cannot be built.
const char kNothing[] = "classdevs fail\n";

struct CliRun {
    unsigned long exit;
    std::string out, err, report;
};

// Both architectures' test programs share one Wine prefix and may run at once.
std::string temp_path(const char *name)
{
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    return std::string(dir) + std::to_string(GetCurrentProcessId()) + "-" + name;
}

unsigned g_runs = 0, g_rows = 0;

// Under emulation every run of the tool is a new 32-bit Wine process, many
// times dearer than natively: the tables then make only these representative
// runs (a bad argument, a presence query with its table, the direct command);
// the 64-bit tree makes them all.
bool runs_here(const std::string &args)
{
    static const bool few = std::getenv("TARNWICK_FEW_CHILD_RUNS") != nullptr;
    static const std::set<std::string> representative = {
        u8"send \u65E5\u672C\u8A9E 3C 40 B2", u8"--json send \u65E5\u672C\u8A9E 3C 40 B2",
        "scan 1A2F 3C4D", "send PERIPHRL 3C 40 B2"};
    ++g_rows;
    return !few || representative.count(args) != 0;
}

struct Setting {
    bool set;
    std::string value;
};

Setting setting(const char *name)
{
    char value[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? Setting{true, std::string(value, n)} : Setting{false, {}};
}

void restore(const char *name, const Setting &s)
{
    SetEnvironmentVariableA(name, s.set ? s.value.c_str() : nullptr);
}

bool valid_utf8(const std::string &text)
{
    return text.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                               static_cast<int>(text.size()), nullptr, 0) > 0;
}

CliRun run_cli(const std::string &args, const char *device = kDevice)
{
    ++g_runs;
    const std::string description = temp_path("tarnwick-cli-test.vp");
    const std::string report = temp_path("tarnwick-cli-test.report");
    std::ofstream(description, std::ios::binary) << device;
    DeleteFileA(report.c_str());
    // This process's own settings, given back after the run.
    const Setting own_file = setting("TARNWICK_VP_FILE");
    const Setting own_report = setting("TARNWICK_VP_REPORT");
    SetEnvironmentVariableA("TARNWICK_VP_FILE", description.c_str());
    SetEnvironmentVariableA("TARNWICK_VP_REPORT", report.c_str());

    const host::ProcessRun tool = host::run_process("tarnwick-cli.exe " + args);
    CliRun run{tool.exit, tool.out, tool.err, {}};
    std::ifstream in(report, std::ios::binary);
    run.report.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    EXPECT_TRUE(valid_utf8(run.out) && valid_utf8(run.err)) << args << "\n" << run.out << run.err;
    // This process's own stand-in reports at exit too: not into these files.
    restore("TARNWICK_VP_FILE", own_file);
    restore("TARNWICK_VP_REPORT", own_report);
    DeleteFileA(report.c_str());
    DeleteFileA(description.c_str());
    return run;
}

struct BadCase {
    const char *args;
    const char *message; // what stderr must say
};

TEST(Cli, BadInputIsRefusedBeforeAnyCall)
{
    const BadCase cases[] = {
        {"count 1A2B", "count takes VID PID"},
        {"count 1A2G 3C4D", "VID is not hexadecimal: '1A2G'"},
        {"count 10000 3C4D", "VID out of range: '10000'"},
        {"count 1A2B 0x", "PID is not hexadecimal"},
        {"scan 1A2F -1", "PID is not hexadecimal: '-1'"},
        {"result 11", "scan VID PID --entry N"},
        // --entry is hex like every other number.
        {"scan 1A2F 3C4D --entry 100", "--entry out of range: '100' (at most FF)"},
        {"scan 1A2F 3C4D --entry ten", "--entry is not hexadecimal: 'ten'"},
        {"send PERIPHRL1 3C 40 B2", "NAME 'PERIPHRL1' is longer than eight characters"},
        // No character above U+007F becomes a key byte, nor is it echoed as
        // anything but UTF-8; a backslash is echoed escaped.
        {u8"send \u65E5\u672C\u8A9E 3C 40 B2",
         u8"NAME '\u65E5\u672C\u8A9E': character 1 (U+65E5) cannot be a key byte: a key is 8 "
         u8"bytes, one per character"},
        {u8"--json send \u65E5\u672C\u8A9E 3C 40 B2", "(bytes 80-FF never match)"},
        {u8"ports --key P\u00C9RIPHRL", u8"--key 'P\u00C9RIPHRL': character 2 (U+00C9)"},
        {u8"ports --key \U0001F3B9", "character 1 (U+1F3B9) cannot be a key byte"},
        {u8"count 1A2B \u00C9\\", u8"PID is not hexadecimal: '\u00C9\\\\'"},
        {"send PERIPHRL 3C 40", "send takes NAME NUMBER VALUE STATUS"},
        {"send PERIPHRL --key-hex 504552495048524C 3C 40 B2", "send takes the key once"},
        {"send PERIPHRL 3C 100 B2", "VALUE out of range: '100'"},
        {"send PERIPHRL 3C 40 G2", "STATUS is not hexadecimal: 'G2'"},
        {"send PERIPHRL 3X 40 B2", "NUMBER is not hexadecimal: '3X'"},
        {"--json send PERIPHRL 3C 40 B2 --check 1FF", "--check out of range: '1FF'"},
        {"send PERIPHRL 3C 40 B2 --check", "--check needs a value"},
        {"send --key-hex 50455249 3C 40 B2", "--key-hex takes sixteen hex digits"},
        {"count 1A2B 3C4D --check 3", "--check belongs to send"},
        {"count 1A2B 3C4D --entry 3", "--entry belongs to scan"},
        {"--version count", "--version takes no arguments"},
        {"ports now", "ports takes no arguments"},
        {"devices all --json", "devices takes no arguments"},
        {"ports --key PERIPHRL1", "--key 'PERIPHRL1' is longer than eight characters"},
        {"ports --key P --key-hex 5045524950485200", "give the key once"},
        {"count 1A2B 3C4D --key P", "--key belongs to ports"},
        {"erase 1A2B", "unknown command 'erase'"},
        {"count --verbose 1A2B 3C4D --json", "unknown option --verbose"},
        // Nothing is guessed: not which of two values counts, not whether a
        // value that reads like an option is one, not an empty command.
        {"scan 1A2F 3C4D --entry B --entry C", "--entry given twice"},
        {"--json --json count 1A2B 3C4D", "--json given twice"},
        {"--help ports -h", "-h given twice"},
        {"ports --key --version", "--key '--version' is longer than eight characters"},
        {"\"\" count 1A2B 3C4D", "an empty command"},
        {"send \"\" 3C 40 B2", "NAME is empty"},
        {"count -- --verbose 3C4D", "VID is not hexadecimal: '--verbose'"},
        // What would not show as itself is shown escaped.
        {u8"count 1A2B\u200B 3C4D", "VID is not hexadecimal: '1A2B\\u200B'"},
        {"", "usage: tarnwick-cli"},
    };
    for (const BadCase &c : cases) {
        if (!runs_here(c.args))
            continue;
        const CliRun run = run_cli(c.args);
        EXPECT_EQ(run.exit, 2u) << c.args << "\n" << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.args << "\n" << run.err;
        if (std::string(c.args).find("--json") == std::string::npos) {
            EXPECT_EQ(run.out, "") << c.args;
        } else {
            // A script reading standard output learns of the error there too.
            const auto out = nlohmann::json::parse(run.out, nullptr, false);
            ASSERT_TRUE(out.is_object()) << c.args << "\n" << run.out;
            EXPECT_EQ(out.value("exit", 0), 2) << c.args << "\n" << run.out;
            EXPECT_NE(out.value("error", "").find(c.message), std::string::npos) << run.out;
        }
        // A run that never used the peripheral leaves no report.
        EXPECT_EQ(run.report, "") << c.args;
    }
}

struct GoodCase {
    const char *args;
    DWORD exit;
    std::vector<const char *> out; // each must appear
    const char *report;            // must appear in the peripheral's report (null: none made)
    const char *device = kDevice;  // the description
};

TEST(Cli, EachCommandCallsTheLibrary)
{
    const GoodCase cases[] = {
        {"count 1A2B 3C4D", 0, {"VID 1A2B PID 3C4D: 3 entries\n"}, "set builds 1, destroys 1"},
        // JSON numbers are JSON numbers, in every command.
        {"--json count 0x1a2b 0x3C4D", 0,
         {"{\"command\":\"count\",\"vid\":6699,\"pid\":15437,\"entries\":3}\n"}, ""},
        {"scan 1A2F 3C4D", 0, {"   B  1A2B  3C4D  3\n", "   C  1A2C  3C4D  0\n", "found: 1 of 16"},
         "set builds 1, destroys 1"},
        {"scan 1A2F 3C4D --json", 0, {"\"vid_base\":6688,\"pid\":15437,\"found\":1,",
                                      "{\"vid\":6699,\"entries\":3}"}, ""},
        // The table is read in the run that fills it, by the label it shows.
        {"scan 1A2F 3C4D --entry B", 0, {"found: 1 of 16\nentry B (VID 1A2B): 3\n"},
         "set builds 1, destroys 1"},
        {"--json scan 1A2F 3C4D --entry 0x10", 0,
         {"\"found\":1,\"entry\":{\"index\":16,\"vid\":null,\"entries\":0}}"}, ""},
        {"send PERIPHRL 3C 40 B2", 0,
         {"= 0: every broadcast succeeded\nprobe line \"AB\\r\\n\" written: yes\n"
          "MIDI output ports: 5; matching the key: index 0\n"},
         "port 0 \"PERIPHRL MIDI 1\": FF / 92 3C 40 / 82 3C 40 / B2 3C 40 / FF"},
        {"send --key-hex 504552495048524C 3C 40 B2 --json", 0,
         {"\"key\":\"PERIPHRL\",\"number\":60,\"value\":64,\"status\":178,\"check\":60,",
          "\"result\":0,\"probe_line\":true,\"port_count\":5,\"matching_ports\":[0]}"},
         "sends 5;"},
        {"send PERIPHRL 3C 40 B2 --check 3D", 1, {"= 1: number check disagrees"}, "sends 0;"},
        {"send PERIPHRL 3C 40 B2 --check BC", 0, {"check BC, number 3C) = 0"}, "sends 5;"},
        {"send NOPE 3C 40 B2", 1, {"= 5: every broadcast failed: no port matches the key\n"},
         "sends 0;"},
        {"send PERIPHRL 3C 7F B2", 0,
         {"= 0: there is no MIDI output port, so nothing was sent\n", "ports: 0; matching the "
          "key: none\n"}, "sends 0;", kNothing},
        // A name is never lost, nor shown like another: the backslash is escaped.
        {"ports", 0,
         {"    0  \"PERIPHRL MIDI 1\"                  \"PERIPHRL\" ok\n",
          "    1  (unknown)                          (unknown)  capabilities cannot be read\n",
          "    3  \"\\\\xC9 lit\"                        \"\\\\xC9 lit\" ok\n",
          "    4  \"\\xC9 lit\"                         \"\\xC9 lit\" ok\n"},
         "handle faults: none"},
        {"--json ports", 0,
         {"{\"index\":1,\"name\":null,\"key\":null,",
          "\"name\":\"\\\\\\\\xC9 lit\",", "\"name\":\"\\\\xC9 lit\","}, ""},
        // Which ports the library would send to, and where the others differ.
        {"ports --key PERIPHRL", 0,
         {"    0  \"PERIPHRL MIDI 1\"                  \"PERIPHRL\" ok\n"
          "       sent to: all eight characters agree with the key\n",
          "not sent to: the library cannot read its name\n",
          "not sent to: character 1 is \"\\xC9\", the key has \"P\"\n",
          "not sent to: character 1 is \"\\\\\", the key has \"P\"\n",
          "key \"PERIPHRL\": hiddirect_main sends to 1 of 5 port(s): index 0\n"},
         "sends 0;"},
        {"--json ports --key-hex 5045524950485200", 0,
         {"\"sent_to\":false,\"differs_at\":8,\"why\":\"character 8 is \\\"L\\\", where the key has "
          "ended (a zero byte)\"", "\"with_key\":\"PERIPHR\\\\x00\",\"sent_to\":[]}"},
         ""},
        {"devices --json", 0,
         {"\"hardware_id\":\"USB\\\\\\\\VID_1A2B&PID_3C4D&MI_01\",\"vid\":\"1A2B\",\"pid\":\"3C4D\","
          "\"can_match\":true,\"state\":\"ok\"",
          "\"vid\":null,\"pid\":null,\"can_match\":false,\"state\":\"the first \\\"V\\\" does not "
          "start \\\"VID_\\\"\"",
          "\"vid\":\"1a2b\",\"pid\":\"3C4D\",\"can_match\":false,\"state\":\"never counted: the VID "
          "text has a lower-case hex digit\""},
         "set builds 1, destroys 1"},
        // ID texts are shown escaped: no byte 0 cuts them, no control byte
        // reaches a terminal, no byte above 7F makes the JSON invalid.
        {"devices", 0,
         {"    4  \\x001\\x1B\\xC9  \\x80AA\\x1B  USB\\\\VID_\\u01001\\u011B\\xC9&PID_\\x80AA\\x1B  "
          "-- never counted: the VID text has a character that is not a hex digit\n"}, ""},
        {"--json devices", 0, {"\"vid\":\"\\\\x001\\\\x1B\\\\xC9\",\"pid\":\"\\\\x80AA\\\\x1B\""}, ""},
        // The list that cannot be obtained is a failure, in either form.
        {"devices", 1, {}, "set builds 1, destroys 0", kNothing},
        // The library counts 0 for no entry and for no list alike; the tool tells.
        {"count 1A2B 3C4D", 1, {}, "set builds 2, destroys 0", kNothing},
        {"--json devices", 1,
         {"{\"command\":\"devices\",\"error\":\"the USB device list cannot be obtained\","
          "\"exit\":1}\n"}, "", kNothing},
        {"--version", 0, {"tarnwick-cli " TARNWICK_VERSION_STRING "\ntarnwick.dll " TARNWICK_VERSION_STRING ".0 (", "\\tarnwick.dll)\n"}, nullptr},
        {"--json --version", 0, {"{\"command\":\"version\",\"tool\":\"" TARNWICK_VERSION_STRING "\",\"library\":{\"version\":\"" TARNWICK_VERSION_STRING ".0\",\"path\":\""}, nullptr},
    };
    for (const GoodCase &c : cases) {
        if (!runs_here(c.args))
            continue;
        const CliRun run = run_cli(c.args, c.device);
        EXPECT_EQ(run.exit, c.exit) << c.args << "\n" << run.err;
        if (std::string(c.args).find("--json") != std::string::npos) {
            EXPECT_TRUE(nlohmann::json::accept(run.out)) << c.args << "\n" << run.out;
        }
        for (const char *text : c.out)
            EXPECT_NE(run.out.find(text), std::string::npos) << c.args << "\n" << run.out;
        if (c.report == nullptr) {
            EXPECT_EQ(run.report, "") << c.args;
            continue;
        }
        EXPECT_NE(run.report.find(c.report), std::string::npos) << c.args << "\n" << run.report;
        EXPECT_NE(run.report.find("handle faults: none"), std::string::npos) << c.args << "\n" << run.report;
    }
}

TEST(Cli, EveryCommandHasHelp)
{
    for (const char *command : {"count", "scan", "send", "ports", "devices"}) {
        if (!runs_here(std::string(command) + " --help"))
            continue;
        const CliRun run = run_cli(std::string(command) + " --help");
        EXPECT_EQ(run.exit, 0u) << command << "\n" << run.err;
        EXPECT_EQ(run.out.rfind(std::string("usage: tarnwick-cli [--json] ") + command, 0), 0u)
            << run.out;
        EXPECT_EQ(run.report, "") << command;
    }
    if (!runs_here("--help"))
        return;
    const CliRun run = run_cli("--help");
    EXPECT_EQ(run.exit, 0u) << run.err;
}

TEST(Cli, Summary)
{
    std::printf("figure: tarnwick-cli (%s): %u of %u table rows run as a child process\n",
                host::kArch, g_runs, g_rows);
    EXPECT_GE(g_runs, 3u);
}

} // namespace
