// Text as the virtual peripheral reads and writes it: UTF-8 in, UTF-8 out,
// names quoted so that they read back. Platform-free. The appenders write to
// any Out with append(const char *, size_t), so the report written as a
// process ends can use a buffer that never allocates.
#ifndef VPERIPH_TEXT_H
#define VPERIPH_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "hidden_characters.h"
#include "utf16.h"

namespace vperiph {

using tools::append_utf8;
using tools::append_utf8_of;
using tools::each_code_point;
using tools::high_surrogate;
using tools::low_surrogate;
using tools::utf8;

// The code point of the UTF-8 sequence at s[i], advancing i; false for
// anything that is not valid UTF-8 (overlong forms, surrogates, beyond
// U+10FFFF, a cut sequence).
bool next_utf8(const std::string &s, std::size_t &i, char32_t &cp);

// A name as a description writes it between its quotes: \" and \\, \uHHHH
// (a pair of them beyond U+FFFF) for lone surrogates and for characters that
// would not show as themselves, everything else as UTF-8. Two different
// names never read alike, and each reads back as itself.
template <typename Out, typename Unit> void append_quoted(Out &out, const Unit *s, std::size_t n)
{
    static const char hex[] = "0123456789ABCDEF";
    const auto escape = [&](char32_t unit) {
        const char escaped[6] = {'\\', 'u', hex[(unit >> 12) & 15], hex[(unit >> 8) & 15],
                                 hex[(unit >> 4) & 15], hex[unit & 15]};
        out.append(escaped, 6);
    };
    each_code_point(s, n, [&](char32_t cp, bool lone) {
        if (cp == '"' || cp == '\\') {
            const char escaped[2] = {'\\', static_cast<char>(cp)};
            out.append(escaped, 2);
        } else if (lone || tools::hidden_character(cp)) {
            if (cp >= 0x10000) {
                escape(0xD800 + ((cp - 0x10000) >> 10));
                escape(0xDC00 + ((cp - 0x10000) & 0x3FF));
            } else {
                escape(cp);
            }
        } else {
            append_utf8(out, cp);
        }
    });
}

std::string quoted(const std::u16string &s);

// Bytes from a file shown in a message: printable ASCII as is, anything
// else as \xHH, so that a message is always valid UTF-8; cut after 40 bytes,
// so that a message stays short whatever the file holds.
std::string printable(const std::string &bytes);

// printf into a string (at most 1023 bytes).
std::string format(const char *fmt, ...);

// Copies text into a caller's buffer (truncated, always terminated when
// size > 0); returns its full length.
std::size_t copy_out(const std::string &text, char *buffer, std::size_t size);

} // namespace vperiph

#endif
