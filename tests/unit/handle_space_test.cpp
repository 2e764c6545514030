#include <gtest/gtest.h>

#include <set>

#include "handle_space.h"

using vperiph::HandleSpace;

// However many handles a run makes, a value stays in its range, is never
// one still live, and a released one is told from one never issued.
TEST(HandleSpace, NeverLeavesItsRangeOrReusesALiveValue)
{
    HandleSpace space{0x1000, 4};
    std::set<std::uintptr_t> live;
    const auto is_live = [&](std::uintptr_t v) { return live.count(v) != 0; };
    EXPECT_FALSE(space.was_issued(0x1000));
    for (int i = 0; i < 3; ++i) {
        const std::uintptr_t v = space.next(is_live);
        space.take(v);
        live.insert(v);
    }
    EXPECT_EQ(live, (std::set<std::uintptr_t>{0x1000, 0x1001, 0x1002}));
    EXPECT_FALSE(space.was_issued(0x1003));
    live.erase(0x1001);
    EXPECT_TRUE(space.was_issued(0x1001)) << "released, not unknown";
    // The range is used up: the next values are the ones not live, in turn.
    std::uintptr_t v = space.next(is_live);
    EXPECT_EQ(v, 0x1003u);
    space.take(v);
    live.insert(v);
    v = space.next(is_live);
    EXPECT_EQ(v, 0x1001u);
    space.take(v);
    for (int i = 0; i < 1000; ++i) {
        live.erase(v);
        v = space.next(is_live);
        ASSERT_GE(v, 0x1000u);
        ASSERT_LT(v, 0x1004u);
        ASSERT_FALSE(is_live(v));
        space.take(v);
        live.insert(v);
    }
    for (std::uintptr_t value : {0x0FFFu, 0x1004u, 0u})
        EXPECT_FALSE(space.was_issued(value)) << value;
}

// The kinds the peripheral hands out never meet each other, nor the values
// that mean something else, even on a 32-bit host after billions of calls.
TEST(HandleSpace, KindsStayApart)
{
    const HandleSpace ports{0x4D100001, 0x10000000}, sets{0x5E700001, 0x10000000};
    EXPECT_LT(ports.first + ports.size, sets.first);
    EXPECT_LT(sets.first + sets.size - 1, 0xFFFFFFFFu) << "INVALID_HANDLE_VALUE";
    HandleSpace late = ports;
    late.issued = (1ull << 32) + 5; // past what a 32-bit counter would hold
    const std::uintptr_t v = late.next([](std::uintptr_t) { return false; });
    EXPECT_EQ(v, ports.first + 5);
}
