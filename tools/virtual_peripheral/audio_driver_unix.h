/* The calls Wine 10.0's mmdevapi makes into an audio driver's Unix part
 * (winevp.so), as far as a driver with no audio endpoints meets them. Wine
 * looks the part up by its export __wine_unix_call_funcs, an array of
 * functions indexed by the numbers below, and calls each with one pointer to
 * a parameter block of the calling process; a nonzero status makes mmdevapi
 * give up (it asserts on it). These numbers and blocks are Wine 10.0's;
 * other releases number them otherwise, so winevp.drv refuses to load on a
 * release it does not know (wine_release.h) and this table is never reached
 * there. Built with the build machine's compiler, freestanding: no C library,
 * for wine64 (x86_64) or the 32-bit wine (i386). */
#ifndef WINEVP_AUDIO_DRIVER_UNIX_H
#define WINEVP_AUDIO_DRIVER_UNIX_H

typedef int unix_status;                  /* NTSTATUS */
typedef unix_status (*unix_call)(void *parameters);

#define UNIX_STATUS_SUCCESS 0
#define UNIX_STATUS_NOT_IMPLEMENTED ((unix_status)0xC0000002u)

enum unix_call_number {
    /* parameters NULL; as the driver is taken, and as the process ends. */
    UNIX_PROCESS_ATTACH = 0,
    UNIX_PROCESS_DETACH = 1,
    /* struct unix_endpoints: the audio endpoints of one direction. */
    UNIX_GET_ENDPOINT_IDS = 3,
    /* struct unix_connect: how much the driver wants to be chosen. */
    UNIX_TEST_CONNECT = 27,
    /* Every other number (2, the main loop a stream starts; 4-26 and 28-35,
     * streams, formats, properties and Wine's own drivers' MIDI) concerns an
     * endpoint, a stream or a driver's own PE part: never called here, as
     * mmdevapi asks the PE part (get_device_name_from_guid) for an endpoint
     * before any of them, and is told there is none. */
    UNIX_CALL_COUNT = 36
};

/* UNIX_TEST_CONNECT: name is the program's file name (UTF-16); the driver
 * sets priority, 0 (unavailable) to 3 (preferred). */
struct unix_connect {
    const unsigned short *name;
    int priority;
};
#define UNIX_PRIORITY_PREFERRED 3

/* UNIX_GET_ENDPOINT_IDS: flow 0 output, 1 input; the driver fills up to size
 * bytes at endpoints and sets result (an HRESULT, 0 for success), num (the
 * endpoints listed) and default_idx (the default one's index). */
struct unix_endpoints {
    int flow;
    void *endpoints;
    unsigned int size;
    int result;
    unsigned int num;
    unsigned int default_idx;
};

/* The table Wine reads, UNIX_CALL_COUNT entries. */
extern const unix_call __wine_unix_call_funcs[UNIX_CALL_COUNT];

#endif
