#include "hardware_id.h"

#include <cstring>

namespace tarnwick {

namespace {

constexpr std::size_t kVidPrefix = 4;  // "VID_"
constexpr std::size_t kPidPrefix = 5;  // "&PID_"
constexpr std::size_t kIdsLength = kVidPrefix + kIdTextSize + kPidPrefix + kIdTextSize;

struct WideText {
    const unsigned char *data;
    std::size_t length; // whole UTF-16 characters delivered

    std::uint16_t at(std::size_t i) const
    {
        return static_cast<std::uint16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
};

bool text_at(const WideText &text, std::size_t pos, const char *expected, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        if (text.at(pos + i) != static_cast<unsigned char>(expected[i]))
            return false;
    return true;
}

void copy_id_text(const WideText &text, std::size_t pos, char out[kIdTextSize])
{
    for (std::size_t i = 0; i < kIdTextSize; ++i)
        out[i] = static_cast<char>(text.at(pos + i) & 0xFF);
}

} // namespace

HardwareIdShape parse_hardware_id(const unsigned char *data, std::size_t size, UsbIds &ids)
{
    const WideText text{data, data == nullptr ? 0 : size / 2};

    // The first string ends at its terminator or where the data ends.
    std::size_t first_end = 0;
    while (first_end < text.length && text.at(first_end) != 0)
        ++first_end;

    std::size_t v = 0;
    while (v < first_end && text.at(v) != u'V')
        ++v;
    if (v == first_end)
        return HardwareIdShape::no_v;

    // Each part is looked at only when the first string holds all of it.
    const std::size_t available = first_end - v;
    const std::size_t pid_prefix = v + kVidPrefix + kIdTextSize;
    if (available < kVidPrefix)
        return HardwareIdShape::cut_short;
    if (!text_at(text, v, "VID_", kVidPrefix))
        return HardwareIdShape::no_vid_prefix;
    if (available < kVidPrefix + kIdTextSize + kPidPrefix)
        return HardwareIdShape::cut_short;
    if (!text_at(text, pid_prefix, "&PID_", kPidPrefix))
        return HardwareIdShape::no_pid_prefix;
    if (available < kIdsLength)
        return HardwareIdShape::cut_short;

    copy_id_text(text, v + kVidPrefix, ids.vid);
    copy_id_text(text, pid_prefix + kPidPrefix, ids.pid);
    return HardwareIdShape::ids_found;
}

void render_id_text(std::uint16_t id, char text[kIdTextSize])
{
    static const char digits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < kIdTextSize; ++i)
        text[i] = digits[(id >> (12 - 4 * i)) & 0xF];
}

bool id_text_equals(const char a[kIdTextSize], const char b[kIdTextSize])
{
    return std::memcmp(a, b, kIdTextSize) == 0;
}

} // namespace tarnwick
