// The virtual peripheral's driver under Wine's own winmm: what winmm sends
// it, and that a description only the stand-in can present is refused.
// (Selecting it in a prefix is driver_selection_test.cpp's; the direct
// command cases run against it beside the stand-in, and the presence cases
// against Wine's own setupapi.)
#include <gtest/gtest.h>
#include <windows.h>

#include "harness.h"

using namespace host;

namespace {

class WineOwnDriver : public testing::Test {
protected:
    void SetUp() override
    {
        if (wine_winmm_ports() < 0)
            GTEST_SKIP() << kDriverNotTaken;
    }
    void TearDown() override { load(""); }
};

TEST_F(WineOwnDriver, WinmmAsksOnceThenPassesEachCallOn)
{
    // As it started, the same in Wine 8.0 and 10.0: the driver opened, the
    // number of ports asked once, and each port's capabilities asked by
    // Wine's MIDI mapper with none open.
    const std::string start = wine_winmm_start();
    EXPECT_NE(start.find("DriverProc(DRV_OPEN) -> 1\n"), std::string::npos) << start;
    EXPECT_NE(start.find("DRVM_INIT -> 0\n"), std::string::npos) << start;
    EXPECT_EQ(count_lines(start, "MODM_GETNUMDEVS() -> " + std::to_string(wine_winmm_ports())), 1u)
        << start;

    load("port \"PERIPHRL MIDI 1\"\nport \"Other Synth\"\n");
    const Call call = hiddirect("PERIPHRL", 0, 0x90, 3, 4); // check fails: the two probes
    EXPECT_EQ(call.result, 1);
    EXPECT_EQ(call.stdout_bytes, "AB\r\n");
    const std::string log = calls();
    EXPECT_EQ(count_lines(log, "MODM_GETNUMDEVS("), 0u) << "asked again: " << log;
    // Two walks over every port winmm knows; those the description lacks refuse.
    EXPECT_EQ(count_lines(log, "MODM_OPEN("), 2 * kWinePorts) << log;
    EXPECT_EQ(count_lines(log, "MODM_OPEN(port=3, "), 2u);
    EXPECT_NE(log.find("MODM_OPEN(port=3, callback="), std::string::npos);
    EXPECT_EQ(count_lines(log, "MODM_GETDEVCAPS(id=1, size=84) -> 0"), 2u) << log;
    EXPECT_EQ(count_lines(log, "MODM_CLOSE("), 4u);
    EXPECT_EQ(count_lines(log, "MODM_DATA("), 0u);
    EXPECT_EQ(log.find("no open handle"), std::string::npos) << "queried a port it had not open";
    EXPECT_EQ(faults(), "");
    EXPECT_EQ(vp_driver_ports(), static_cast<int>(kWinePorts)) << "the number is fixed";
    EXPECT_NE(report().find("was told " + std::to_string(kWinePorts) +
                            ": the ports past this description's refuse to open\n"),
              std::string::npos)
        << report();
}

TEST_F(WineOwnDriver, RefusesWhatOnlyTheStandInPresents)
{
    load("port \"PERIPHRL\"\nport \"X\" getid=5\nfail 9\n");
    const Call call = hiddirect("PERIPHRL", 0, 0x90, 1, 1);
    EXPECT_EQ(call.result, 5) << "no port may be used";
    EXPECT_NE(report().find("only the stand-in winmm can present line 2: getid=5, line 3: fail 9"),
              std::string::npos)
        << report();
}

} // namespace
