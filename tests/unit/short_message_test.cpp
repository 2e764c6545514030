#include <gtest/gtest.h>

#include "short_message.h"

using tarnwick::name_matches_key;
using tarnwick::pack_short_message;

TEST(ShortMessage, PacksStatusChannelAndData)
{
    struct Case {
        int status, channel, data1, data2;
        std::uint32_t word;
    } cases[] = {
        {0xF0, 0, 0, 0, 0x000000FF},      // channel 0 turns F0 into the one-byte FF
        {0x90, 1, 0x3C, 0x40, 0x00403C90},
        {0x90, 16, 0x3C, 0x40, 0x00403C9F},
        {0x85, 3, 0, 0, 0x00000082},      // only the status's high nibble is used
        {0x00, 6, 0x05, 0x7F, 0x007F0505},
        {0x80, 17, 0xFF, 0xFF, 0x00FFFF80}, // data bytes are not masked here
    };
    for (const Case &c : cases)
        EXPECT_EQ(pack_short_message(static_cast<std::uint8_t>(c.status),
                                     static_cast<std::uint8_t>(c.channel),
                                     static_cast<std::uint8_t>(c.data1),
                                     static_cast<std::uint8_t>(c.data2)),
                  c.word)
            << std::hex << c.status << " ch " << c.channel;
}

TEST(ShortMessage, ComparesEightSignedKeyBytes)
{
    const auto u16 = [](const char16_t *s) {
        std::u16string text(s);
        text += u'\0';
        text.resize(32, u'\xFDFD'); // whatever lies past the terminator
        return text;
    };
    struct Case {
        std::u16string name;
        std::size_t name_length;
        const char *key; // eight bytes
        bool match;
    } cases[] = {
        {u16(u"PERIPHRL MIDI"), 32, "PERIPHRL", true},
        {u16(u"PERIPHRl"), 32, "PERIPHRL", false},
        {u16(u"ABC"), 32, "ABC\0\0\0\0\0", true},
        {u16(u"ABC"), 32, "ABC\0XYZ\0", false},
        {u16(u"ABC"), 32, "ABC\0\0\0\0X", false},
        {u16(u"\u0080BCDEFGH"), 32, "\x80" "BCDEFGH", false},
        {u16(u"\uFF80BCDEFGH"), 32, "\x80" "BCDEFGH", false},
        {u16(u""), 32, "\0\0\0\0\0\0\0\0", true},
        {u16(u"ABCDEFGH"), 3, "ABC\0\0\0\0\0", true}, // the record ends early
    };
    for (const Case &c : cases)
        EXPECT_EQ(name_matches_key(reinterpret_cast<const std::uint16_t *>(c.name.data()),
                                   c.name_length,
                                   reinterpret_cast<const unsigned char *>(c.key)),
                  c.match)
            << c.key;
}
