/*
 * A minimal C host. Built two ways:
 *   linked at build time:   gcc host.c -I include -L lib -ltarnwick
 *                           (or CMakeLists.txt beside it, with the kit's CMake package)
 *   loaded at run time:     gcc -DHOST_LOAD_AT_RUN_TIME host.c -I include
 */
#include <stdio.h>
#include <windows.h>

#include "tarnwick.h"

#ifdef HOST_LOAD_AT_RUN_TIME
#define RESOLVE(type, name) ((type)(void (*)(void))GetProcAddress(dll, name))
#endif

int main(void)
{
    /* Eight bytes, not a string: a shorter name is padded with zero bytes. */
    static const char key[8] = {'P', 'E', 'R', 'I', 'P', 'H', 'R', 'L'};
#ifdef HOST_LOAD_AT_RUN_TIME
    HMODULE dll = LoadLibraryA("tarnwick.dll");
    if (dll == NULL) {
        fprintf(stderr, "cannot load tarnwick.dll\n");
        return 1;
    }
    tarnwick_compare_usb_device_id_mathing_fn count =
        RESOLVE(tarnwick_compare_usb_device_id_mathing_fn, "compare_usb_device_id_mathing");
    tarnwick_compare_usb_device_id_mathing_multi_fn multi = RESOLVE(
        tarnwick_compare_usb_device_id_mathing_multi_fn, "compare_usb_device_id_mathing_multi");
    tarnwick_get_usb_device_matching_result_fn entry =
        RESOLVE(tarnwick_get_usb_device_matching_result_fn, "get_usb_device_matching_result");
    tarnwick_hiddirect_main_fn send = RESOLVE(tarnwick_hiddirect_main_fn, "hiddirect_main");
    if (!count || !multi || !entry || !send) {
        fprintf(stderr, "tarnwick.dll lacks an export\n");
        return 1;
    }
#else
    tarnwick_compare_usb_device_id_mathing_fn count = compare_usb_device_id_mathing;
    tarnwick_compare_usb_device_id_mathing_multi_fn multi = compare_usb_device_id_mathing_multi;
    tarnwick_get_usb_device_matching_result_fn entry = get_usb_device_matching_result;
    tarnwick_hiddirect_main_fn send = hiddirect_main;
#endif
    int result;

    printf("tarnwick %s\n", TARNWICK_VERSION_STRING);
    printf("entries of 1A2B:3C4D: %d\n", count(0x1A2B, 0x3C4D));
    printf("VIDs found in 1A20-1A2F: %d\n", multi(0x1A2F, 0x3C4D));
    printf("entries of 1A2B in that scan: %d\n", entry(0xB));
    /* The library writes its probe line straight to the output handle. */
    fflush(stdout);
    result = send(key, 0x40, 0xB2, 0x3C, 0x3C);
    printf("direct command: %d\n", result);
    return 0;
}
