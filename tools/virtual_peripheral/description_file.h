// Reading a description file: the platform's half of a description, beside
// its platform-free parser (description.h). Every reader of a file (the
// peripheral as it is first used, vp_register_file) reads it here, so that
// all of them take and refuse the same files with the same words.
#ifndef VPERIPH_DESCRIPTION_FILE_H
#define VPERIPH_DESCRIPTION_FILE_H

#include <string>

#include "description.h"

namespace vperiph {

// Reads and parses the file at `path` to its end (at most 16 MB, whatever
// size it says it has). A folder, a pipe (a FIFO) or a device is refused
// without being read, since a pipe's content comes when its writer decides.
// False with the reason otherwise, which names the line for a file that
// cannot be parsed; absent tells a missing file.
bool read_description_file(const std::wstring &path, Description &d, std::string &why,
                           bool &absent);

// A description as the peripheral found it: empty, with the reason in
// `problem`, when it could not be used.
struct Described {
    Description d;
    std::string source;  // where it came from, for the report
    std::string problem; // empty when it could be used
};

// The description named by TARNWICK_VP_FILE, else vperiph.vp beside
// vperiph.dll (none there: an empty one, and no problem). A problem is said
// on standard error too, for a console host.
Described describe_from_environment();

} // namespace vperiph

#endif
