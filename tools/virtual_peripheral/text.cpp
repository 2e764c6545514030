#include "text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace vperiph {

bool next_utf8(const std::string &s, std::size_t &i, char32_t &cp)
{
    const auto b = static_cast<unsigned char>(s[i]);
    const int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2
                                   : (b & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || s.size() - i <= static_cast<std::size_t>(extra))
        return false;
    char32_t c = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
    for (int k = 1; k <= extra; ++k) {
        const auto next = static_cast<unsigned char>(s[i + k]);
        if ((next & 0xC0) != 0x80)
            return false;
        c = (c << 6) | (next & 0x3F);
    }
    static const char32_t smallest[] = {0, 0x80, 0x800, 0x10000};
    if (c < smallest[extra] || c > 0x10FFFF || high_surrogate(c) || low_surrogate(c))
        return false;
    i += static_cast<std::size_t>(extra) + 1;
    cp = c;
    return true;
}

std::string quoted(const std::u16string &s)
{
    std::string out;
    append_quoted(out, s.data(), s.size());
    return out;
}

std::string printable(const std::string &bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    constexpr std::size_t kShown = 40;
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == kShown)
            return out + "...";
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b >= 0x20 && b < 0x7F) {
            out += bytes[i];
        } else {
            out += "\\x";
            out += hex[b >> 4];
            out += hex[b & 15];
        }
    }
    return out;
}

// Marked as printf-like here, where its body hands fmt on, so that a
// compiler checking formats takes fmt as one.
__attribute__((format(printf, 1, 2))) std::string format(const char *fmt, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

std::size_t copy_out(const std::string &text, char *buffer, std::size_t size)
{
    if (buffer != nullptr && size > 0) {
        const std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return text.size();
}

} // namespace vperiph
