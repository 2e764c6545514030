#include "short_message.h"

namespace tarnwick {

std::uint32_t pack_short_message(std::uint8_t status, std::uint8_t channel, std::uint8_t data1,
                                 std::uint8_t data2)
{
    const std::uint32_t status_byte = (status & 0xF0u) | ((channel - 1u) & 0x0Fu);
    return status_byte | (std::uint32_t{data1} << 8) | (std::uint32_t{data2} << 16);
}

bool name_matches_key(const std::uint16_t *name, std::size_t name_length,
                      const unsigned char key[kPortNameKeySize])
{
    bool terminated = false;
    for (std::size_t i = 0; i < kPortNameKeySize; ++i) {
        const int name_char = (terminated || i >= name_length) ? 0 : name[i];
        if (name_char == 0)
            terminated = true;
        const int key_byte = static_cast<signed char>(key[i]);
        if (name_char != key_byte)
            return false;
    }
    return true;
}

} // namespace tarnwick
