/* Linked by lld-link (MSVC's command line) against tarnwick.lib, with no C
 * runtime: shows that the MSVC import library resolves every export. */
#include "tarnwick.h"

__declspec(dllimport) void *__stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(void *file, const void *data, unsigned long size,
                                              unsigned long *written, void *overlapped);
__declspec(dllimport) void __stdcall ExitProcess(unsigned code);

static void put(const char *text, int value)
{
    char line[64];
    unsigned long n = 0, written = 0;
    while (text[n] != '\0') {
        line[n] = text[n];
        ++n;
    }
    line[n++] = (char)('0' + value % 10);
    line[n++] = '\n';
    WriteFile(GetStdHandle((unsigned long)-11), line, n, &written, 0);
}

void entry(void)
{
    put("count ", compare_usb_device_id_mathing(0x1A2B, 0x3C4D));
    put("multi ", compare_usb_device_id_mathing_multi(0x1A2F, 0x3C4D));
    put("entry ", get_usb_device_matching_result(0xB));
    put("send ", hiddirect_main("PERIPHRL", 0x40, 0xB2, 0x3C, 0x3C));
    ExitProcess(0);
}
