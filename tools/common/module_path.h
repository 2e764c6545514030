// The full path of a module of this process, for the tools that find files
// beside themselves; header-only, as each tool is one image of its own.
#ifndef TARNWICK_TOOLS_MODULE_PATH_H
#define TARNWICK_TOOLS_MODULE_PATH_H

#include <windows.h>

#include <string>

namespace tools {

// module: nullptr for the program. However long; empty when it cannot be
// read. An install path may be longer than MAX_PATH, and a cut one would
// name another file, so the buffer grows until the whole path fits.
inline std::wstring module_path(HMODULE module)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0)
            return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        if (path.size() >= 32768) // the longest path Windows knows
            return {};
        path.resize(path.size() * 2);
    }
}

} // namespace tools

#endif
