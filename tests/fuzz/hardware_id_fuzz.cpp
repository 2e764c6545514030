// Fuzzes the hardware-ID parser against a plain restatement of the rule: the
// IDs are the four characters after "VID_" (at the first "V" of the first
// string) and after the "&PID_" that follows them. The input lives in a
// buffer of exactly its size, so AddressSanitizer catches any read past it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "hardware_id.h"

namespace {

bool units_are(const std::uint8_t *data, std::size_t at, const char *text)
{
    for (std::size_t i = 0; text[i] != '\0'; ++i)
        if (data[2 * (at + i)] != static_cast<std::uint8_t>(text[i]) || data[2 * (at + i) + 1] != 0)
            return false;
    return true;
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::vector<unsigned char> delivered(data, data + size);
    tarnwick::UsbIds ids;
    std::memset(&ids, 0xEE, sizeof ids);
    const auto shape = tarnwick::parse_hardware_id(delivered.empty() ? nullptr : delivered.data(),
                                                   delivered.size(), ids);

    const std::size_t units = size / 2;
    std::size_t end = 0; // the first string's length
    while (end < units && (data[2 * end] | data[2 * end + 1]) != 0)
        ++end;
    std::size_t v = 0;
    while (v < end && !(data[2 * v] == 'V' && data[2 * v + 1] == 0))
        ++v;
    const bool expected = v < end && v + 17 <= end && units_are(data, v, "VID_") &&
                          units_are(data, v + 8, "&PID_");

    check((shape == tarnwick::HardwareIdShape::ids_found) == expected);
    check((shape == tarnwick::HardwareIdShape::no_v) == (v == end));
    if (expected) {
        for (std::size_t i = 0; i < 4; ++i) {
            check(static_cast<std::uint8_t>(ids.vid[i]) == data[2 * (v + 4 + i)]);
            check(static_cast<std::uint8_t>(ids.pid[i]) == data[2 * (v + 13 + i)]);
        }
    } else {
        const unsigned char untouched[sizeof ids] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
        check(std::memcmp(&ids, untouched, sizeof ids) == 0);
    }
    return 0;
}
