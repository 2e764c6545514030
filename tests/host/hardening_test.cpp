// Every platform call failing in turn, and hostile arguments at the boundary:
// the DLL returns what its header promises, sends nothing it should not, and
// leaves no handle open or released twice.
#include <gtest/gtest.h>
#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "harness.h"

using namespace host;

namespace {

// The call that the description made fail: line n of the log.
struct FailedCall {
    std::string function;
    int target = -1;   // port, or member index
    unsigned walk = 0; // MIDI: which port walk (0, 1: probes; 2-6: broadcasts)
};

int number_after(const std::string &line, const char *key)
{
    const auto at = line.find(key);
    return at == std::string::npos ? -1 : std::atoi(line.c_str() + at + std::strlen(key));
}

FailedCall failed_call(const std::string &log, unsigned n)
{
    std::istringstream in(log);
    std::string line;
    FailedCall f;
    unsigned walks = 0;
    for (unsigned i = 1; i <= n && std::getline(in, line); ++i)
        walks += line.rfind("midiOutGetNumDevs(", 0) == 0 ? 1 : 0;
    f.function = line.substr(0, line.find('('));
    f.walk = walks == 0 ? 0 : walks - 1;
    for (const char *key : {"port=", "id=", "index=", "member="})
        if (f.target < 0)
            f.target = number_after(line, key);
    return f;
}

unsigned g_failure_points = 0, g_handle_faults = 0;

void expect_no_handle_fault(const Call &call, const std::string &what)
{
    EXPECT_EQ(call.stack_delta, 0) << what;
    const std::string f = faults();
    EXPECT_EQ(f, "") << what;
    g_handle_faults += f.empty() ? 0 : 1;
}

const std::string kThreePorts = "port \"PERIPHRL A\"\nport \"Other\"\nport \"PERIPHRL C\"\n";

TEST(FaultSweep, DirectCommandOverThreePorts)
{
    const std::vector<std::vector<std::uint8_t>> messages = {
        {0xFF}, {0x90, 0x3C, 0x40}, {0x80, 0x3C, 0x40}, {0x90, 0x3C, 0x40}, {0xFF}};
    load(kThreePorts);
    ASSERT_EQ(hiddirect("PERIPHRL", 0x40, 0x90, 0x3C, 0x3C).result, 0);
    const unsigned total = counters().calls;

    for (unsigned n = 1; n <= total; ++n) {
        load(kThreePorts + "fail " + std::to_string(n) + "\n");
        const Call call = hiddirect("PERIPHRL", 0x40, 0x90, 0x3C, 0x3C);
        const FailedCall f = failed_call(calls(), n);
        const std::string what = "failing call " + std::to_string(n) + ": " + f.function +
                                 " port " + std::to_string(f.target) + " walk " +
                                 std::to_string(f.walk);
        expect_no_handle_fault(call, what);
        // Only the last port's capability query or send decides a walk.
        const bool decides = f.target == 2 && (f.function == "midiOutGetDevCapsW" ||
                                               f.function == "midiOutShortMsg");
        EXPECT_EQ(call.result, decides && f.walk >= 2 ? 1 : 0) << what;
        EXPECT_EQ(call.stdout_bytes, decides && f.walk == 1 ? "" : "AB\r\n") << what;
        for (int port : {0, 2}) {
            std::vector<std::uint8_t> expected;
            for (unsigned k = 0; k < messages.size(); ++k) {
                const bool lost = f.walk == k + 2 &&
                                  (f.function == "midiOutGetNumDevs" ||
                                   (f.target == port && f.function != "midiOutClose"));
                if (!lost)
                    expected.insert(expected.end(), messages[k].begin(), messages[k].end());
            }
            EXPECT_EQ(port_bytes(static_cast<unsigned>(port)), expected) << what << " port " << port;
        }
        EXPECT_TRUE(port_bytes(1).empty()) << what;
    }
    g_failure_points += total;
}

const std::string kEntries = "usb \"USB\\VID_1A2B&PID_3C4D&REV_0100\" \"USB\\VID_1A2B&PID_3C4D\"\n"
                             "usb \"USB\\VID_1A2B&PID_3C4D&MI_00\"" +
                             std::string(12, ' ') + " \"USB\\COMPAT_CLASS_FILLING_THE_LIST_PAST_259_BYTES\""
                             " \"USB\\COMPAT_CLASS_FILLING_THE_LIST_PAST_259_BYTES_2\""
                             " \"USB\\COMPAT_CLASS_FILLING_THE_LIST_PAST_259_BYTES_3\"\n"
                             "usb \"USB\\ROOT_HUB30&VID1A2B&PID3C4D\"\n"
                             "usb \"USB\\VID_1A25&PID_3C4D&MI_00\"\n";

// Which slot of the 1A20-1A2F block each entry counts in (-1: none).
const int kSlotOf[] = {0xB, 0xB, -1, 0x5};

// The counts per slot when the given call failed.
std::vector<int> expected_slots(const FailedCall &f)
{
    std::vector<int> slots(16, 0);
    for (int e = 0; e < 4; ++e) {
        const bool lost = f.function == "SetupDiGetClassDevsW" ||
                          (f.function == "SetupDiEnumDeviceInfo" && e >= f.target) ||
                          (f.function == "SetupDiGetDeviceRegistryPropertyW" && e == f.target);
        if (kSlotOf[e] >= 0 && !lost)
            ++slots[static_cast<std::size_t>(kSlotOf[e])];
    }
    return slots;
}

TEST(FaultSweep, PresenceQueriesOverFewEntries)
{
    for (int multi_query = 0; multi_query < 2; ++multi_query) {
        const auto query = [&] { return multi_query ? multi(0x1A2F, 0x3C4D) : count(0x1A2B, 0x3C4D); };
        load(kEntries);
        ASSERT_EQ(query().result, 2); // two entries of 1A2B; slots B and 5
        const unsigned total = counters().calls;
        ASSERT_GE(total, 10u) << "the long list needs a second property read";

        for (unsigned n = 1; n <= total; ++n) {
            load(kEntries + "fail " + std::to_string(n) + "\n");
            const Call call = query();
            const FailedCall f = failed_call(calls(), n);
            const std::string what = std::string(multi_query ? "multi" : "single") +
                                     ", failing call " + std::to_string(n) + ": " + f.function +
                                     " " + std::to_string(f.target);
            expect_no_handle_fault(call, what);
            const std::vector<int> slots = expected_slots(f);
            if (!multi_query) {
                EXPECT_EQ(call.result, slots[0xB]) << what;
                continue;
            }
            int found = 0;
            for (int s = 0; s < 16; ++s) {
                found += slots[static_cast<std::size_t>(s)] != 0;
                EXPECT_EQ(table(s).result, slots[static_cast<std::size_t>(s)]) << what << " slot " << s;
            }
            EXPECT_EQ(call.result, found) << what;
        }
        g_failure_points += total;
    }
}

TEST(FaultSweep, Summary)
{
    std::printf("figure: fault sweep (%s): %u failure points tried, %u leaked or "
                "double-released handles\n",
                kArch, g_failure_points, g_handle_faults);
    EXPECT_GT(g_failure_points, 100u);
    EXPECT_EQ(g_handle_faults, 0u);
}

TEST(HostileArguments, PresenceQueriesUseOnlyTheirBits)
{
    load("usb \"USB\\VID_0000&PID_0000\"\nusb \"USB\\VID_FFFF&PID_FFFF\"\n"
         "usb \"USB\\VID_FFF3&PID_FFFF\"\n");
    struct Case {
        int vid, pid, single, found, slot, entry;
    } cases[] = {
        {0, 0, 1, 1, 0, 1},
        {-1, -1, 1, 2, 0xF, 1},
        {INT_MIN, INT_MIN, 1, 1, 0, 1},
        {INT_MAX, INT_MAX, 1, 2, 3, 1},
        {0, -1, 0, 0, 0, 0},
        {static_cast<int>(0xFFF0FFF3u), 0x7FFFFFFF, 1, 2, 3, 1},
    };
    for (const Case &c : cases) {
        const Call single = count(c.vid, c.pid);
        EXPECT_EQ(single.result, c.single) << std::hex << c.vid << " " << c.pid;
        const Call block = multi(c.vid, c.pid);
        EXPECT_EQ(block.result, c.found) << std::hex << c.vid << " " << c.pid;
        EXPECT_EQ(table(c.slot).result, c.entry) << std::hex << c.vid;
        EXPECT_EQ(single.stack_delta + block.stack_delta, 0);
    }
    EXPECT_EQ(faults(), "");
}

// The key's last byte is the last readable byte: the DLL reads exactly eight.
TEST(HostileArguments, KeyEndingAtAGuardPage)
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const SIZE_T page = info.dwPageSize;
    auto *base = static_cast<char *>(
        VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(base, nullptr);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(base + page, page, PAGE_NOACCESS, &old));
    char *key = base + page - 8;
    std::memcpy(key, "PERIPHRL", 8);
    load("port \"PERIPHRL\"\n");
    const Call call = hiddirect(key, 1, 0x90, 1, 1);
    EXPECT_EQ(call.result, 0);
    EXPECT_EQ(port_bytes(0), sequence_bytes(0x90, 1, 1));
    VirtualFree(base, 0, MEM_RELEASE);
}

// The key and the table hold only what the latest call that writes them wrote.
TEST(HostileArguments, RepeatedCallsInAnyOrder)
{
    load("port \"PERIPHRL\"\nport \"OTHERKEY\"\nusb \"USB\\VID_1A2B&PID_3C4D\"\n");
    EXPECT_EQ(multi(0x1A2F, 0x3C4D).result, 1);
    EXPECT_EQ(hiddirect("PERIPHRL", 1, 0x90, 1, 1).result, 0);
    EXPECT_EQ(hiddirect(nullptr, 1, 0x90, 1, 1).result, 1);
    EXPECT_EQ(hiddirect("OTHERKEY", 1, 0x90, 1, 1).result, 0);
    EXPECT_EQ(sends().size(), 10u);
    EXPECT_EQ(sends().back(), "1:0x000000ff") << "the second key replaced the first";
    EXPECT_EQ(count(0x1A2B, 0x3C4D).result, 1);
    EXPECT_EQ(table(0xB).result, 1);
    EXPECT_EQ(multi(0x1A3F, 0x3C4D).result, 0);
    EXPECT_EQ(table(0xB).result, 0) << "every multi call rewrites all sixteen entries";
    EXPECT_EQ(hiddirect("PERIPHRL", 1, 0x90, 1, 2).result, 1);
    EXPECT_EQ(sends().size(), 10u);
    EXPECT_EQ(faults(), "");
}

} // namespace
