#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "wine_release.h"

using winevp::Refusal;
using winevp::WineRelease;

namespace {

struct Version {
    const char *text;
    WineRelease release;
};

// Only the releases whose questions were read, and their maintenance
// releases; a development release, a candidate or a look-alike is unknown.
TEST(WineRelease, OnlyTheBranchesItKnows)
{
    for (const Version &v : {Version{"8.0", WineRelease::wine_8_0},
                             Version{"8.0.2", WineRelease::wine_8_0},
                             Version{"10.0", WineRelease::wine_10_0},
                             Version{"10.0.15", WineRelease::wine_10_0},
                             Version{"9.0", WineRelease::unknown},
                             Version{"8.1", WineRelease::unknown},
                             Version{"10.1", WineRelease::unknown},
                             Version{"11.0", WineRelease::unknown},
                             Version{"1.0", WineRelease::unknown},
                             Version{"80.0", WineRelease::unknown},
                             Version{"10.00", WineRelease::unknown},
                             Version{"10.0-rc1", WineRelease::unknown},
                             Version{"10.0.", WineRelease::unknown},
                             Version{"10.0.1a", WineRelease::unknown},
                             Version{"10.0 (Staging)", WineRelease::unknown},
                             Version{"10", WineRelease::unknown},
                             Version{"", WineRelease::unknown}})
        EXPECT_EQ(winevp::wine_release(v.text), v.release) << "\"" << v.text << "\"";
    EXPECT_EQ(winevp::wine_release(nullptr), WineRelease::unknown) << "not Wine";
}

// One line that names the release (as printable ASCII, however long or odd
// the text), says why, and fits the buffer it is given.
TEST(WineRelease, RefusalIsOneLineThatFits)
{
    struct Case {
        Refusal why;
        const char *version;
        std::string expected;
    };
    const std::string long_version(200, '9');
    for (const Case &c :
         {Case{Refusal::unknown_release, "9.0",
               "winevp.drv: Wine 9.0 is a release this driver does not know (it knows 8.0 and "
               "10.0): it presents no MIDI ports"},
          Case{Refusal::unknown_release, nullptr,
               "winevp.drv: not under Wine (ntdll has no wine_get_version): it presents no MIDI "
               "ports"},
          Case{Refusal::no_unix_part, "10.0",
               "winevp.drv: Wine 10.0 found no Unix part for this driver: set WINEDLLPATH to the "
               "folder holding winevp.drv and winevp.so (the kit's virtual_peripheral/wine): it "
               "presents no MIDI ports"},
          Case{Refusal::unknown_release, "9.\n1\x1b\xc3\xa9",
               "winevp.drv: Wine 9.?1??? is a release"},
          Case{Refusal::unknown_release, long_version.c_str(),
               "winevp.drv: Wine " + long_version.substr(0, 40) + "... is a release"}}) {
        char line[400];
        const std::size_t n = winevp::refusal_line(line, sizeof line, c.why, c.version);
        EXPECT_EQ(n, std::strlen(line));
        EXPECT_EQ(std::string(line).rfind(c.expected, 0), 0u) << line;
        EXPECT_EQ(std::string(line).find_first_of("\r\n"), std::string::npos) << line;
    }
    for (std::size_t size : {std::size_t{1}, std::size_t{2}, std::size_t{20}}) {
        char small[24];
        std::memset(small, 'x', sizeof small);
        const std::size_t n = winevp::refusal_line(small, size, Refusal::unknown_release, "9.0");
        EXPECT_EQ(n, size - 1);
        EXPECT_EQ(small[n], '\0');
        EXPECT_EQ(small[size], 'x') << "wrote past the buffer of " << size;
    }
}

} // namespace
