// Argument reading and text display for tarnwick-cli; platform-free.
#ifndef TARNWICK_CLI_ARGS_H
#define TARNWICK_CLI_ARGS_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace cli {

enum class Parsed { ok, not_a_number, out_of_range };

// Hexadecimal with or without "0x": "1A2B", "0x1a2b".
Parsed parse_hex(const std::string &text, std::uint32_t max, std::uint32_t &value);

// Decimal, or hexadecimal after "0x".
bool parse_decimal_or_hex(const std::string &text, std::uint32_t max, std::uint32_t &value);

// NAME: at most eight characters, padded with zero bytes.
bool parse_name_key(const std::string &text, unsigned char key[8]);

// Sixteen hexadecimal digits: the eight raw key bytes.
bool parse_hex_key(const std::string &text, unsigned char key[8]);

// Text as the tool shows it: printable ASCII as is, anything else as \xHH
// (bytes) or \uHHHH (wide characters above 0xFF), so that no control byte
// reaches a terminal and JSON output stays ASCII. Used for keys, product
// names, hardware IDs and the ID texts read out of them.
std::string show_bytes(const char *bytes, std::size_t length);
std::string show_key(const unsigned char key[8]);
std::string show_wide(const std::uint16_t *text, std::size_t length);

} // namespace cli

#endif
