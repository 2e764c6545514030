/*
 * A host that returns from main while its worker threads (the second
 * argument, 1 unless given) are inside the library: the end of the process stops the worker wherever it is, perhaps
 * holding a port handle or the virtual peripheral's lock. The report must
 * still be written, whole, and must not blame the library for that handle.
 *
 * With "leak-ended" or "leak-idle" it leaks instead: a worker opens a port
 * through the forwarder itself and keeps the handle, then ends, or idles
 * while main makes a library call; both are leaks of the host's own to report.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <mmsystem.h>

#include "tarnwick.h"

#define RESOLVE(type, name) ((type)(void (*)(void))GetProcAddress(dll, name))

static volatile LONG rounds;
static tarnwick_hiddirect_main_fn direct;
static tarnwick_compare_usb_device_id_mathing_multi_fn multi;

static DWORD WINAPI poll(void *unused) __attribute__((noreturn));
static DWORD WINAPI poll(void *unused)
{
    static const char key[8] = {'P', 'E', 'R', 'I', 'P', 'H', 'R', 'L'};
    (void)unused;
    for (;;) {
        direct(key, 0x40, 0xB2, 0x3C, 0x3C);
        multi(0x1A2F, 0x3C4D);
        InterlockedIncrement(&rounds);
    }
}

typedef MMRESULT(WINAPI *open_fn)(HMIDIOUT *, UINT, DWORD_PTR, DWORD_PTR, DWORD);

static DWORD WINAPI leak(void *stay)
{
    HMODULE forwarder = LoadLibraryA("vpwmm.dll");
    open_fn open = forwarder ? (open_fn)(void (*)(void))GetProcAddress(forwarder, "midiOutOpen")
                             : NULL;
    HMIDIOUT handle = NULL;
    if (open == NULL || open(&handle, 0, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR)
        ExitProcess(3);
    InterlockedIncrement(&rounds);
    if (stay != NULL)
        Sleep(INFINITE);
    return 0;
}

int main(int argc, char **argv)
{
    const int leaking = argc > 1 && strncmp(argv[1], "leak-", 5) == 0;
    const LONG wanted = argc > 1 && !leaking ? atol(argv[1]) : 50;
    HMODULE dll = LoadLibraryA("tarnwick.dll");
    const int workers = argc > 2 ? atoi(argv[2]) : 1;
    HANDLE worker;
    int i;
    if (dll == NULL)
        return 1;
    direct = RESOLVE(tarnwick_hiddirect_main_fn, "hiddirect_main");
    multi = RESOLVE(tarnwick_compare_usb_device_id_mathing_multi_fn,
                    "compare_usb_device_id_mathing_multi");
    if (direct == NULL || multi == NULL)
        return 1;
    if (leaking) {
        const int stay = strcmp(argv[1], "leak-idle") == 0;
        worker = CreateThread(NULL, 0, leak, stay ? argv[1] : NULL, 0, NULL);
        if (worker == NULL)
            return 1;
        if (stay)
            while (InterlockedCompareExchange(&rounds, 0, 0) < 1)
                Sleep(1);
        else
            WaitForSingleObject(worker, INFINITE);
        /* Main's own call comes after the worker's last one. */
        multi(0x1A2F, 0x3C4D);
        return 0;
    }
    for (i = 0; i < workers; ++i)
        if (CreateThread(NULL, 0, poll, NULL, 0, NULL) == NULL)
            return 1;
    /* Ends after a number of rounds, not after a time: however slow the
       machine, the worker is busy in the library when main returns. */
    while (InterlockedCompareExchange(&rounds, 0, 0) < wanted)
        Sleep(1);
    fprintf(stderr, "main returns after %ld rounds\n", InterlockedCompareExchange(&rounds, 0, 0));
    return 0;
}
