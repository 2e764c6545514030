// The shipped DLL against Wine's own winmm and setupapi: a container has no
// MIDI ports and no USB devices.
#include <gtest/gtest.h>

#include "harness.h"

using namespace host;

TEST(WineOwn, DirectCommandWithNoPorts)
{
    const Call call = hiddirect("PERIPHRL", 0x40, 0x90, 0x3C, 0x3C);
    EXPECT_EQ(call.result, 0);
    EXPECT_EQ(call.stdout_bytes, "AB\r\n");
    EXPECT_EQ(call.stack_delta, 0);
    EXPECT_EQ(calls(), "") << "the stand-ins were loaded";
}

TEST(WineOwn, PresenceQueriesFindNothing)
{
    EXPECT_EQ(count(0x1A2B, 0x3C4D).result, 0);
    const Call call = multi(0x1A2F, 0x3C4D);
    EXPECT_EQ(call.result, 0);
    EXPECT_EQ(call.stack_delta, 0);
    for (int s = 0; s < 16; ++s)
        EXPECT_EQ(table(s).result, 0) << "slot " << s;
    EXPECT_EQ(calls(), "") << "the stand-ins were loaded";
}
