#include <gtest/gtest.h>

#include "description.h"

using vperiph::Description;
using vperiph::parse_description;

TEST(Description, ReadsPortsEntriesAndFailures)
{
    Description d;
    std::string error;
    ASSERT_TRUE(parse_description("# two ports\n"
                                  "port \"Peripheral \\\"A\\\"\" send=67 tail=zero\n"
                                  "port \"\\u00c9t\\x80\" open=0x4 caps=010\n"
                                  "usb \"USB\\VID_1A2B\" \"X\" repeat=2 appear=1\n"
                                  "usb-hex 5500 53 bytes=3 property=13\n"
                                  "classdevs fail error=8\n"
                                  "fail 7 status=2\n",
                                  d, error))
        << error;
    ASSERT_EQ(d.ports.size(), 2u);
    EXPECT_EQ(d.ports[0].name, u"Peripheral \"A\"");
    EXPECT_EQ(d.ports[0].send, 67u);
    EXPECT_EQ(d.ports[0].tail, vperiph::NameTail::zero);
    EXPECT_EQ(d.ports[1].name, u"\u00c9t\u0080");
    EXPECT_EQ(d.ports[1].open, 4u);
    EXPECT_EQ(d.ports[1].caps, 10u) << "a leading zero is not octal";
    ASSERT_EQ(d.usb.size(), 3u);
    // Backslashes other than escapes stand for themselves; each string ends in
    // a terminator and the list in one more.
    const std::u16string first = u"USB\\VID_1A2B";
    EXPECT_EQ(d.usb[0].property.size(), 2 * (first.size() + 1 + 2 + 1));
    EXPECT_EQ(d.usb[0].property[6], '\\');
    EXPECT_EQ(d.usb[1].appear, 1u);
    EXPECT_EQ(d.usb[2].property, (std::vector<std::uint8_t>{0x55, 0x00, 0x53}));
    EXPECT_EQ(d.usb[2].property_error, 13u);
    EXPECT_EQ(d.classdevs_error, 8u);
    EXPECT_EQ(d.fail_call, 7u);
    EXPECT_EQ(d.fail_status, 2u);
}

TEST(Description, NamesTheBadLine)
{
    const std::pair<const char *, const char *> cases[] = {
        {"port Name\n", "line 1: port needs a quoted name"},
        {"\nport \"x\" volume=3\n", "line 2: unknown port option 'volume'"},
        {"port \"123456789012345678901234567890123\"\n", "line 1: port name longer than 32"},
        {"usb \"open\n", "line 1: unterminated string"},
        {"usb-hex 5\n", "line 1: usb-hex takes pairs"},
        {"fail 0\n", "line 1: fail takes a call number"},
        {"speaker on\n", "line 1: unknown keyword 'speaker'"},
        // Numbers are decimal or 0x hex in 32 bits: no sign, no wrap.
        {"port \"A\" send=-1\n", "line 1: bad number for send: '-1'"},
        {"port \"A\" send=4294967296\n", "line 1: bad number for send"},
        {"port \"A\" send=0x\n", "line 1: bad number for send"},
        // Sizes that would take the host's memory.
        {"usb \"A\" bytes=65537\n", "line 1: bytes is at most 65536"},
        {"usb \"A\" repeat=60000\nusb \"B\" repeat=40001\n",
         "line 2: more than 100000 USB entries in all"},
    };
    for (const auto &c : cases) {
        Description d;
        std::string error;
        EXPECT_FALSE(parse_description(c.first, d, error)) << c.first;
        EXPECT_EQ(error.rfind(c.second, 0), 0u) << error;
    }
}
