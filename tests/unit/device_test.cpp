#include <gtest/gtest.h>

#include "description.h"
#include "device.h"

using namespace vperiph;

namespace {

Description parsed(const char *text)
{
    Description d;
    std::string error;
    EXPECT_TRUE(parse_description(text, d, error)) << error;
    return d;
}

} // namespace

// The first line that matches answers; only exactly the request's bytes, on
// its own output port, match.
TEST(Device, FindsTheFirstMatchingAnswer)
{
    const Description d = parsed("port \"A\"\nport \"B\"\nin \"I\"\n"
                                 "answer 0 F0 7E 7F 06 01 F7 reply 0 F0 01 F7\n"
                                 "answer 0 F0 7E 7F 06 01 F7 reply 0 F0 02 F7\n"
                                 "answer 1 F0 7E 7F 06 01 F7 reply 0 F0 03 F7\n"
                                 "answer 0 B0 79 00 reply 0 FE\n");
    const struct {
        unsigned out;
        std::vector<std::uint8_t> bytes;
        int answer;
    } cases[] = {
        {0, {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}, 0},
        {1, {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}, 2},
        {0, {0xF0, 0x7E, 0x7F, 0x06, 0x01}, -1},              // cut short
        {0, {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7, 0x00}, -1},  // longer
        {0, {0xB0, 0x79, 0x00}, 3},
        {0, {0xB1, 0x79, 0x00}, -1},
        {2, {0xB0, 0x79, 0x00}, -1},
        {0, {}, -1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(find_answer(d, c.out, c.bytes.data(), c.bytes.size()), c.answer)
            << c.out << " " << c.bytes.size();
}

TEST(Device, ShortMessageLengths)
{
    const std::pair<std::uint8_t, std::size_t> cases[] = {
        {0x90, 3}, {0x8F, 3}, {0xB0, 3}, {0xC5, 2}, {0xDF, 2}, {0xE0, 3}, {0xF1, 2},
        {0xF2, 3}, {0xF3, 2}, {0xF6, 1}, {0xF8, 1}, {0xFE, 1}, {0xFF, 1}, {0x3C, 3},
    };
    for (const auto &c : cases)
        EXPECT_EQ(short_message_length(c.first), c.second) << int(c.first);
}

// Replies go when due, earliest first, those due at once in the order asked;
// no more than kMostWaitingReplies wait.
TEST(Device, RepliesWaitForTheirTime)
{
    ReplyQueue q;
    std::uint64_t due = 0;
    EXPECT_FALSE(q.next_due(due));
    ASSERT_TRUE(q.add(1100, 0));
    ASSERT_TRUE(q.add(1000, 1));
    ASSERT_TRUE(q.add(1100, 2));
    ASSERT_TRUE(q.add(1000, 3));
    ASSERT_TRUE(q.next_due(due));
    EXPECT_EQ(due, 1000u);
    WaitingReply w{};
    EXPECT_FALSE(q.take_due(999, w));
    std::vector<unsigned> order;
    while (q.take_due(1000, w))
        order.push_back(w.answer);
    EXPECT_EQ(order, (std::vector<unsigned>{1, 3}));
    while (q.take_due(5000, w))
        order.push_back(w.answer);
    EXPECT_EQ(order, (std::vector<unsigned>{1, 3, 0, 2}));

    for (std::size_t i = 0; i < kMostWaitingReplies; ++i)
        ASSERT_TRUE(q.add(i, 0));
    EXPECT_FALSE(q.add(0, 0)) << "a queue without bound";
    EXPECT_EQ(q.size(), kMostWaitingReplies);
}

TEST(Device, BuffersGoBackInTheOrderAdded)
{
    BufferQueue q;
    EXPECT_TRUE(q.empty());
    q.add(0x10);
    q.add(0x20);
    EXPECT_TRUE(q.holds(0x20));
    EXPECT_FALSE(q.holds(0x30));
    EXPECT_EQ(q.take(), 0x10u);
    EXPECT_EQ(q.take(), 0x20u);
    EXPECT_TRUE(q.empty());
    for (std::size_t i = 0; i < kMostQueuedBuffers; ++i)
        q.add(i);
    EXPECT_TRUE(q.full());
}
