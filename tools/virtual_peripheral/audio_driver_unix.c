/* winevp.so: the Unix part of winevp.drv for Wine 10.0. It only tells
 * mmdevapi to take the driver, with no audio endpoints; the MIDI ports, the
 * record and the report stay in vperiph.dll, which winmm reaches through
 * the PE part. Nothing here keeps state or takes a lock. */
#include "audio_driver_unix.h"

static unix_status nothing_to_do(void *parameters)
{
    (void)parameters;
    return UNIX_STATUS_SUCCESS;
}

static unix_status take_this_driver(void *parameters)
{
    struct unix_connect *connect = parameters;
    connect->priority = UNIX_PRIORITY_PREFERRED;
    return UNIX_STATUS_SUCCESS;
}

static unix_status no_endpoints(void *parameters)
{
    struct unix_endpoints *list = parameters;
    list->result = 0;
    list->num = 0;
    list->default_idx = 0;
    return UNIX_STATUS_SUCCESS;
}

/* A call meant for an endpoint or a stream this driver never listed: a
 * failure said as one, not an answer made up. */
static unix_status not_served(void *parameters)
{
    (void)parameters;
    return UNIX_STATUS_NOT_IMPLEMENTED;
}

/* Every number not named below fails as not served. */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Woverride-init"
__attribute__((visibility("default"))) const unix_call __wine_unix_call_funcs[UNIX_CALL_COUNT] = {
    [0 ... UNIX_CALL_COUNT - 1] = not_served,
    [UNIX_PROCESS_ATTACH] = nothing_to_do,
    [UNIX_PROCESS_DETACH] = nothing_to_do,
    [UNIX_GET_ENDPOINT_IDS] = no_endpoints,
    [UNIX_TEST_CONNECT] = take_this_driver,
};
#pragma GCC diagnostic pop
