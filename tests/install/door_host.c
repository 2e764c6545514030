/*
 * A host whose own WinMM calls are of several kinds: a timer, wave and MCI
 * functions, MIDI output, PlaySoundA imported by ordinal (2)
 * only, and (DOOR_LATE_IMPORT) midiOutGetNumDevs loaded late (on its first
 * call, as /DELAYLOAD makes it; the test marks the image's delay-load table
 * as linkers other than GNU ld do). Redirected to vpwmm.dll, each line says where its import landed:
 * "system" (the very function the system's winmm.dll gives for that name or
 * ordinal), "peripheral" (vperiph.dll's), or "elsewhere", and what the call
 * gave. The MIDI bytes it sends are read from the peripheral's report.
 */
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <mmsystem.h>

/* winmm.dll's export by ordinal 2, through an import library of our own:
 * MinGW's names every function. */
DECLSPEC_IMPORT BOOL WINAPI PlaySoundByOrdinal(LPCSTR sound, HMODULE module, DWORD flags);

static HMODULE winmm, peripheral;

/* Where an imported function's address came from. */
typedef void (*any_function)(void);

static any_function exported(HMODULE module, LPCSTR name)
{
    return module != NULL ? (any_function)GetProcAddress(module, name) : NULL;
}

static const char *landed(any_function imported, LPCSTR name)
{
    if (imported == exported(winmm, name))
        return "system";
    if (imported == exported(peripheral, name))
        return "peripheral";
    return "elsewhere";
}

#define WHERE(function) landed((any_function)(function), #function)

/* After its first call: a load of its import's address apart from the call's,
 * which the compiler may keep from before the call (the stub that binds). */
__attribute__((noinline)) static const char *late_landed(void)
{
    return WHERE(midiOutGetNumDevs);
}

int main(void)
{
    char text[MAXERRORLENGTH];
    char direct[MAXERRORLENGTH];
    DWORD before, after;
    HMIDIOUT port;
    UINT ports;
    MMRESULT r;
    UINT (WINAPI *system_wave_count)(void);
    BOOL (WINAPI *system_mci_text)(MCIERROR, LPSTR, UINT);

    winmm = GetModuleHandleA("winmm.dll");
    peripheral = GetModuleHandleA("vperiph.dll");
    printf("modules: winmm %s, vperiph %s\n", winmm ? "loaded" : "absent",
           peripheral ? "loaded" : "absent");

    before = timeGetTime();
    Sleep(50);
    after = timeGetTime();
    printf("timeGetTime: %s, %s\n", WHERE(timeGetTime),
           after - before >= 25 && after - before < 5000 ? "advances" : "stands still");

    system_wave_count = (UINT (WINAPI *)(void))exported(winmm, "waveOutGetNumDevs");
    printf("waveOutGetNumDevs: %s, %s\n", WHERE(waveOutGetNumDevs),
           system_wave_count != NULL && waveOutGetNumDevs() == system_wave_count()
               ? "the system's count" : "another count");

    system_mci_text =
        (BOOL (WINAPI *)(MCIERROR, LPSTR, UINT))exported(winmm, "mciGetErrorStringA");
    text[0] = direct[0] = '\0';
    mciGetErrorStringA(MCIERR_INVALID_DEVICE_ID, text, sizeof text);
    if (system_mci_text != NULL)
        system_mci_text(MCIERR_INVALID_DEVICE_ID, direct, sizeof direct);
    printf("mciGetErrorStringA: %s, %s\n", WHERE(mciGetErrorStringA),
           text[0] != '\0' && strcmp(text, direct) == 0 ? "the system's text" : "another text");

    printf("PlaySoundA by ordinal 2: %s, %s\n",
           landed((any_function)PlaySoundByOrdinal, MAKEINTRESOURCEA(2)),
           PlaySoundByOrdinal(NULL, NULL, 0) ? "TRUE" : "FALSE");

    /* Its import is bound by its first call. */
    ports = midiOutGetNumDevs();
#ifdef DOOR_LATE_IMPORT
    printf("midiOutGetNumDevs, loaded late: %s, %u\n", late_landed(), ports);
#else
    printf("midiOutGetNumDevs: %s, %u\n", late_landed(), ports);
#endif
    r = midiOutOpen(&port, 0, 0, 0, CALLBACK_NULL);
    printf("midiOutOpen: %s, %u\n", WHERE(midiOutOpen), r);
    if (r == MMSYSERR_NOERROR) {
        const MMRESULT on = midiOutShortMsg(port, 0x00403C90);
        const MMRESULT off = midiOutShortMsg(port, 0x00003C80);
        printf("midiOutShortMsg: %s, %u %u\n", WHERE(midiOutShortMsg), on, off);
        printf("midiOutClose: %s, %u\n", WHERE(midiOutClose), midiOutClose(port));
    }
    text[0] = '\0';
    midiOutGetErrorTextA(MMSYSERR_ALLOCATED, text, sizeof text);
    printf("midiOutGetErrorTextA: %s, %s\n", WHERE(midiOutGetErrorTextA),
           text[0] != '\0' ? "a text" : "no text");
    return 0;
}
