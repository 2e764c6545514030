// Characters that show as nothing, look like a space, or change how the
// text around them is shown (controls, format and bidirectional marks,
// invisible spaces, private use): wherever the tools echo a name or an
// argument, these are written as escapes, so that what a reader sees is
// what is there.
#ifndef TARNWICK_TOOLS_HIDDEN_CHARACTERS_H
#define TARNWICK_TOOLS_HIDDEN_CHARACTERS_H

namespace tools {

inline bool hidden_character(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0xA0) || c == 0xAD || c == 0x34F ||
           c == 0x61C || c == 0x115F || c == 0x1160 || c == 0x180E ||
           (c >= 0x2000 && c <= 0x200F) || (c >= 0x2028 && c <= 0x202F) ||
           (c >= 0x205F && c <= 0x206F) || c == 0x3000 || c == 0x3164 ||
           (c >= 0xD800 && c <= 0xDFFF) || (c >= 0xE000 && c <= 0xF8FF) ||
           (c >= 0xFE00 && c <= 0xFE0F) || c == 0xFEFF || c == 0xFFA0 ||
           (c >= 0xFFF0 && c <= 0xFFFF) || (c >= 0x1D173 && c <= 0x1D17A) ||
           (c >= 0xE0000 && c <= 0xE0FFF) || c >= 0xF0000 || (c & 0xFFFE) == 0xFFFE;
}

} // namespace tools

#endif
