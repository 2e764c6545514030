/*
 * A device editor's host, written as real ones are: it lists the MIDI ports,
 * opens the device's output port with an event callback and its input port
 * with a callback function, asks the device who it is with a SysEx identity
 * request and reads the answer from its own input buffer, and calls the
 * library while it still holds the output port (and again after closing it).
 * Every step prints one line; the exit status is the number of steps that
 * went otherwise than on Windows.
 *
 * usage: editor_host [PORT_NAME]   (default "PERIPHRL MIDI 1")
 */
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <mmsystem.h>

#include "tarnwick.h"

#define WAIT_MS 5000

static const BYTE identity_request[] = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
/* Universal non-real-time, general information, identity reply. */
static const BYTE identity_reply_start[] = {0xF0, 0x7E, 0x7F, 0x06, 0x02};

static int failures;

static void check(int good, const char *step, const char *detail)
{
    printf("%s %s%s%s\n", good ? "ok" : "FAILED", step, detail[0] ? ": " : "", detail);
    fflush(stdout);
    failures += !good;
}

static void check_result(MMRESULT got, MMRESULT want, const char *step)
{
    char detail[64];
    snprintf(detail, sizeof detail, "%u", got);
    if (got != want)
        snprintf(detail, sizeof detail, "%u, expected %u", got, want);
    check(got == want, step, detail);
}

/* What the input callback saw, for the main thread. */
static struct {
    CRITICAL_SECTION lock;
    HANDLE arrived;
    int opened, closed, long_data;
    MIDIHDR *returned;
    DWORD_PTR instance_seen;
} input;

static void CALLBACK on_input(HMIDIIN port, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                              DWORD_PTR param2)
{
    (void)port, (void)param2;
    EnterCriticalSection(&input.lock);
    input.instance_seen = instance;
    if (message == MIM_OPEN)
        ++input.opened;
    else if (message == MIM_CLOSE)
        ++input.closed;
    else if (message == MIM_LONGDATA) {
        ++input.long_data;
        input.returned = (MIDIHDR *)param1;
    }
    LeaveCriticalSection(&input.lock);
    SetEvent(input.arrived);
}

/* Waits until the callback has counted `*counter` up to `want`. */
static int wait_input(const int *counter, int want)
{
    DWORD until = GetTickCount() + WAIT_MS;
    for (;;) {
        int now;
        EnterCriticalSection(&input.lock);
        now = *counter;
        LeaveCriticalSection(&input.lock);
        if (now >= want)
            return 1;
        if ((LONG)(until - GetTickCount()) <= 0)
            return 0;
        WaitForSingleObject(input.arrived, 100);
    }
}

/* The index of the first output (or input) port of that name, or -1. */
static int find_port(int input, const char *name)
{
    UINT i, n = input ? midiInGetNumDevs() : midiOutGetNumDevs();
    int found = -1;
    printf("MIDI %s: %u\n", input ? "inputs" : "outputs", n);
    for (i = 0; i < n; ++i) {
        MIDIOUTCAPSA out_caps;
        MIDIINCAPSA in_caps;
        const char *port = input ? in_caps.szPname : out_caps.szPname;
        if ((input ? midiInGetDevCapsA(i, &in_caps, sizeof in_caps)
                   : midiOutGetDevCapsA(i, &out_caps, sizeof out_caps)) != MMSYSERR_NOERROR)
            continue;
        printf("  %s %u: %s\n", input ? "in" : "out", i, port);
        if (found < 0 && strcmp(port, name) == 0)
            found = (int)i;
    }
    return found;
}

static int send_direct(HMODULE dll)
{
    static const char key[8] = {'P', 'E', 'R', 'I', 'P', 'H', 'R', 'L'};
    tarnwick_hiddirect_main_fn send =
        (tarnwick_hiddirect_main_fn)(void (*)(void))GetProcAddress(dll, "hiddirect_main");
    int result;
    if (send == NULL)
        return -1;
    fflush(stdout); /* the library writes its probe line straight to the handle */
    result = send(key, 0x40, 0xB2, 0x3C, 0x3C);
    fflush(stdout);
    return result;
}

int main(int argc, char **argv)
{
    const char *name = argc > 1 ? argv[1] : "PERIPHRL MIDI 1";
    HANDLE out_event = CreateEventA(NULL, FALSE, FALSE, NULL);
    HMIDIOUT out = NULL;
    HMIDIIN in = NULL;
    MIDIHDR request, answer;
    char reply[256], detail[200];
    int out_port, in_port, result;
    DWORD i;
    HMODULE dll;

    InitializeCriticalSection(&input.lock);
    input.arrived = CreateEventA(NULL, FALSE, FALSE, NULL);
    out_port = find_port(0, name);
    in_port = find_port(1, name);
    check(out_port >= 0 && in_port >= 0, "the device's ports found", name);
    if (out_port < 0 || in_port < 0)
        return 100;

    /* The output port signals an event; the open must signal it. */
    check_result(midiOutOpen(&out, (UINT)out_port, (DWORD_PTR)out_event, 0, CALLBACK_EVENT),
                 MMSYSERR_NOERROR, "midiOutOpen with CALLBACK_EVENT");
    check(WaitForSingleObject(out_event, WAIT_MS) == WAIT_OBJECT_0, "MOM_OPEN signalled", "");

    check_result(midiInOpen(&in, (UINT)in_port, (DWORD_PTR)on_input, 0x1D17, CALLBACK_FUNCTION),
                 MMSYSERR_NOERROR, "midiInOpen with CALLBACK_FUNCTION");
    check(wait_input(&input.opened, 1) && input.instance_seen == 0x1D17, "MIM_OPEN with our instance", "");

    /* The answer's buffer is in place, and input started, before asking. */
    memset(&answer, 0, sizeof answer);
    answer.lpData = reply;
    answer.dwBufferLength = sizeof reply;
    check_result(midiInPrepareHeader(in, &answer, sizeof answer), MMSYSERR_NOERROR,
                 "midiInPrepareHeader");
    check_result(midiInAddBuffer(in, &answer, sizeof answer), MMSYSERR_NOERROR, "midiInAddBuffer");
    check_result(midiInStart(in), MMSYSERR_NOERROR, "midiInStart");

    memset(&request, 0, sizeof request);
    request.lpData = (LPSTR)identity_request;
    request.dwBufferLength = sizeof identity_request;
    check_result(midiOutPrepareHeader(out, &request, sizeof request), MMSYSERR_NOERROR,
                 "midiOutPrepareHeader");
    check_result(midiOutLongMsg(out, &request, sizeof request), MMSYSERR_NOERROR,
                 "midiOutLongMsg identity request");
    check(WaitForSingleObject(out_event, WAIT_MS) == WAIT_OBJECT_0 && (request.dwFlags & MHDR_DONE),
          "MOM_DONE signalled, the request's header done", "");
    check_result(midiOutUnprepareHeader(out, &request, sizeof request), MMSYSERR_NOERROR,
                 "midiOutUnprepareHeader");

    check(wait_input(&input.long_data, 1) && input.returned == &answer, "MIM_LONGDATA with our buffer",
          "");
    detail[0] = 0;
    for (i = 0; i < answer.dwBytesRecorded && i < 40; ++i)
        snprintf(detail + strlen(detail), sizeof detail - strlen(detail), "%s%02X", i ? " " : "",
                 (BYTE)reply[i]);
    check((answer.dwFlags & MHDR_DONE) && answer.dwBytesRecorded > sizeof identity_reply_start &&
              memcmp(reply, identity_reply_start, sizeof identity_reply_start) == 0 &&
              (BYTE)reply[answer.dwBytesRecorded - 1] == 0xF7,
          "identity reply", detail);

    /* The library's direct command while this host holds the output port:
     * a USB MIDI port takes one client, so the library cannot open it, skips
     * it, and reports that no port took the command. */
    dll = LoadLibraryA("tarnwick.dll");
    check(dll != NULL, "tarnwick.dll loaded", "");
    if (dll != NULL) {
        result = send_direct(dll);
        snprintf(detail, sizeof detail, "%d", result);
        check(result == 5, "hiddirect_main while the port is held gives 5", detail);
    }

    check_result(midiOutClose(out), MMSYSERR_NOERROR, "midiOutClose");
    check(WaitForSingleObject(out_event, WAIT_MS) == WAIT_OBJECT_0, "MOM_CLOSE signalled", "");
    if (dll != NULL) {
        result = send_direct(dll);
        snprintf(detail, sizeof detail, "%d", result);
        check(result == 0, "hiddirect_main after closing the port gives 0", detail);
        FreeLibrary(dll);
    }

    check_result(midiInStop(in), MMSYSERR_NOERROR, "midiInStop");
    check_result(midiInReset(in), MMSYSERR_NOERROR, "midiInReset");
    check_result(midiInUnprepareHeader(in, &answer, sizeof answer), MMSYSERR_NOERROR,
                 "midiInUnprepareHeader");
    check_result(midiInClose(in), MMSYSERR_NOERROR, "midiInClose");
    check(wait_input(&input.closed, 1), "MIM_CLOSE", "");
    CloseHandle(out_event);
    printf("editor host: %d step(s) failed\n", failures);
    return failures;
}
