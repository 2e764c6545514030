#include "key_match.h"

#include "args.h"
#include "short_message.h"

namespace cli {

KeyMatch match_key(const std::uint16_t name[32], const unsigned char key[8])
{
    // The verdict is the library's own; the position is found by its rule:
    // signed key bytes, and the name read as zero from its terminator on.
    KeyMatch m{tarnwick::name_matches_key(name, 32, key), 0, 0, 0};
    bool ended = false;
    for (std::size_t i = 0; !m.matches && i < tarnwick::kPortNameKeySize; ++i) {
        ended = ended || name[i] == 0;
        const int c = ended ? 0 : name[i];
        if (c != static_cast<signed char>(key[i])) {
            m.position = i;
            m.name_char = static_cast<std::uint16_t>(c);
            m.key_byte = key[i];
            break;
        }
    }
    return m;
}

std::string explain(const KeyMatch &m)
{
    if (m.matches)
        return "all eight characters agree with the key";
    const std::string at = "character " + std::to_string(m.position + 1);
    const char key_char = static_cast<char>(m.key_byte);
    const std::string key = "\"" + show_bytes(&key_char, 1) + "\"";
    if (m.key_byte >= 0x80)
        return at + ": the key byte " + key + " is 0x80 or above, which no character matches";
    if (m.name_char == 0)
        return "the name ends before " + at + ", where the key has " + key;
    const std::string name = "\"" + show_wide(&m.name_char, 1) + "\"";
    if (m.key_byte == 0)
        return at + " is " + name + ", where the key has ended (a zero byte)";
    return at + " is " + name + ", the key has " + key;
}

} // namespace cli
