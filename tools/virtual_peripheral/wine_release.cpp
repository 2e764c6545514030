#include "wine_release.h"

namespace winevp {

namespace {

// "N.0" or "N.0.M" for the given major number N.
bool is_branch_of(const char *version, const char *major)
{
    const char *v = version;
    for (const char *m = major; *m != '\0'; ++m, ++v)
        if (*v != *m)
            return false;
    if (v[0] != '.' || v[1] != '0')
        return false;
    v += 2;
    if (*v == '\0')
        return true;
    if (*v++ != '.' || *v == '\0')
        return false;
    for (; *v != '\0'; ++v)
        if (*v < '0' || *v > '9')
            return false;
    return true;
}

struct Line {
    char *out;
    std::size_t size, n;
    void add(const char *s)
    {
        for (; *s != '\0' && n + 1 < size; ++s)
            out[n++] = *s;
    }
    // Someone else's text: printable ASCII only, and not much of it.
    void add_quoted(const char *s)
    {
        std::size_t shown = 0;
        for (; *s != '\0' && n + 1 < size && shown < 40; ++s, ++shown)
            out[n++] = *s >= 0x20 && *s < 0x7F ? *s : '?';
        if (*s != '\0')
            add("...");
    }
};

} // namespace

WineRelease wine_release(const char *version)
{
    if (version == nullptr)
        return WineRelease::unknown;
    if (is_branch_of(version, "8"))
        return WineRelease::wine_8_0;
    if (is_branch_of(version, "10"))
        return WineRelease::wine_10_0;
    return WineRelease::unknown;
}

std::size_t refusal_line(char *out, std::size_t size, Refusal why, const char *version)
{
    Line line{out, size, 0};
    line.add("winevp.drv: ");
    if (version == nullptr) {
        line.add("not under Wine (ntdll has no wine_get_version)");
    } else {
        line.add("Wine ");
        line.add_quoted(version);
        line.add(why == Refusal::unknown_release
                     ? " is a release this driver does not know (it knows 8.0 and 10.0)"
                     : " found no Unix part for this driver: set WINEDLLPATH to the folder "
                       "holding winevp.drv and winevp.so (the kit's virtual_peripheral/wine)");
    }
    line.add(": it presents no MIDI ports");
    out[line.n] = '\0';
    return line.n;
}

} // namespace winevp
