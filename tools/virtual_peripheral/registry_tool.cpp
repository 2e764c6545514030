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
                         "       vperiph-registry remove     removes every entry registered\n");
    return 2;
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
