#include "key_match.h"

#include "args.h"
#include "short_message.h"

namespace cli {

KeyMatch match_key(const std::uint16_t name[32], const unsigned char key[8])
{
    // Verdict and position both come from the library's own rule: the first
    // position whose prefix no longer agrees, asked as the name read that
    // far against the key's bytes that far and zeros after them.
    KeyMatch m{tarnwick::name_matches_key(name, 32, key), 0, 0, 0};
    unsigned char prefix[tarnwick::kPortNameKeySize] = {};
    for (std::size_t i = 0; !m.matches && i < tarnwick::kPortNameKeySize; ++i) {
        prefix[i] = key[i];
        if (!tarnwick::name_matches_key(name, i + 1, prefix)) {
            m.position = i;
            // The name's character there, or 0 once the name has ended.
            bool ended = false;
            for (std::size_t j = 0; j <= i; ++j)
                ended = ended || name[j] == 0;
            m.name_char = ended ? 0 : name[i];
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
