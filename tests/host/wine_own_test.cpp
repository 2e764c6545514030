// The shipped DLL against Wine's own winmm: a container has no MIDI ports.
// (The presence cases run against Wine's own setupapi beside the stand-in.)
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
