// vperiph-registry: puts the USB entries of a description into this Wine
// prefix's registry, where Wine's own setupapi lists them, and takes them
// out again. The file is read by vperiph.dll itself, as it reads vperiph.vp.
#include <windows.h>

#include <cstdio>
#include <string>

#include "utf16.h"
#include "vperiph.h"

namespace {

int usage()
{
    std::fprintf(stderr, "usage: vperiph-registry add FILE   registers the usb entries of FILE\n"
                         "       vperiph-registry remove     removes every entry registered\n"
                         "       vperiph-registry select-driver   Wine's winmm takes the virtual "
                         "peripheral's ports\n"
                         "       vperiph-registry restore-driver  the audio driver chosen before\n");
    return 2;
}

// The prefix's audio driver: the virtual peripheral's, or the one before.
int driver_command(bool select)
{
    char error[512];
    const int r = select ? vp_select_driver(error, sizeof error)
                         : vp_restore_driver(error, sizeof error);
    if (r < 0) {
        std::fprintf(stderr, "vperiph-registry: %s\n", error);
        return 1;
    }
    static const char *const said[2][3] = {
        {"no driver selection to undo", "the audio driver chosen before is back",
         "Audio was changed since the selection, to another driver: it is left as it is"},
        {"the virtual peripheral's driver was selected already",
         "selected the virtual peripheral's driver (HKCU\\Software\\Wine\\Drivers "
         "Audio=vp); winevp.drv beside a program gives Wine's winmm its ports",
         ""}};
    std::printf("%s\n", said[select][r]);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    char error[4096];
    if (argc == 2 && std::wcscmp(argv[1], L"remove") == 0) {
        const int removed = vp_unregister(error, sizeof error);
        if (removed < 0) {
            std::fprintf(stderr, "vperiph-registry: %s\n", error);
            return 1;
        }
        std::printf("removed %d USB entr%s\n", removed, removed == 1 ? "y" : "ies");
        return 0;
    }
    if (argc == 2 && (std::wcscmp(argv[1], L"select-driver") == 0 ||
                      std::wcscmp(argv[1], L"restore-driver") == 0))
        return driver_command(argv[1][0] == L's');
    if (argc != 3 || std::wcscmp(argv[1], L"add") != 0)
        return usage();
    const int added = vp_register_file(argv[2], error, sizeof error);
    if (added < 0) {
        std::fprintf(stderr, "vperiph-registry: %s: %s\n", tools::utf8(std::wstring(argv[2])).c_str(), error);
        return 1;
    }
    std::printf("registered %d USB entr%s of %s under "
                "HKLM\\System\\CurrentControlSet\\Enum\\USB\n",
                added, added == 1 ? "y" : "ies", tools::utf8(std::wstring(argv[2])).c_str());
    return 0;
}
