// Fuzzes the key comparison and the message packing against their rules:
// eight signed key bytes against the name's characters, zero past the name's
// end; the word's bytes are the status nibble with channel - 1, data1, data2.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "key_match.h"
#include "short_message.h"

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 13)
        return 0;
    const std::uint8_t *key = data;
    const std::uint8_t status = data[8], channel = data[9], data1 = data[10], data2 = data[11];
    const std::size_t name_length = data[12] % 33;
    // The name record holds only what the input gives (at most 32 characters).
    std::vector<std::uint16_t> name;
    for (std::size_t i = 13; i + 1 < size && name.size() < 32; i += 2)
        name.push_back(static_cast<std::uint16_t>(data[i] | (data[i + 1] << 8)));
    const std::size_t length = name_length < name.size() ? name_length : name.size();

    const std::uint32_t word = tarnwick::pack_short_message(status, channel, data1, data2);
    check((word & 0xF0) == (status & 0xF0u));
    check((word & 0x0F) == ((channel + 15u) & 0x0F));
    check(((word >> 8) & 0xFF) == data1 && ((word >> 16) & 0xFF) == data2 && (word >> 24) == 0);

    const bool match = tarnwick::name_matches_key(name.empty() ? nullptr : name.data(), length, key);
    bool expected = true, ended = false;
    for (std::size_t i = 0; i < tarnwick::kPortNameKeySize; ++i) {
        const int c = (ended || i >= length) ? 0 : name[i];
        ended = ended || c == 0;
        expected = expected && c == static_cast<signed char>(key[i]);
    }
    check(match == expected);
    for (std::size_t i = 0; i < tarnwick::kPortNameKeySize; ++i)
        check(!(match && key[i] >= 0x80)); // such a key matches nothing

    // What tarnwick-cli says of a whole record: the first position where the
    // rule fails, with the two values there.
    std::uint16_t record[32] = {};
    for (std::size_t i = 0; i < length; ++i)
        record[i] = name[i];
    const cli::KeyMatch m = cli::match_key(record, key);
    std::size_t first = tarnwick::kPortNameKeySize;
    ended = false;
    for (std::size_t i = 0; i < tarnwick::kPortNameKeySize && first == tarnwick::kPortNameKeySize; ++i) {
        ended = ended || record[i] == 0;
        const int c = ended ? 0 : record[i];
        if (c != static_cast<signed char>(key[i])) {
            first = i;
            check(m.name_char == c && m.key_byte == key[i]);
        }
    }
    check(m.matches == (first == tarnwick::kPortNameKeySize));
    check(m.matches || m.position == first);
    check(!cli::explain(m).empty());
    return 0;
}
