// UTF-16 as the tools read it, and UTF-8 as they write it. Platform-free.
// The appender writes to any Out with append(const char *, size_t).
#ifndef TARNWICK_TOOLS_UTF16_H
#define TARNWICK_TOOLS_UTF16_H

#include <cstddef>

namespace tools {

template <typename Out> void append_utf8(Out &out, char32_t cp)
{
    char b[4];
    std::size_t n = 0;
    if (cp < 0x80) {
        b[n++] = static_cast<char>(cp);
    } else if (cp < 0x800) {
        b[n++] = static_cast<char>(0xC0 | (cp >> 6));
        b[n++] = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        b[n++] = static_cast<char>(0xE0 | (cp >> 12));
        b[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        b[n++] = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        b[n++] = static_cast<char>(0xF0 | (cp >> 18));
        b[n++] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        b[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        b[n++] = static_cast<char>(0x80 | (cp & 0x3F));
    }
    out.append(b, n);
}

inline bool high_surrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool low_surrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Walks UTF-16 units as code points: a pair gives one, a lone surrogate is
// handed on as itself (lone = true) for the caller to show.
template <typename Unit, typename Visit> void each_code_point(const Unit *s, std::size_t n, Visit visit)
{
    for (std::size_t i = 0; i < n; ++i) {
        const char32_t u = static_cast<char16_t>(s[i]);
        if (high_surrogate(u) && i + 1 < n && low_surrogate(static_cast<char16_t>(s[i + 1]))) {
            const char32_t low = static_cast<char16_t>(s[++i]);
            visit(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00), false);
        } else {
            visit(u, high_surrogate(u) || low_surrogate(u));
        }
    }
}

} // namespace tools

#endif
