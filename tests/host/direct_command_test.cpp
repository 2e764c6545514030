// hiddirect_main on the shipped DLL against two counterparts: the virtual
// peripheral's stand-in winmm, and Wine's own winmm taking the same ports
// from the virtual peripheral's driver. One case table drives both runs: the
// bytes each port receives, their order, the result and the probe line.
#include <gtest/gtest.h>
#include <windows.h>

#include <climits>

#include "harness.h"

using namespace host;

namespace {

const std::string kKey("PERIPHRL", 8);
const std::string kPeripheral = "port \"PERIPHRL MIDI 1\"\n";
const std::string kOther = "port \"Other Synth\"\n";
const std::string kAB = "AB\r\n";

std::string key8(const char *text) { return std::string(text, 8); }

// Every call leaves the stack and every handle as it found them.
void expect_clean(const Call &call)
{
    EXPECT_EQ(call.stack_delta, 0) << "export does not use cdecl";
    EXPECT_EQ(faults(), "");
    const vp_counters c = counters();
    EXPECT_EQ(c.midi_opens, c.midi_closes);
}

struct WireCase {
    const char *name;
    std::string description;
    std::string key;
    int value, status_and_channel, number_check, number;
    int result;
    std::vector<std::vector<std::uint8_t>> received; // per port
    std::vector<std::string> sends;                  // "port:word" in order; empty: unchecked
    bool probe_line;
    // Why only the stand-in winmm can present this case; nullptr: both
    // counterparts run it and must agree.
    const char *standin_only = nullptr;
};

// Failures name the case rather than dumping its bytes.
void PrintTo(const WireCase &c, std::ostream *os) { *os << c.name; }

void run_case(const WireCase &c)
{
    load(c.description);
    const Call call = hiddirect(c.key.data(), c.value, c.status_and_channel, c.number_check,
                                c.number);
    EXPECT_EQ(call.result, c.result);
    for (unsigned p = 0; p < c.received.size(); ++p) {
        EXPECT_EQ(port_bytes(p), c.received[p]) << "port " << p;
    }
    if (!c.sends.empty()) {
        EXPECT_EQ(sends(), c.sends);
    }
    EXPECT_EQ(call.stdout_bytes, c.probe_line ? kAB : "");
    expect_clean(call);
}

const auto none = std::vector<std::uint8_t>{};
// What arguments whose low bits are all set, or all clear, send.
const std::vector<std::string> kLowBitsSet = {"0:0x000000ff", "0:0x007f7f9f", "0:0x007f7f8f",
                                              "0:0x007f7fff", "0:0x000000ff"};
const std::vector<std::string> kLowBitsClear = {"0:0x000000ff", "0:0x00000090", "0:0x00000080",
                                                "0:0x00000000", "0:0x000000ff"};

const char kGetId[] = "getid=S: midiOutGetID never reaches a MIDI driver";

const std::vector<WireCase> kCases = {
    WireCase{"one_matching_port_beside_another", kPeripheral + kOther, kKey, 0x40, 0xB2, 0x3C,
             0x3C, 0, {sequence_bytes(0xB2, 0x3C, 0x40), none},
             {"0:0x000000ff", "0:0x00403c92", "0:0x00403c82", "0:0x00403cb2", "0:0x000000ff"},
             true},
    WireCase{"two_matching_ports_lower_index_first",
             kPeripheral + "port \"PERIPHRL MIDI 2\"\n", kKey, 1, 0x90, 2, 2, 0,
             {sequence_bytes(0x90, 2, 1), sequence_bytes(0x90, 2, 1)},
             {"0:0x000000ff", "1:0x000000ff", "0:0x00010290", "1:0x00010290", "0:0x00010280",
              "1:0x00010280", "0:0x00010290", "1:0x00010290", "0:0x000000ff", "1:0x000000ff"},
             true},
    // The last port decides: a failing send on port 0 is hidden by port 1.
    WireCase{"last_non_matching_port_hides_failed_send",
             "port \"PERIPHRL\" send=67\n" + kOther, kKey, 0, 0x90, 1, 1, 0, {none, none}, {},
             true},
    WireCase{"last_port_capability_failure_counts", kPeripheral + "port \"Other\" caps=6\n",
             kKey, 0, 0x90, 1, 1, 5, {sequence_bytes(0x90, 1, 0), none}, {}, false},
    WireCase{"failed_send_on_last_port_counts", "port \"PERIPHRL\" send=67\n", kKey, 0, 0x90,
             1, 1, 5, {none}, {}, true},
    WireCase{"channel_nibble_f", kPeripheral, kKey, 0x10, 0xBF, 0x40, 0x40, 0,
             {sequence_bytes(0xBF, 0x40, 0x10)}, {}, true},
    WireCase{"check_compares_low_seven_bits", kPeripheral, kKey, 0x20, 0x90, 0x85, 0x05, 0,
             {sequence_bytes(0x90, 0x05, 0x20)}, {}, true},
    WireCase{"value_ff_gives_velocity_7f", kPeripheral, kKey, 0xFF, 0x90, 0x7F, 0xFF, 0,
             {sequence_bytes(0x90, 0x7F, 0x7F)}, {}, true},
    WireCase{"status_05_is_handed_over_unchanged", kPeripheral, kKey, 3, 0x05, 9, 9, 0,
             {}, {"0:0x000000ff", "0:0x00030995", "0:0x00030985", "0:0x00030905",
                  "0:0x000000ff"}, true},
    WireCase{"status_ff_is_sent_like_the_others", kPeripheral, kKey, 3, 0xFF, 9, 9, 0,
             {bytes({0xFF, 0x9F, 9, 3, 0x8F, 9, 3, 0xFF, 0xFF})},
             {"0:0x000000ff", "0:0x0003099f", "0:0x0003098f", "0:0x000309ff",
              "0:0x000000ff"}, true},
    WireCase{"key_not_matching_any_port", kPeripheral + kOther, key8("NOSUCHPT"), 0, 0x90, 1,
             1, 5, {none, none}, {}, false},
    WireCase{"no_ports_at_all", "", kKey, 0, 0x90, 1, 1, 0, {}, {}, true},
    WireCase{"number_check_disagrees", kPeripheral, kKey, 0, 0x90, 3, 4, 1, {none}, {}, true},
    // Key bytes are signed: 0x80 and above can never agree, even with U+0080.
    WireCase{"key_byte_80_never_matches", "port \"\\u0080ERIPHRL\"\n", key8("\x80" "ERIPHRL"),
             0, 0x90, 1, 1, 5, {none}, {}, false},
    WireCase{"key_byte_80_is_not_widened_to_ff80", "port \"\\uff80ERIPHRL\"\n",
             key8("\x80" "ERIPHRL"), 0, 0x90, 1, 1, 5, {none}, {}, false},
    WireCase{"key_byte_c9_never_matches", "port \"\\u00c9ERIPHRL\"\n", key8("\xc9" "ERIPHRL"),
             0, 0x90, 1, 1, 5, {none}, {}, false},
    // A short name compares against zeros, whatever the record holds past it.
    WireCase{"short_name_matches_zero_padded_key", "port \"ABC\"\n", key8("ABC\0\0\0\0\0"), 1,
             0x90, 1, 1, 0, {sequence_bytes(0x90, 1, 1)}, {}, true},
    WireCase{"empty_name_matches_all_zero_key", "port \"\"\n", key8("\0\0\0\0\0\0\0\0"), 1,
             0x90, 1, 1, 0, {sequence_bytes(0x90, 1, 1)}, {}, true},
    WireCase{"bytes_after_nul_in_key_take_part", "port \"ABC\"\n", key8("ABC\0XYZ\0"), 1,
             0x90, 1, 1, 5, {none}, {}, false},
    WireCase{"short_name_not_compared_with_earlier_port",
             "port \"ABCDEFGH\"\nport \"ABC\" tail=keep\n", key8("ABC\0\0\0\0\0"), 1, 0x90,
             1, 1, 0, {none, sequence_bytes(0x90, 1, 1)}, {}, true},
    // The record is cleared before each query: "ABC" written without its
    // terminator over what the earlier port left is still "ABC".
    WireCase{"short_name_without_terminator_over_an_earlier_name",
             "port \"ABCDEFGH\"\nport \"ABC\" tail=unterminated\n", key8("ABC\0\0\0\0\0"),
             1, 0x90, 1, 1, 0, {none, sequence_bytes(0x90, 1, 1)}, {}, true},
    WireCase{"name_of_31_characters", "port \"PERIPHRL-a-name-of-31-character\"\n", kKey, 1,
             0x90, 1, 1, 0, {sequence_bytes(0x90, 1, 1)}, {}, true},
    WireCase{"name_characters_past_eight_play_no_part",
             "port \"PERIPHRLxyz\"\nport \"PERIPHRL-a-name-of-32-characters\"\n", kKey, 1,
             0x90, 1, 1, 0, {sequence_bytes(0x90, 1, 1), sequence_bytes(0x90, 1, 1)}, {},
             true},
    // A port that cannot be opened or identified is skipped, never closed.
    WireCase{"port_failing_to_open_is_skipped", "port \"PERIPHRL\" open=4\n" + kPeripheral,
             kKey, 1, 0x90, 1, 1, 0, {none, sequence_bytes(0x90, 1, 1)}, {}, true},
    WireCase{"every_port_failing_to_open", "port \"PERIPHRL\" open=4\nport \"X\" open=4\n",
             kKey, 1, 0x90, 1, 1, 5, {none, none}, {}, false},
    WireCase{"port_failing_identifier_is_skipped",
             kPeripheral + "port \"PERIPHRL 2\" getid=5\n", kKey, 1, 0x90, 1, 1, 0,
             {sequence_bytes(0x90, 1, 1), none}, {}, true, kGetId},
    // A failed close changes nothing: the port was used, and is released.
    WireCase{"failing_close_is_no_failure", "port \"PERIPHRL\" close=7\n" + kOther, kKey, 1,
             0x90, 1, 1, 0, {sequence_bytes(0x90, 1, 1), none}, {}, true},
    WireCase{"matching_name_with_failed_capabilities_is_no_match",
             "port \"PERIPHRL\" caps=6\n" + kPeripheral, kKey, 1, 0x90, 1, 1, 0,
             {none, sequence_bytes(0x90, 1, 1)}, {}, true},
    // Every argument uses only its own bits, whatever lies above them.
    WireCase{"all_arguments_minus_one", kPeripheral, kKey, -1, -1, -1, -1, 0, {}, kLowBitsSet,
             true},
    WireCase{"all_arguments_int_max", kPeripheral, kKey, INT_MAX, INT_MAX, INT_MAX, INT_MAX, 0,
             {}, kLowBitsSet, true},
    WireCase{"all_arguments_int_min", kPeripheral, kKey, INT_MIN, INT_MIN, INT_MIN, INT_MIN, 0,
             {}, kLowBitsClear, true}};

class Wire : public testing::TestWithParam<WireCase> {};

TEST_P(Wire, BytesOrderAndResult) { run_case(GetParam()); }

INSTANTIATE_TEST_SUITE_P(DirectCommand, Wire, testing::ValuesIn(kCases), CaseName());

// Wine's own winmm asks the number of ports once per process: this one
// presents kWinePorts, and the ports a case lacks refuse to open, which the
// library skips without a trace in its results. A case with no ports runs in
// a child process that presents none.
class OnWineWinmm : public testing::TestWithParam<WireCase> {
protected:
    // The tests after these find an empty record.
    void TearDown() override { load(""); }
};

TEST_P(OnWineWinmm, BytesOrderAndResult)
{
    const WireCase &c = GetParam();
    if (c.standin_only != nullptr)
        GTEST_SKIP() << c.standin_only;
    const int presented = wine_winmm_ports();
    if (presented < 0)
        GTEST_SKIP() << kDriverNotTaken;
    const unsigned ports = port_count(c.description);
    if (ports == 0 && presented > 0) {
        const testing::TestInfo &me = *testing::UnitTest::GetInstance()->current_test_info();
        const ProcessRun child = run_child_test(
            std::string(me.test_suite_name()) + "." + me.name(), kNoPortsSetting);
        if (child.out.find("[  SKIPPED ] 1 test") != std::string::npos)
            GTEST_SKIP() << "skipped in the process that presents no ports";
        EXPECT_EQ(child.exit, 0u) << child.out;
        EXPECT_NE(child.out.find("[  PASSED  ] 1 test"), std::string::npos) << child.out;
        return;
    }
    ASSERT_LE(ports, static_cast<unsigned>(presented)) << "kWinePorts is too small for this case";
    run_case(c);
}

INSTANTIATE_TEST_SUITE_P(WineOwn, OnWineWinmm, testing::ValuesIn(kCases), CaseName());

TEST(DirectCommand, ProbesOpenEveryPortAndSendNothing)
{
    load(kPeripheral + kOther);
    const Call call = hiddirect(kKey.data(), 0, 0x90, 3, 4); // check fails: probes only
    EXPECT_EQ(call.result, 1);
    EXPECT_EQ(call.stdout_bytes, kAB);
    const std::string log = calls();
    EXPECT_EQ(count_lines(log, "midiOutGetNumDevs("), 2u);
    EXPECT_EQ(count_lines(log, "midiOutOpen("), 4u);
    EXPECT_EQ(count_lines(log, "midiOutShortMsg("), 0u);
    EXPECT_NE(log.find("midiOutOpen(port=0, callback=0x0, instance=0x0, flags=0x0) -> 0"),
              std::string::npos);
    EXPECT_NE(log.find("midiOutGetDevCapsW(id=1, size=84) -> 0"), std::string::npos);
    expect_clean(call);

    load(kPeripheral + kOther);
    expect_clean(hiddirect(kKey.data(), 0, 0x90, 4, 4)); // seven passes
    EXPECT_EQ(count_lines(calls(), "midiOutGetNumDevs("), 7u);
    EXPECT_EQ(count_lines(calls(), "midiOutOpen("), 14u);
}

TEST(DirectCommand, NullKeyTouchesNothing)
{
    load(kPeripheral);
    const Call call = hiddirect(nullptr, 0, 0x90, 1, 1);
    EXPECT_EQ(call.result, 1);
    EXPECT_EQ(call.stdout_bytes, "");
    EXPECT_EQ(calls(), "");
    EXPECT_EQ(call.stack_delta, 0);
}

// Generous: a call that is free to return does so far within this, even
// emulated; one that waits on standard output forever never does.
constexpr DWORD kCallLimitMs = 60000;

DWORD WINAPI call_with_key(void *result)
{
    const Call call = call_export(
        "hiddirect_main", {reinterpret_cast<std::uintptr_t>(kKey.data()), 0, 0x90, 1, 1}, false);
    *static_cast<int *>(result) = call.result;
    return 0;
}

// hiddirect_main on a thread of its own, with `out` as standard output.
class CallWithOutput {
public:
    explicit CallWithOutput(HANDLE out) : saved_(GetStdHandle(STD_OUTPUT_HANDLE))
    {
        load("");
        SetStdHandle(STD_OUTPUT_HANDLE, out);
        thread_ = CreateThread(nullptr, 0, call_with_key, &result_, 0, nullptr);
    }
    // A call still waiting here has failed its test already; ending it
    // keeps the rest of the run from waiting with it.
    ~CallWithOutput()
    {
        if (!ended(kCallLimitMs))
            TerminateThread(thread_, 1);
        CloseHandle(thread_);
        SetStdHandle(STD_OUTPUT_HANDLE, saved_);
    }
    CallWithOutput(const CallWithOutput &) = delete;
    CallWithOutput &operator=(const CallWithOutput &) = delete;

    bool ended(DWORD wait_ms) const { return WaitForSingleObject(thread_, wait_ms) == WAIT_OBJECT_0; }
    int result() const { return result_; }

private:
    HANDLE saved_, thread_;
    int result_ = -1;
};

TEST(ProbeLine, UnusableStandardOutputIsHarmless)
{
    HANDLE closed = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(closed);
    HANDLE read_end = nullptr, broken = nullptr;
    ASSERT_TRUE(CreatePipe(&read_end, &broken, nullptr, 16));
    CloseHandle(read_end);
    for (HANDLE out : {HANDLE(nullptr), INVALID_HANDLE_VALUE, closed, broken}) {
        CallWithOutput call(out);
        ASSERT_TRUE(call.ended(kCallLimitMs)) << "hiddirect_main waited on standard output " << out;
        EXPECT_EQ(call.result(), 0);
    }
    CloseHandle(broken);
}

// Fills a pipe until not one more byte fits, then frees `room` bytes again.
// Returns how many bytes it holds.
DWORD fill_pipe(HANDLE read_end, HANDLE write_end, DWORD room)
{
    const std::string filler(4096, 'x');
    DWORD mode = PIPE_NOWAIT, written = 0, held = 0;
    SetNamedPipeHandleState(write_end, &mode, nullptr, nullptr);
    // Wine refuses a non-blocking write larger than the free space whole.
    for (DWORD chunk : {4096ul, 64ul, 1ul})
        while (WriteFile(write_end, filler.data(), chunk, &written, nullptr) && written > 0)
            held += written;
    mode = PIPE_WAIT;
    SetNamedPipeHandleState(write_end, &mode, nullptr, nullptr);
    char drop[8];
    DWORD got = 0;
    if (room > 0 && ReadFile(read_end, drop, room, &got, nullptr))
        held -= got;
    return held;
}

DWORD queued(HANDLE read_end)
{
    DWORD available = 0;
    PeekNamedPipe(read_end, nullptr, 0, nullptr, &available, nullptr);
    return available;
}

// A reader that is merely behind gets the whole line after what the pipe
// held, whatever room was left, and the host's handle keeps its mode.
TEST(ProbeLine, FullPipeIsWaitedOnAndGetsTheWholeLine)
{
    for (DWORD room : {0ul, 2ul}) {
        HANDLE read_end = nullptr, write_end = nullptr;
        ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 16));
        const DWORD held = fill_pipe(read_end, write_end, room);
        ASSERT_GT(held, 4u);
        DWORD mode_before = 0, mode_after = 0;
        GetNamedPipeHandleState(write_end, &mode_before, nullptr, nullptr, nullptr, nullptr, 0);
        std::string line;
        {
            CallWithOutput call(write_end);
            // A pipe counts a waiting write's bytes as queued: the reader
            // drains only once the line is on its way, or the call has ended.
            for (DWORD waited = 0; waited < kCallLimitMs && queued(read_end) < held + 4 &&
                                   !call.ended(0);
                 waited += 10)
                Sleep(10);
            std::string drained(held, '\0');
            DWORD got = 0, total = 0;
            while (total < held && ReadFile(read_end, &drained[total], held - total, &got, nullptr))
                total += got;
            EXPECT_TRUE(call.ended(kCallLimitMs)) << "room " << room;
            EXPECT_EQ(call.result(), 0);
            GetNamedPipeHandleState(write_end, &mode_after, nullptr, nullptr, nullptr, nullptr, 0);
        }
        CloseHandle(write_end);
        line = read_pipe(read_end);
        CloseHandle(read_end);
        EXPECT_EQ(line, kAB) << "room " << room;
        EXPECT_EQ(mode_after, mode_before) << "room " << room;
    }
}

} // namespace
