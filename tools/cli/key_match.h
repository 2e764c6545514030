// Why a port's product name does or does not match an 8-byte key, position
// by position, the way the library compares them; platform-free.
#ifndef TARNWICK_CLI_KEY_MATCH_H
#define TARNWICK_CLI_KEY_MATCH_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace cli {

struct KeyMatch {
    bool matches;
    // When it does not: the first position (0-7) that disagrees, the name's
    // character there (0 once the name has ended) and the key's byte.
    std::size_t position;
    std::uint16_t name_char;
    unsigned char key_byte;
};

// name: the 32 characters of a capability record's product name.
KeyMatch match_key(const std::uint16_t name[32], const unsigned char key[8]);

// "character 1 is \"M\", the key has \"P\"", and the like (1-based).
std::string explain(const KeyMatch &m);

} // namespace cli

#endif
