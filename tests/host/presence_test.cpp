// The presence queries on the shipped DLL against two counterparts: the
// virtual peripheral's stand-in setupapi, and Wine's own setupapi listing the
// same entries registered in the prefix. One case table drives both runs.
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
void expect_one_walk(unsigned entries)
{
    EXPECT_EQ(faults(), "");
    const vp_counters c = counters();
    EXPECT_EQ(c.set_builds, 1u);
    EXPECT_EQ(c.set_destroys, 1u);
    EXPECT_EQ(c.enum_calls, entries + 1);
}

// A hardware-ID list of more than 259 bytes whose first string is ordinary.
std::string long_list()
{
    std::string d = "usb \"USB\\VID_1A2B&PID_3C4D&REV_0100\"";
    for (int i = 0; i < 12; ++i)
        d += " \"USB\\COMPAT_CLASS_" + std::to_string(i) + "_PADDING\"";
    return d + "\n";
}

enum class Query { single, multi };

// What is present, and what the query then returns.
struct Stage {
    std::string description;
    int result;
    std::vector<int> slots; // multi: all sixteen table entries
};

struct PresenceCase {
    const char *name;
    Query query;
    int vid, pid;
    std::vector<Stage> stages; // in order, with the query after each
    unsigned members;          // in the last stage's device list
    // Why Wine's own setupapi cannot present this case; nullptr: both
    // counterparts run it and must agree.
    const char *standin_only;
};

// Failures name the case rather than dumping its descriptions.
void PrintTo(const PresenceCase &c, std::ostream *os) { *os << c.name; }

std::vector<int> slots_with(std::initializer_list<std::pair<int, int>> set)
{
    std::vector<int> slots(16, 0);
    for (const auto &s : set)
        slots[static_cast<std::size_t>(s.first)] = s.second;
    return slots;
}

const char kBytes[] = "bytes=N cuts the delivered data; Wine delivers the whole registry value";
const char kProperty[] = "property=E fails the read; Wine reads every registered value";

const std::vector<PresenceCase> kCases = {
    {"composite_interfaces_count_beside_parent", Query::single, 0x1A2B, 0x3C4D,
     {{kComposite, 3, {}}}, 3, nullptr},
    {"other_pid_not_counted", Query::single, 0x1A2B, 0x3C4E, {{kComposite, 0, {}}}, 3, nullptr},
    {"vid_and_pid_with_leading_zeros", Query::single, 0x0A1B, 0x00C4,
     {{"usb \"USB\\VID_0A1B&PID_00C4&REV_0001\"\n", 1, {}}}, 1, nullptr},
    {"only_low_16_bits_used", Query::single, 0x00011A2B, static_cast<int>(0xFFFF3C4D),
     {{kComposite, 3, {}}}, 3, nullptr},
    {"hub_shape_never_counts", Query::single, 0x1A2B, 0x3C4D,
     {{"usb \"USB\\ROOT_HUB30&VID1A2B&PID3C4D\"\n", 0, {}}}, 1, nullptr},
    // Only the first "V" is tried, whatever follows it.
    {"a_v_before_vid_never_counts", Query::single, 0x1A2B, 0x3C4D,
     {{"usb \"USB\\VENDOR&VID_1A2B&PID_3C4D\"\n", 0, {}}}, 1, nullptr},
    // ID characters count by their low 8 bits: U+0144 reads as "D".
    {"id_characters_reduced_to_low_byte", Query::single, 0x1A2B, 0x3C4D,
     {{"usb \"USB\\VID_1A2B&PID_3C4\\u0144\"\n", 1, {}}}, 1, nullptr},
    {"three_character_vid_never_counts", Query::single, 0x0123, 0x4567,
     {{"usb \"USB\\VID_123&PID_4567\"\n", 0, {}}}, 1, nullptr},
    {"lower_case_hex_does_not_match", Query::single, 0x1A2B, 0x3C4D,
     {{"usb \"USB\\VID_1a2b&PID_3c4d\"\n", 0, {}}}, 1, nullptr},
    {"only_first_string_is_searched", Query::single, 0x1A2B, 0x3C4D,
     {{"usb \"USB\\CLASS_01\" \"USB\\VID_1A2B&PID_3C4D\"\n", 0, {}}}, 1, nullptr},
    {"string_stopping_inside_pid", Query::single, 0x1A2B, 0x3C4D,
     {{"usb \"USB\\VID_1A2B&PID_3C\"\n", 0, {}}}, 1, nullptr},
    {"list_over_259_bytes_is_read_whole", Query::single, 0x1A2B, 0x3C4D,
     {{long_list(), 1, {}}}, 1, nullptr},
    {"count_saturates_at_255", Query::single, 0x1A2B, 0x3C4D,
     {{"usb \"USB\\VID_1A2B&PID_3C4D\" repeat=300\n", 255, {}}}, 300, nullptr},
    {"no_entries", Query::single, 0x1A2B, 0x3C4D, {{"", 0, {}}}, 0, nullptr},
    {"no_entries_multi", Query::multi, 0x1A2F, 0x3C4D, {{"", 0, slots_with({})}}, 0, nullptr},
    {"multi_fills_sixteen_slots_from_one_walk", Query::multi, 0x1A2F, 0x3C4D,
     {{kComposite + "usb \"USB\\VID_1A20&PID_3C4D\"\n"
                    "usb \"USB\\VID_1A2F&PID_3C4D\" repeat=300\n"
                    "usb \"USB\\VID_1A30&PID_3C4D\"\n"
                    "usb \"USB\\VID_1A25&PID_0000\"\n",
       3, slots_with({{0x0, 1}, {0xB, 3}, {0xF, 255}})}},
     306, nullptr},
    {"unplugged_device_slot_reset", Query::multi, 0x1A2F, 0x3C4D,
     {{"usb \"USB\\VID_1A2B&PID_3C4D\"\n", 1, slots_with({{0xB, 1}})},
      {"usb \"USB\\VID_1A2C&PID_3C4D\"\n", 1, slots_with({{0xC, 1}})}},
     1, nullptr},
    {"data_without_terminator", Query::single, 0x1A2B, 0x3C4D,
     {{"usb \"USB\\VID_1A2B&PID_3C4D\" bytes=42\n", 1, {}}}, 1, kBytes},
    {"odd_length_data_ending_inside_ids", Query::single, 0x1A2B, 0x3C4D,
     {{"usb \"USB\\VID_1A2B&PID_3C4D\" bytes=41\n", 0, {}}}, 1, kBytes},
    // The buffer is cleared before each read: a read that succeeds with no
    // bytes, or with one, right after a complete entry finds nothing of it.
    // (The complete entry's device key sorts first in the registry, as Wine's
    // setupapi lists them, before TARNWICK_VP, that of an empty first ID.)
    {"read_of_no_bytes_after_a_complete_entry", Query::single, 0x1A2B, 0x3C4D,
     {{"usb \"USB\\AAA&VID_1A2B&PID_3C4D\"\nusb-hex\n", 1, {}}}, 2, nullptr},
    {"read_of_one_byte_after_a_complete_entry", Query::single, 0x1A2B, 0x3C4D,
     {{"usb \"USB\\AAA&VID_1A2B&PID_3C4D\"\nusb-hex 55\n", 1, {}}}, 2, nullptr},
    {"unreadable_property_is_passed_over", Query::single, 0x1A2B, 0x3C4D,
     {{kParent + "usb \"USB\\VID_1A2B&PID_3C4D\" property=13\n" + kParent, 2, {}}}, 3,
     kProperty},
};

// Presents each stage, makes the query and checks its result and table.
template <typename Present> void run_case(const PresenceCase &c, Present present)
{
    for (std::size_t i = 0; i < c.stages.size(); ++i) {
        const Stage &stage = c.stages[i];
        present(stage.description);
        const Call call = c.query == Query::single ? count(c.vid, c.pid) : multi(c.vid, c.pid);
        EXPECT_EQ(call.result, stage.result) << "stage " << i;
        EXPECT_EQ(call.stack_delta, 0) << "export does not use cdecl";
        for (std::size_t s = 0; s < stage.slots.size(); ++s)
            EXPECT_EQ(table(static_cast<int>(s)).result, stage.slots[s])
                << "stage " << i << ", slot " << s;
    }
}

class OnStandIn : public testing::TestWithParam<PresenceCase> {};

TEST_P(OnStandIn, Query)
{
    const PresenceCase &c = GetParam();
    run_case(c, [](const std::string &description) { load(description); });
    expect_one_walk(c.members);
}

INSTANTIATE_TEST_SUITE_P(Presence, OnStandIn, testing::ValuesIn(kCases), CaseName());

// Wine's own setupapi lists the entries registered in this prefix; this run
// loads no stand-in, and leaves nothing registered behind.
class OnWineSetupapi : public testing::TestWithParam<PresenceCase> {
protected:
    void TearDown() override { unregister(); }
};

TEST_P(OnWineSetupapi, Query)
{
    const PresenceCase &c = GetParam();
    if (c.standin_only != nullptr)
        GTEST_SKIP() << c.standin_only;
    run_case(c, [](const std::string &description) { register_entries(description); });
    EXPECT_EQ(calls(), "") << "the stand-ins were loaded";
}

INSTANTIATE_TEST_SUITE_P(WineOwn, OnWineSetupapi, testing::ValuesIn(kCases), CaseName());

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
    EXPECT_EQ(count(0x1A2B, 0x3C4D).result, 1);
    expect_one_walk(1);
    const std::string log = calls();
    EXPECT_NE(log.find("SetupDiGetClassDevsW(class=null, enumerator=\"USB\", parent="),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("flags=0x6)"), std::string::npos);
    EXPECT_NE(log.find("cbSize=" + std::to_string(sizeof(SP_DEVINFO_DATA)) + ")"),
              std::string::npos);
    EXPECT_NE(log.find("property=1, size=259) -> TRUE"), std::string::npos);
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
