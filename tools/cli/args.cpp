#include "args.h"

#include "hidden_characters.h"
#include "utf16.h"

#include <cstdio>
#include <vector>

namespace cli {

namespace {

// Every character is checked before the value, so "12Z" is not a number even
// when "12" alone would be out of range.
Parsed parse_digits(const Arg &text, std::size_t start, std::size_t end, std::uint32_t max,
                    std::uint32_t &value)
{
    if (start >= end)
        return Parsed::not_a_number;
    std::uint64_t v = 0;
    bool in_range = true;
    for (std::size_t i = start; i < end; ++i) {
        const char16_t c = text[i];
        unsigned d;
        if (c >= u'0' && c <= u'9')
            d = static_cast<unsigned>(c - u'0');
        else if (c >= u'a' && c <= u'f')
            d = static_cast<unsigned>(c - u'a' + 10);
        else if (c >= u'A' && c <= u'F')
            d = static_cast<unsigned>(c - u'A' + 10);
        else
            return Parsed::not_a_number;
        v = in_range ? v * 16 + d : v;
        in_range = in_range && v <= max;
    }
    if (!in_range)
        return Parsed::out_of_range;
    value = static_cast<std::uint32_t>(v);
    return Parsed::ok;
}

void append_escape(std::string &out, std::uint32_t unit)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, unit < 0x100 ? "\\x%02X" : "\\u%04X", unit);
    out += buf;
}

} // namespace

Parsed parse_hex(const Arg &text, std::uint32_t max, std::uint32_t &value)
{
    const bool prefix = text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X');
    return parse_digits(text, prefix ? 2 : 0, text.size(), max, value);
}

NameKey parse_name_key(const Arg &text, unsigned char key[8])
{
    std::size_t characters = 0;
    NameKey first_bad{NameKey::ok, 0, 0};
    tools::each_code_point(text.data(), text.size(), [&](char32_t c, bool) {
        ++characters;
        if (first_bad.verdict == NameKey::ok && (c == 0 || c > 0x7F))
            first_bad = {NameKey::not_a_key_byte, characters, c};
    });
    if (first_bad.verdict != NameKey::ok)
        return first_bad;
    if (characters > 8)
        return {NameKey::too_long, 0, 0};
    for (std::size_t i = 0; i < 8; ++i)
        key[i] = i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
    return {NameKey::ok, 0, 0};
}

bool parse_hex_key(const Arg &text, unsigned char key[8])
{
    if (text.size() != 16)
        return false;
    for (std::size_t i = 0; i < 8; ++i) {
        std::uint32_t byte = 0;
        if (parse_digits(text, 2 * i, 2 * i + 2, 0xFF, byte) != Parsed::ok)
            return false;
        key[i] = static_cast<unsigned char>(byte);
    }
    return true;
}

std::string show_wide(const std::uint16_t *text, std::size_t length)
{
    std::string out;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] == '\\')
            out += "\\\\";
        else if (text[i] >= 0x20 && text[i] < 0x7F)
            out += static_cast<char>(text[i]);
        else
            append_escape(out, text[i]);
    }
    return out;
}

std::string show_bytes(const char *bytes, std::size_t length)
{
    std::vector<std::uint16_t> wide;
    for (std::size_t i = 0; i < length; ++i)
        wide.push_back(static_cast<unsigned char>(bytes[i]));
    return show_wide(wide.data(), wide.size());
}

std::string show_key(const unsigned char key[8])
{
    return show_bytes(reinterpret_cast<const char *>(key), 8);
}

std::string show_arg(const Arg &text)
{
    std::string out;
    tools::each_code_point(text.data(), text.size(), [&](char32_t c, bool) {
        if (c == '\\') {
            out += "\\\\";
        } else if (!tools::hidden_character(c)) {
            tools::append_utf8(out, c);
        } else if (c < 0x10000) {
            append_escape(out, static_cast<std::uint32_t>(c));
        } else {
            // Escaped as the two units it came as.
            append_escape(out, 0xD800 + ((c - 0x10000) >> 10));
            append_escape(out, 0xDC00 + ((c - 0x10000) & 0x3FF));
        }
    });
    return out;
}

} // namespace cli
