#include <gtest/gtest.h>

#include <set>

#include "description.h"
#include "text.h"

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
        // Sizes that would take the host's memory, refused before they are made.
        {"usb \"A\" bytes=65537\n", "line 1: bytes is at most 65536"},
        {"usb \"A\" repeat=60000\nusb \"B\" repeat=40001\n",
         "line 2: more than 100000 USB entries in all"},
        {"port \"PERIPHRL MIDI 1\"\nusb-hex 00 bytes=65536 repeat=100000\n",
         "line 2: more than 8 MiB of hardware-ID data"},
        {"usb \"A\" bytes=65536 repeat=128\nusb \"B\" bytes=2\n", "line 2: more than 8 MiB"},
        // What a reader could not tell apart, or that would mean success.
        {"port \"A\" open=4 open=5\n", "line 1: open= given twice"},
        {"port \"A\" tail=zero tail=keep\n", "line 1: tail= given twice"},
        {"usb \"A\" repeat=0\n", "line 1: repeat is at least 1"},
        {"usb repeat=2\n", "line 1: usb needs at least one quoted string"},
        {"classdevs fail error=0\n", "line 1: error=0 would mean success"},
        {"usb \"A\" property=0\n", "line 1: property=0 would mean success"},
        {"fail 3\nfail 5\n", "line 2: fail N given twice (first on line 1)"},
        {"classdevs fail\n# x\nclassdevs fail error=8\n", "line 3: classdevs fail given twice"},
        // Text: invalid UTF-8, encoded surrogates, NUL bytes; echoed words stay
        // readable.
        {"port \"\xC0\xAF\"\n", "line 1: bad UTF-8 in string"},
        {"port \"\xED\xA0\xBC\"\n", "line 1: bad UTF-8 in string"},
        {"port \"\xF4\x90\x80\x80\"\n", "line 1: bad UTF-8 in string"},
        {"port \"A\"\nport \"B\xF0\x9F\x8E\"\n", "line 2: bad UTF-8 in string"},
        {"sp\xFF" "eaker on\n", "line 1: unknown keyword 'sp\\xFFeaker'"},
        {"\xEF\xBB\xBF\xEF\xBB\xBFport \"A\"\n", "line 1: unknown keyword '\\xEF\\xBB\\xBFport'"},
        // A file saved with CR line ends is one long line: say so.
        {"port \"A\"\rport \"B\"\r", "line 1: a carriage return inside a line"},
    };
    for (const auto &c : cases) {
        Description d;
        std::string error;
        EXPECT_FALSE(parse_description(c.first, d, error)) << c.first;
        EXPECT_EQ(error.rfind(c.second, 0), 0u) << error;
    }
    Description d;
    std::string error;
    std::string ports;
    for (int i = 0; i < 257; ++i)
        ports += "port \"P\"\n";
    EXPECT_FALSE(parse_description(ports, d, error));
    EXPECT_EQ(error, "line 257: more than 256 ports");
    // Whatever a line holds, its message stays short.
    EXPECT_FALSE(parse_description(std::string(1 << 19, '\xFF') + " on\n", d, error));
    std::string shown;
    for (int i = 0; i < 40; ++i)
        shown += "\\xFF";
    EXPECT_EQ(error, "line 1: unknown keyword '" + shown + "...'");
    EXPECT_FALSE(parse_description("port \"A\"\n" + std::string((1 << 20) + 1, ' '), d, error));
    EXPECT_EQ(error, "line 2: a line longer than 1 MiB");
}

// Input ports, answers and the options of a device with one client per port.
TEST(Description, ReadsInputPortsAndAnswers)
{
    Description d;
    std::string error;
    ASSERT_TRUE(parse_description("port \"A\" long=67 clients=many\n"
                                  "port \"B\" clients=one\n"
                                  "in \"PERIPHRL MIDI 1\" open=4 close=7 clients=many\n"
                                  "answer 1 90 3C 40 reply 0 80 3C 00 after=250\n"
                                  "answer 0 F07E7F0601F7 reply 0 F0 7E 7F 06 02 7D 01 F7 # id\n"
                                  "answer 0 FF reply 0 FE\n",
                                  d, error))
        << error;
    ASSERT_EQ(d.ports.size(), 2u);
    EXPECT_EQ(d.ports[0].long_send, 67u);
    EXPECT_TRUE(d.ports[0].many_clients);
    EXPECT_FALSE(d.ports[1].many_clients);
    ASSERT_EQ(d.inputs.size(), 1u);
    EXPECT_EQ(d.inputs[0].name, u"PERIPHRL MIDI 1");
    EXPECT_EQ(d.inputs[0].open, 4u);
    EXPECT_EQ(d.inputs[0].close, 7u);
    EXPECT_TRUE(d.inputs[0].many_clients);
    ASSERT_EQ(d.answers.size(), 3u);
    EXPECT_EQ(d.answers[0].out, 1u);
    EXPECT_EQ(d.answers[0].request, (std::vector<std::uint8_t>{0x90, 0x3C, 0x40}));
    EXPECT_EQ(d.answers[0].reply, (std::vector<std::uint8_t>{0x80, 0x3C, 0x00}));
    EXPECT_EQ(d.answers[0].after, 250u);
    EXPECT_EQ(d.answers[0].line, 4u);
    EXPECT_EQ(d.answers[1].request, (std::vector<std::uint8_t>{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}));
    EXPECT_EQ(d.answers[1].reply.size(), 8u);
    EXPECT_EQ(d.answers[1].after, 0u);

    const std::pair<const char *, const char *> refused[] = {
        {"in PERIPHRL\n", "line 1: in needs a quoted name"},
        {"in \"A\" send=3\n", "line 1: unknown in option 'send'"},
        {"port \"A\" clients=2\n", "line 1: clients is one or many"},
        {"port \"A\"\nin \"B\"\nanswer 0 F0 F7\n", "line 3: answer takes"},
        {"port \"A\"\nin \"B\"\nanswer 0 reply 0 FE\n", "line 3: answer needs the bytes of its request"},
        {"port \"A\"\nin \"B\"\nanswer 0 FE reply 0 F0 7E\n", "line 3: a reply is one short message"},
        {"port \"A\"\nin \"B\"\nanswer 0 FE reply 0 90 3C\n", "line 3: a reply is one short message"},
        {"port \"A\"\nin \"B\"\nanswer 0 FE reply 0 F0 90 F7\n", "line 3: a reply is one short message"},
        {"port \"A\"\nin \"B\"\nanswer 0 FE reply 0 3C\n", "line 3: a reply is one short message"},
        {"port \"A\"\nin \"B\"\nanswer 0 F0G reply 0 FE\n", "line 3: request bytes are pairs"},
        {"port \"A\"\nin \"B\"\nanswer 0 FE reply 0 FE after=60001\n", "line 3: after is at most 60000"},
        {"port \"A\"\nin \"B\"\nanswer 0 FE reply 0 FE after=1 after=2\n", "line 3: after= given twice"},
        // The ports an answer names are described above it.
        {"answer 0 FE reply 0 FE\nport \"A\"\nin \"B\"\n", "line 1: answer names output port 0"},
        {"port \"A\"\nin \"B\"\nanswer 1 FE reply 0 FE\n", "line 3: answer names output port 1"},
        {"port \"A\"\nanswer 0 FE reply 0 FE\n", "line 2: answer names input port 0"},
    };
    for (const auto &c : refused) {
        EXPECT_FALSE(parse_description(c.first, d, error)) << c.first;
        EXPECT_EQ(error.rfind(c.second, 0), 0u) << error;
        EXPECT_TRUE(d.answers.empty() && d.inputs.empty());
    }
    // Bounded whatever the file says.
    std::string big = "port \"A\"\nin \"B\"\n";
    const std::string request = "answer 0 " + std::string(2 * 65536, 'F') + " reply 0 FE\n";
    for (int i = 0; i < 16; ++i)
        big += request;
    EXPECT_FALSE(parse_description(big, d, error));
    EXPECT_EQ(error, "line 18: more than 1 MiB of answer bytes in all");
    EXPECT_FALSE(parse_description("port \"A\"\nin \"B\"\nanswer 0 " + std::string(2 * 65537, 'F') +
                                       " reply 0 FE\n",
                                   d, error));
    EXPECT_EQ(error, "line 3: request longer than 65536 bytes");
}

// What a door cannot present is named by the file's lines, in the file's
// order, whatever kind of line holds it; a file of 100,000 such items names a
// few and counts the rest.
TEST(Description, NamesItemsByTheirLines)
{
    Description d;
    std::string error;
    ASSERT_TRUE(parse_description(std::string(30, '\n') + "usb \"A\" appear=2 bytes=0x1\n" +
                                      "port \"P\" getid=6\nfail 9\nusb \"B\" vanish=3 repeat=1000\n" +
                                      "port \"Q\"\nclassdevs fail\n",
                                  d, error))
        << error;
    const struct {
        unsigned items;
        std::vector<std::string> shown;
    } cases[] = {
        {vperiph::kUsbOptions | vperiph::kClassdevsFail | vperiph::kFailCall,
         {"line 31: bytes=1", "line 31: appear=2", "line 33: fail 9", "line 34: vanish=3",
          "line 36: classdevs fail"}},
        {vperiph::kGetId | vperiph::kFailCall, {"line 32: getid=6", "line 33: fail 9"}},
        {vperiph::kGetId, {"line 32: getid=6"}},
    };
    for (const auto &c : cases) {
        const vperiph::Named named = vperiph::name_items(d, c.items);
        EXPECT_EQ(named.shown, c.shown) << c.items;
        EXPECT_EQ(named.count, c.shown.size()) << c.items;
    }
    EXPECT_EQ(vperiph::name_items(Description{}, ~0u).count, 0u);
    std::string many;
    for (int i = 0; i < 500; ++i)
        many += "usb \"A\" bytes=1 property=5\n";
    ASSERT_TRUE(parse_description(many, d, error)) << error;
    const vperiph::Named named = vperiph::name_items(d, vperiph::kUsbOptions);
    EXPECT_EQ(named.count, 1000u);
    ASSERT_EQ(named.shown.size(), vperiph::kShownItems);
    EXPECT_EQ(named.shown.back(), "line 10: property=5");
}

// UTF-16 as a text editor saves it, in either byte order.
std::string utf16(const std::u16string &text, bool little_endian)
{
    std::string out = little_endian ? "\xFF\xFE" : "\xFE\xFF";
    for (char16_t c : text) {
        const char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
        out += little_endian ? low : high;
        out += little_endian ? high : low;
    }
    return out;
}

TEST(Description, ReadsTheTextPeopleSave)
{
    // "\U0001F3B9" is four bytes of UTF-8 and a surrogate pair in a name.
    const std::u16string piano = u"Keys \U0001F3B9";
    const struct {
        const char *name;
        std::string bytes;
    } same[] = {
        {"UTF-8", "port \"Keys \xF0\x9F\x8E\xB9\"\nusb \"USB\\VID_1A2B\"\n"},
        {"UTF-8 with its byte order mark", "\xEF\xBB\xBFport \"Keys \xF0\x9F\x8E\xB9\"\r\nusb \"USB\\VID_1A2B\"\r\n"},
        {"UTF-16 LE", utf16(u"port \"" + piano + u"\"\r\nusb \"USB\\VID_1A2B\"\r\n", true)},
        {"UTF-16 BE", utf16(u"port \"" + piano + u"\"\nusb \"USB\\VID_1A2B\"", false)},
        {"escapes", "port \"Keys \\uD83C\\uDFB9\"\nusb \"USB\\VID_1A2B\"\n"},
    };
    for (const auto &c : same) {
        Description d;
        std::string error;
        ASSERT_TRUE(parse_description(c.bytes, d, error)) << c.name << ": " << error;
        ASSERT_EQ(d.ports.size(), 1u) << c.name;
        EXPECT_EQ(d.ports[0].name, piano) << c.name;
        ASSERT_EQ(d.usb.size(), 1u) << c.name;
        EXPECT_EQ(d.usb[0].property.size(), 2u * (12 + 1 + 1)) << c.name;
    }
    const std::pair<std::string, const char *> refused[] = {
        {utf16(u"port \"A\"\nport \"\xD83C\"\n", true), "line 2: a lone UTF-16 surrogate"},
        {utf16(u"port \"A\"\n", true) + "p", "line 2: UTF-16 text that ends in half a character"},
        {std::string("port \"A\"\n# x\0y\n", 16), "line 2: a NUL byte"},
        // UTF-16 without its mark is not guessed at.
        {utf16(u"port \"A\"\n", true).substr(2), "line 1: a NUL byte"},
    };
    for (const auto &c : refused) {
        Description d;
        std::string error;
        EXPECT_FALSE(parse_description(c.first, d, error));
        EXPECT_EQ(error.rfind(c.second, 0), 0u) << error;
    }
}

// Names in a report: valid UTF-8 whatever they hold, two names never alike,
// and each one read back by the parser as itself.
TEST(Description, NamesWriteAsTheyRead)
{
    const std::u16string names[] = {u"PERIPHRL MIDI 1", u"\\xC9 lit", u"\u00C9 lit", u"say \"hi\"",
                                    u"\U0001F3B9", std::u16string(1, u'\xD83C'),
                                    std::u16string(u"a\0b\x1b", 4), u"\u202Eevil",
                                    u"a\u00A0b", u"\U000E0041"};
    std::set<std::string> written;
    for (const std::u16string &name : names) {
        const std::string q = vperiph::quoted(name);
        EXPECT_TRUE(written.insert(q).second) << q;
        for (std::size_t i = 0; i < q.size();) {
            char32_t cp = 0;
            ASSERT_TRUE(vperiph::next_utf8(q, i, cp)) << q;
        }
        Description d;
        std::string error;
        ASSERT_TRUE(parse_description("port \"" + q + "\"\n", d, error)) << q << ": " << error;
        EXPECT_EQ(d.ports[0].name, name) << q;
    }
    EXPECT_EQ(tools::utf8(std::u16string(1, u'\xDFB9')), "\xEF\xBF\xBD");
    // What would not show as itself is written as an escape.
    EXPECT_EQ(vperiph::quoted(u"\u202Eevil"), "\\u202Eevil");
    EXPECT_EQ(vperiph::quoted(u"\U000E0041"), "\\uDB40\\uDC41");
}
