#include "args.h"

#include <cstdio>
#include <vector>

namespace cli {

namespace {

// Every character is checked before the value, so "12Z" is not a number even
// when "12" alone would be out of range.
Parsed parse_digits(const std::string &text, std::size_t start, unsigned base, std::uint32_t max,
                    std::uint32_t &value)
{
    if (start >= text.size())
        return Parsed::not_a_number;
    std::uint64_t v = 0;
    bool in_range = true;
    for (std::size_t i = start; i < text.size(); ++i) {
        const char c = text[i];
        unsigned d;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = static_cast<unsigned>(c - 'A' + 10);
        else
            return Parsed::not_a_number;
        v = in_range ? v * base + d : v;
        in_range = in_range && v <= max;
    }
    if (!in_range)
        return Parsed::out_of_range;
    value = static_cast<std::uint32_t>(v);
    return Parsed::ok;
}

bool has_hex_prefix(const std::string &text)
{
    return text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

} // namespace

Parsed parse_hex(const std::string &text, std::uint32_t max, std::uint32_t &value)
{
    return parse_digits(text, has_hex_prefix(text) ? 2 : 0, 16, max, value);
}

bool parse_decimal_or_hex(const std::string &text, std::uint32_t max, std::uint32_t &value)
{
    const bool hex = has_hex_prefix(text);
    return parse_digits(text, hex ? 2 : 0, hex ? 16 : 10, max, value) == Parsed::ok;
}

bool parse_name_key(const std::string &text, unsigned char key[8])
{
    if (text.size() > 8)
        return false;
    for (std::size_t i = 0; i < 8; ++i)
        key[i] = i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
    return true;
}

bool parse_hex_key(const std::string &text, unsigned char key[8])
{
    if (text.size() != 16)
        return false;
    for (std::size_t i = 0; i < 8; ++i) {
        std::uint32_t byte = 0;
        if (parse_digits(text.substr(2 * i, 2), 0, 16, 0xFF, byte) != Parsed::ok)
            return false;
        key[i] = static_cast<unsigned char>(byte);
    }
    return true;
}

std::string show_wide(const std::uint16_t *text, std::size_t length)
{
    std::string out;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] >= 0x20 && text[i] < 0x7F) {
            out += static_cast<char>(text[i]);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, text[i] < 0x100 ? "\\x%02X" : "\\u%04X", text[i]);
            out += buf;
        }
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

} // namespace cli
