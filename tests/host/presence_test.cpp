// The presence queries on the shipped DLL against the virtual peripheral's
// USB entries: counts, the sixteen-slot table, and one device list per query.
#include <gtest/gtest.h>
#include <windows.h>
#include <setupapi.h>

#include <climits>

#include "harness.h"

using namespace host;

namespace {

const std::string kParent = "usb \"USB\\VID_1A2B&PID_3C4D&REV_0100\" \"USB\\VID_1A2B&PID_3C4D\"\n";
const std::string kComposite = kParent +
                               "usb \"USB\\VID_1A2B&PID_3C4D&MI_00\" \"USB\\VID_1A2B&PID_3C4D\"\n"
                               "usb \"USB\\VID_1A2B&PID_3C4D&MI_01\" \"USB\\VID_1A2B&PID_3C4D\"\n";

// One list per query, walked to its end and destroyed once.
void expect_one_walk(const Call &call, unsigned entries)
{
    EXPECT_EQ(call.stack_delta, 0) << "export does not use cdecl";
    EXPECT_EQ(faults(), "");
    const vp_counters c = counters();
    EXPECT_EQ(c.set_builds, 1u);
    EXPECT_EQ(c.set_destroys, 1u);
    EXPECT_EQ(c.enum_calls, entries + 1);
}

struct CountCase {
    const char *name;
    std::string description;
    int vid, pid;
    int count;
    unsigned entries;
};

// Failures name the case rather than dumping its bytes.
void PrintTo(const CountCase &c, std::ostream *os) { *os << c.name; }

class Count : public testing::TestWithParam<CountCase> {};

TEST_P(Count, SingleQuery)
{
    const CountCase &c = GetParam();
    load(c.description);
    const Call call = count(c.vid, c.pid);
    EXPECT_EQ(call.result, c.count);
    expect_one_walk(call, c.entries);
}

// A hardware-ID list of more than 259 bytes whose first string is ordinary.
std::string long_list()
{
    std::string d = "usb \"USB\\VID_1A2B&PID_3C4D&REV_0100\"";
    for (int i = 0; i < 12; ++i)
        d += " \"USB\\COMPAT_CLASS_" + std::to_string(i) + "_PADDING\"";
    return d + "\n";
}

INSTANTIATE_TEST_SUITE_P(
    Presence, Count,
    testing::Values(
        CountCase{"composite_interfaces_count_beside_parent", kComposite, 0x1A2B, 0x3C4D, 3, 3},
        CountCase{"other_pid_not_counted", kComposite, 0x1A2B, 0x3C4E, 0, 3},
        CountCase{"vid_with_leading_zero", "usb \"USB\\VID_0A1B&PID_00C4&REV_0001\"\n", 0x0A1B,
                  0x00C4, 1, 1},
        CountCase{"only_low_16_bits_used", kComposite, 0x00011A2B, static_cast<int>(0xFFFF3C4D),
                  3, 3},
        CountCase{"hub_shape_never_counts", "usb \"USB\\ROOT_HUB30&VID1A2B&PID3C4D\"\n", 0x1A2B,
                  0x3C4D, 0, 1},
        CountCase{"three_character_vid_never_counts", "usb \"USB\\VID_123&PID_4567\"\n", 0x0123,
                  0x4567, 0, 1},
        CountCase{"lower_case_hex_does_not_match", "usb \"USB\\VID_1a2b&PID_3c4d\"\n", 0x1A2B,
                  0x3C4D, 0, 1},
        CountCase{"only_first_string_is_searched",
                  "usb \"USB\\CLASS_01\" \"USB\\VID_1A2B&PID_3C4D\"\n", 0x1A2B, 0x3C4D, 0, 1},
        CountCase{"no_entries", "", 0x1A2B, 0x3C4D, 0, 0},
        CountCase{"list_over_259_bytes_is_read_whole", long_list(), 0x1A2B, 0x3C4D, 1, 1},
        CountCase{"data_without_terminator", "usb \"USB\\VID_1A2B&PID_3C4D\" bytes=42\n", 0x1A2B,
                  0x3C4D, 1, 1},
        CountCase{"odd_length_data_ending_inside_ids",
                  "usb \"USB\\VID_1A2B&PID_3C4D\" bytes=41\n", 0x1A2B, 0x3C4D, 0, 1},
        CountCase{"data_stopping_inside_pid", "usb \"USB\\VID_1A2B&PID_3C\"\n", 0x1A2B, 0x3C4D, 0,
                  1},
        CountCase{"unreadable_property_is_passed_over",
                  kParent + "usb \"USB\\VID_1A2B&PID_3C4D\" property=13\n" + kParent, 0x1A2B,
                  0x3C4D, 2, 3},
        CountCase{"count_saturates_at_255", "usb \"USB\\VID_1A2B&PID_3C4D\" repeat=300\n", 0x1A2B,
                  0x3C4D, 255, 300}),
    CaseName());

TEST(Presence, ListCannotBeBuilt)
{
    load(kComposite + "classdevs fail\n");
    EXPECT_EQ(count(0x1A2B, 0x3C4D).result, 0);
    EXPECT_EQ(multi(0x1A2B, 0x3C4D).result, 0);
    EXPECT_EQ(faults(), "");
    EXPECT_EQ(counters().set_destroys, 0u) << "a set never built must not be destroyed";
}

TEST(Presence, AsksThePlatformAsDocumented)
{
    load(kParent);
    expect_one_walk(count(0x1A2B, 0x3C4D), 1);
    const std::string log = calls();
    EXPECT_NE(log.find("SetupDiGetClassDevsW(class=null, enumerator=\"USB\", parent="),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("flags=0x6)"), std::string::npos);
    EXPECT_NE(log.find("cbSize=" + std::to_string(sizeof(SP_DEVINFO_DATA)) + ")"),
              std::string::npos);
    EXPECT_NE(log.find("property=1, size=259) -> TRUE"), std::string::npos);
}

TEST(Presence, MultiFillsSixteenSlotsFromOneWalk)
{
    load(kComposite + "usb \"USB\\VID_1A20&PID_3C4D\"\n"
                      "usb \"USB\\VID_1A2F&PID_3C4D\" repeat=300\n"
                      "usb \"USB\\VID_1A30&PID_3C4D\"\n"
                      "usb \"USB\\VID_1A25&PID_0000\"\n");
    const Call call = multi(0x1A2F, 0x3C4D);
    EXPECT_EQ(call.result, 3);
    expect_one_walk(call, 306);
    int expected[16] = {};
    expected[0x0] = 1;
    expected[0xB] = 3;
    expected[0xF] = 255;
    for (int s = 0; s < 16; ++s)
        EXPECT_EQ(table(s).result, expected[s]) << "slot " << s;
}

TEST(Presence, TableKeepsOnlyTheLatestMultiCall)
{
    // One device is unplugged and another plugged in after the first build.
    load("usb \"USB\\VID_1A2B&PID_3C4D\" vanish=1\n"
         "usb \"USB\\VID_1A2C&PID_3C4D\" appear=1\n");
    EXPECT_EQ(multi(0x1A2F, 0x3C4D).result, 1);
    EXPECT_EQ(table(0xB).result, 1);
    EXPECT_EQ(count(0x1A2C, 0x3C4D).result, 1) << "the second build sees the new device";
    EXPECT_EQ(table(0xB).result, 1) << "the single query leaves the table alone";
    EXPECT_EQ(multi(0x1A2F, 0x3C4D).result, 1);
    EXPECT_EQ(table(0xB).result, 0) << "unplugged device's slot is reset";
    EXPECT_EQ(table(0xC).result, 1);

    struct IndexCase {
        int index, entry;
    } cases[] = {{0x10C, 1}, {0xC, 1},         {0x10F, 0},      {16, 0},
                 {0xFF, 0},  {-1, 0},          {INT_MAX, 0},    {0x7FFFFF0C, 1},
                 {0x7FFFFF10, 0}, {INT_MIN | 0xC, 1}};
    for (const IndexCase &c : cases) {
        const Call read = table(c.index);
        EXPECT_EQ(read.result, c.entry) << std::hex << c.index;
        EXPECT_EQ(read.stack_delta, 0);
    }
    EXPECT_EQ(counters().set_builds, 3u) << "reading the table walks nothing";
}

} // namespace
