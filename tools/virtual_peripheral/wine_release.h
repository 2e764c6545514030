// Which Wine releases winevp.drv knows how to meet, and the one line it says
// where it meets another. Platform-free, and free of allocation: the driver
// decides as it is loaded, under the loader's lock.
//
// Wine's mmdevapi asks an audio driver different questions from release to
// release (other exports, and from 9.x on numbered calls into the driver's
// Unix part whose numbers move): a driver that guessed could answer a
// question with the answer to another. So only the releases whose questions
// were read are served, each by its stable branch (8.0.N, 10.0.N).
#ifndef WINEVP_WINE_RELEASE_H
#define WINEVP_WINE_RELEASE_H

#include <cstddef>

namespace winevp {

enum class WineRelease {
    unknown,  // not Wine, or a release this driver was not written for
    wine_8_0, // exports only: GetPriority and the endpoint functions
    wine_10_0 // get_device_guid and friends, and the Unix part winevp.so
};

// version: what ntdll's wine_get_version answers ("8.0", "10.0.1"), or
// nullptr outside Wine. Anything but "8.0" and "10.0", alone or with a
// maintenance number, is unknown.
WineRelease wine_release(const char *version);

enum class Refusal {
    unknown_release, // wine_release() said unknown
    no_unix_part     // Wine 10.0 registered no winevp.so with the driver
};

// Writes the one line (no newline) that says why the driver presents
// nothing into out[size], cut to fit and always terminated (size > 0).
// version as for wine_release(); shown only as printable ASCII, and cut.
// Returns the length written.
std::size_t refusal_line(char *out, std::size_t size, Refusal why, const char *version);

} // namespace winevp

#endif
