#include "state.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace vperiph {

CRITICAL_SECTION g_lock;
State *g_state = nullptr;

std::string format(const char *fmt, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

std::string utf8(const std::u16string &s)
{
    std::string out;
    for (char16_t c : s) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

size_t copy_out(const std::string &text, char *buffer, size_t size)
{
    if (buffer != nullptr && size > 0) {
        const size_t n = text.size() < size - 1 ? text.size() : size - 1;
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return text.size();
}

void reset(State &s, Description d)
{
    s = State{};
    s.loaded = true;
    s.d = std::move(d);
    s.received.resize(s.d.ports.size());
}

void load_from_environment(State &s)
{
    Description d;
    char path[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA("TARNWICK_VP_FILE", path, sizeof path);
    if (n > 0 && n < sizeof path) {
        if (FILE *f = std::fopen(path, "rb")) {
            std::string text;
            char chunk[4096];
            size_t got;
            while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0)
                text.append(chunk, got);
            std::fclose(f);
            std::string error;
            if (!vperiph::parse_description(text, d, error))
                std::fprintf(stderr, "virtual peripheral: %s: %s\n", path, error.c_str());
        } else {
            std::fprintf(stderr, "virtual peripheral: cannot read %s\n", path);
        }
    }
    reset(s, std::move(d));
}

} // namespace vperiph
