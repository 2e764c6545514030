// Platform-free pieces of the MIDI side: the short-message word and the
// comparison of a port's product name with the 8-byte key.
#ifndef TARNWICK_SHORT_MESSAGE_H
#define TARNWICK_SHORT_MESSAGE_H

#include <cstddef>
#include <cstdint>

namespace tarnwick {

constexpr std::size_t kPortNameKeySize = 8;
constexpr std::uint8_t kProbeStatus = 0xFF;

// Packs the word the platform expects: status byte in bits 0-7, data1 in
// 8-15, data2 in 16-23. Channel counts from 1, so channel 0 gives nibble F.
std::uint32_t pack_short_message(std::uint8_t status, std::uint8_t channel, std::uint8_t data1,
                                 std::uint8_t data2);

// True when the first eight characters of a product name agree with the key.
// Key bytes are signed (0x80-0xFF never agree). Characters after the name's
// terminator count as zero: the platform defines nothing past it.
bool name_matches_key(const std::uint16_t *name, std::size_t name_length,
                      const unsigned char key[kPortNameKeySize]);

} // namespace tarnwick

#endif
