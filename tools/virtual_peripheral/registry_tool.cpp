// vperiph-registry: puts the USB entries of a description into this Wine
// prefix's registry, where Wine's own setupapi lists them, and takes them
// out again.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

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
    static const char *const said[2][2] = {
        {"no driver selection to undo", "the audio driver chosen before is back"},
        {"the virtual peripheral's driver was selected already",
         "selected the virtual peripheral's driver (HKCU\\Software\\Wine\\Drivers "
         "Audio=vp); winevp.drv beside a program gives Wine's winmm its ports"}};
    std::printf("%s\n", said[select][r]);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    char error[4096];
    if (argc == 2 && std::strcmp(argv[1], "remove") == 0) {
        const int removed = vp_unregister(error, sizeof error);
        if (removed < 0) {
            std::fprintf(stderr, "vperiph-registry: %s\n", error);
            return 1;
        }
        std::printf("removed %d USB entr%s\n", removed, removed == 1 ? "y" : "ies");
        return 0;
    }
    if (argc == 2 && (std::strcmp(argv[1], "select-driver") == 0 ||
                      std::strcmp(argv[1], "restore-driver") == 0))
        return driver_command(argv[1][0] == 's');
    if (argc != 3 || std::strcmp(argv[1], "add") != 0)
        return usage();
    std::ifstream file(argv[2], std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "vperiph-registry: cannot read %s\n", argv[2]);
        return 1;
    }
    std::ostringstream text;
    text << file.rdbuf();
    const int added = vp_register(text.str().c_str(), error, sizeof error);
    if (added < 0) {
        std::fprintf(stderr, "vperiph-registry: %s: %s\n", argv[2], error);
        return 1;
    }
    std::printf("registered %d USB entr%s of %s under "
                "HKLM\\System\\CurrentControlSet\\Enum\\USB\n",
                added, added == 1 ? "y" : "ies", argv[2]);
    return 0;
}
