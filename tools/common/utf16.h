// UTF-16 as the tools read it, and UTF-8 as they write it: the one
// conversion between them. Platform-free. The appenders write to any Out
// with append(const char *, size_t), so the report written as a process ends
// can use a buffer that never allocates.
#ifndef TARNWICK_TOOLS_UTF16_H
#define TARNWICK_TOOLS_UTF16_H

#include <cstddef>
#include <string>

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

// Walks n UTF-16 units, unit(i) giving the i-th, as code points: a pair
// gives one, a lone surrogate is handed on as itself (lone = true) for the
// caller to show or refuse.
template <typename UnitAt, typename Visit>
void each_code_point_at(std::size_t n, UnitAt unit, Visit visit)
{
    for (std::size_t i = 0; i < n; ++i) {
        const char32_t u = unit(i);
        if (high_surrogate(u) && i + 1 < n && low_surrogate(unit(i + 1))) {
            const char32_t low = unit(++i);
            visit(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00), false);
        } else {
            visit(u, high_surrogate(u) || low_surrogate(u));
        }
    }
}

template <typename Unit, typename Visit> void each_code_point(const Unit *s, std::size_t n, Visit visit)
{
    each_code_point_at(n, [s](std::size_t i) { return char32_t{static_cast<char16_t>(s[i])}; },
                       visit);
}

// UTF-16 (a path, a string a caller gave) as UTF-8; a lone surrogate
// becomes U+FFFD.
template <typename Out, typename Unit> void append_utf8_of(Out &out, const Unit *s, std::size_t n)
{
    each_code_point(s, n, [&](char32_t cp, bool lone) { append_utf8(out, lone ? 0xFFFD : cp); });
}

template <typename Unit> std::string utf8(const std::basic_string<Unit> &s)
{
    std::string out;
    append_utf8_of(out, s.data(), s.size());
    return out;
}

} // namespace tools

#endif
