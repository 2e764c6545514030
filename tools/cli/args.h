// Argument reading and text display for tarnwick-cli; platform-free.
#ifndef TARNWICK_CLI_ARGS_H
#define TARNWICK_CLI_ARGS_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace cli {

// An argument as Windows passes it: UTF-16, never through a code page.
using Arg = std::u16string;

enum class Parsed { ok, not_a_number, out_of_range };

// Every number the tool takes: hexadecimal, with or without "0x" ("1A2B",
// "0x1a2b", "B"). Anything but the digits 0-9, A-F, a-f is not a number.
Parsed parse_hex(const Arg &text, std::uint32_t max, std::uint32_t &value);

struct NameKey {
    enum Verdict { ok, too_long, not_a_key_byte } verdict;
    // not_a_key_byte: the first such character (1-based) and its code point.
    std::size_t position;
    char32_t character;
};

// NAME: at most eight characters of U+0001-U+007F, one key byte each, padded
// with zero bytes. A character above U+007F has no byte that can match a
// port (bytes 80-FF never match), so it is refused rather than converted.
NameKey parse_name_key(const Arg &text, unsigned char key[8]);

// Sixteen hexadecimal digits: the eight raw key bytes.
bool parse_hex_key(const Arg &text, unsigned char key[8]);

// Text as the tool shows names, keys, hardware IDs and the ID texts read out
// of them: printable ASCII as is, the backslash as \\, anything else as \xHH
// (up to FF) or \uHHHH (each UTF-16 unit above). Two different texts never
// show alike, no control byte reaches a terminal, and the result is ASCII.
std::string show_bytes(const char *bytes, std::size_t length);
std::string show_key(const unsigned char key[8]);
std::string show_wide(const std::uint16_t *text, std::size_t length);

// An argument echoed in a message: UTF-8, with the backslash, control
// characters and unpaired surrogates escaped as above.
std::string show_arg(const Arg &text);

} // namespace cli

#endif
