/*
 * A host of the kind real applications are: besides loading tarnwick.dll at
 * run time it uses WinMM and SetupAPI itself (a multimedia timer, its own MIDI
 * port list, its own device list over all classes). "own" lines show what its
 * own calls got, "library" lines what the library's calls got.
 */
#include <stdio.h>
#include <windows.h>
#include <mmsystem.h>
#include <setupapi.h>

#include "tarnwick.h"

#define RESOLVE(type, name) ((type)(void (*)(void))GetProcAddress(dll, name))

static void own_calls(void)
{
    TIMECAPS timer;
    UINT port, ports;
    DWORD devices = 0;
    SP_DEVINFO_DATA member;
    HDEVINFO set;
    const MMRESULT caps = timeGetDevCaps(&timer, sizeof timer);

    printf("own timer: timeBeginPeriod %u, timeGetDevCaps %u, periods %u-%u ms, time %s\n",
           timeBeginPeriod(1), caps, caps == 0 ? timer.wPeriodMin : 0,
           caps == 0 ? timer.wPeriodMax : 0, timeGetTime() != 0 ? "running" : "zero");
    timeEndPeriod(1);

    ports = midiOutGetNumDevs();
    printf("own MIDI output ports: %u\n", ports);
    for (port = 0; port < ports; ++port) {
        MIDIOUTCAPSA out;
        if (midiOutGetDevCapsA(port, &out, sizeof out) == MMSYSERR_NOERROR)
            printf("own port %u: %s\n", port, out.szPname);
    }

    set = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) {
        printf("own devices (all classes): none, error %lu\n", GetLastError());
        return;
    }
    member.cbSize = sizeof member;
    while (SetupDiEnumDeviceInfo(set, devices, &member))
        ++devices;
    SetupDiDestroyDeviceInfoList(set);
    printf("own devices (all classes): %lu\n", devices);
}

int main(void)
{
    static const char key[8] = {'P', 'E', 'R', 'I', 'P', 'H', 'R', 'L'};
    static const char no_port[8] = {'N', 'O', ' ', 'S', 'U', 'C', 'H', '!'};
    HMODULE dll;
    tarnwick_compare_usb_device_id_mathing_fn count;
    tarnwick_compare_usb_device_id_mathing_multi_fn multi;
    tarnwick_get_usb_device_matching_result_fn entry;
    tarnwick_hiddirect_main_fn send;
    int found;

    own_calls();
    dll = LoadLibraryA("tarnwick.dll");
    if (dll == NULL) {
        printf("library: cannot load tarnwick.dll, error %lu\n", GetLastError());
        return 1;
    }
    count = RESOLVE(tarnwick_compare_usb_device_id_mathing_fn, "compare_usb_device_id_mathing");
    multi = RESOLVE(tarnwick_compare_usb_device_id_mathing_multi_fn,
                    "compare_usb_device_id_mathing_multi");
    entry = RESOLVE(tarnwick_get_usb_device_matching_result_fn, "get_usb_device_matching_result");
    send = RESOLVE(tarnwick_hiddirect_main_fn, "hiddirect_main");
    if (!count || !multi || !entry || !send) {
        printf("library: an export is missing\n");
        return 1;
    }
    printf("library: count 1A2B 3C4D: %d\n", count(0x1A2B, 0x3C4D));
    found = multi(0x1A2F, 0x3C4D);
    printf("library: scan 1A2F 3C4D: %d found, entry B %d\n", found, entry(0xB));
    /* The library writes its probe line straight to the output handle. */
    fflush(stdout);
    printf("library: send PERIPHRL: %d\n", send(key, 0x40, 0xB2, 0x3C, 0x3C));
    fflush(stdout);
    printf("library: send to no port: %d\n", send(no_port, 0x40, 0xB2, 0x3C, 0x3C));
    FreeLibrary(dll);
    /* The host's own calls still work after the library is gone. */
    printf("own MIDI output ports after: %u\n", midiOutGetNumDevs());
    return 0;
}
