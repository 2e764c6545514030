/*
 * Control interface of the virtual peripheral (vperiph.dll), for test hosts
 * and demos that run tarnwick.dll without the hardware. The forwarding DLLs
 * (vpwmm.dll and vpsetapi.dll, which the kit's redirected tarnwick.dll
 * imports; or the stand-in winmm.dll and setupapi.dll) forward to
 * vperiph.dll, which presents the MIDI output ports and USB entries of a
 * description (see README.md one folder up, in the kit's virtual_peripheral/
 * folder), records what it was asked and checks handle discipline.
 *
 * The description is read when the peripheral is first used (a call of the
 * library, or of this interface): without a vp_load call, from the file named
 * by the environment variable TARNWICK_VP_FILE, or else from vperiph.vp
 * beside vperiph.dll (neither: no ports, no USB entries). A process that used
 * the peripheral leaves a readable report as it ends: in the file named by
 * TARNWICK_VP_REPORT ("-" for standard error, "none" for no report), or else
 * in a file of its own beside vperiph.dll, vperiph-report-PROGRAM-N.txt
 * (PROGRAM the host's file name without ".exe", N counting that program's
 * runs; its latest 20 are kept).
 *
 * The record stays bounded however long the host runs: the latest
 * VP_KEPT_CALLS call lines, the latest VP_KEPT_MESSAGES messages of each port
 * and the first VP_KEPT_FAULTS fault lines are kept, and what was let go is
 * counted. Counters stop at UINT_MAX rather than start again.
 *
 * Text results are copied into buffer (truncated to size, always terminated
 * when size > 0); each function returns the full length, so a caller can ask
 * with size 0 first.
 */
#ifndef VPERIPH_H
#define VPERIPH_H

#include <stddef.h>
#include <wchar.h>

#ifdef VPERIPH_BUILDING
#define VPERIPH_API
#else
#define VPERIPH_API __declspec(dllimport)
#endif
#define VPERIPH_CALL __cdecl

#define VP_KEPT_CALLS 10000
#define VP_KEPT_MESSAGES 4096
#define VP_KEPT_FAULTS 1000

#ifdef __cplusplus
extern "C" {
#endif

struct vp_counters {
    unsigned calls;            /* every stand-in call since the last load or clear
                                  (each counter stops at UINT_MAX) */
    unsigned midi_opens, midi_closes, midi_sends, caps_queries;
    unsigned set_builds, set_destroys, enum_calls, property_reads;
    unsigned faults;           /* handle faults (all, kept or not), and handles and sets
                                  still open */
};

/* Replaces the description and clears everything recorded. The text is a
 * description file's contents (UTF-8; see README.md). Returns 0, or -1 with
 * the message (naming the line) in error. */
VPERIPH_API int VPERIPH_CALL vp_load(const char *description, char *error, size_t error_size);

/* Clears the recorded calls, bytes and faults; the description, the hot-plug
 * build count and the call counter for "fail N" start over too. */
VPERIPH_API void VPERIPH_CALL vp_clear(void);

/* The call log, one line per call in the order made: the latest
 * VP_KEPT_CALLS, after a line "(N earlier calls not kept)" when there were
 * more (counters.calls counts them all). */
VPERIPH_API size_t VPERIPH_CALL vp_calls(char *buffer, size_t size);

/* The bytes of the messages MIDI output port `port` received, in order: of
 * the latest VP_KEPT_MESSAGES messages (of a long message, its first 64
 * bytes, while it is among the latest 1024 long messages of all ports).
 * Returns their count. */
VPERIPH_API size_t VPERIPH_CALL vp_port_bytes(unsigned port, unsigned char *buffer, size_t size);

/* The same for what MIDI input port `port` delivered to its clients: the
 * replies of the description's answers. */
VPERIPH_API size_t VPERIPH_CALL vp_in_bytes(unsigned port, unsigned char *buffer, size_t size);

/* The number of messages port `port` received in all; *kept (when not null)
 * is set to how many of the latest vp_port_bytes still holds. */
VPERIPH_API unsigned VPERIPH_CALL vp_port_messages(unsigned port, unsigned *kept);

/* Handle faults, one line each: closes of unknown handles, use of closed
 * handles, capability queries for an id no open handle has, sets destroyed
 * twice or unknown (the first VP_KEPT_FAULTS of them, then a line counting
 * the rest), and every port handle or set still open now. */
VPERIPH_API size_t VPERIPH_CALL vp_faults(char *buffer, size_t size);

VPERIPH_API void VPERIPH_CALL vp_get_counters(struct vp_counters *out);

/* A readable summary: where the description came from (or why it could not
 * be used), what each port received, the calls and the faults. */
VPERIPH_API size_t VPERIPH_CALL vp_report(char *buffer, size_t size);

/* Wine's own setupapi as the counterpart: the usb entries of a description
 * become device instances in the registry of the Wine prefix this process
 * runs in, under HKLM\System\CurrentControlSet\Enum\USB\<device>\<instance>
 * with the values ClassGUID and HardwareID (the entry's hardware-ID data as
 * REG_MULTI_SZ). The device key is named after the entry's first hardware ID
 * without "USB\", the instance key "TARNWICK&<n>" after its place in the
 * description, or the next free number when a key of that name is there
 * (nothing is written into a key it did not make); repeat=N makes N
 * instances. Values are written byte for byte. Every key added is marked
 * with the value TarnwickVirtualPeripheral. Replaces what an earlier registration
 * added. Ports are ignored; items only the stand-ins can present (bytes=,
 * property=, appear=, vanish=, classdevs fail, fail N) are refused.
 * Returns the number of instances added, or -1 with the message in error. */
VPERIPH_API int VPERIPH_CALL vp_register(const char *description, char *error, size_t error_size);

/* The same for a description file, read exactly as vperiph.dll reads
 * vperiph.vp (UTF-8, or UTF-16 with its byte order mark). */
VPERIPH_API int VPERIPH_CALL vp_register_file(const wchar_t *path, char *error,
                                              size_t error_size);

/* Removes every instance key a registration added, and each key it created
 * above them that is left empty, whichever process added them; keys it did
 * not create stay. Returns the number of instances removed, or -1. */
VPERIPH_API int VPERIPH_CALL vp_unregister(char *error, size_t error_size);

/* The driver Wine's own winmm loads (winevp.drv, which forwards to
 * vperiph.dll): the number of MIDI output ports Wine's winmm was told when it
 * asked, once in this process, or -1 when it has not asked (the driver is not
 * selected, or no MIDI call was made yet). Ports a later description lacks
 * refuse to open; ports past that number are never asked for. */
VPERIPH_API int VPERIPH_CALL vp_driver_ports(void);

/* Selects the driver in the Wine prefix this process runs in: the value
 * HKCU\Software\Wine\Drivers "Audio" becomes "vp", and what it held before
 * (its type and data, or that there was none) is kept under
 * HKCU\Software\Tarnwick\VirtualPeripheral first, so that a run cut
 * anywhere leaves it in one place or the other. Returns 1 when it selected,
 * 0 when it was selected already (Audio is "vp" and an earlier value is
 * kept), or -1 with the message in error. */
VPERIPH_API int VPERIPH_CALL vp_select_driver(char *error, size_t error_size);

/* Gives "Audio" back exactly as it was before the selection, type and bytes
 * (removing it when there was none), and removes what the selection kept.
 * Returns 1 when it restored (or Audio held that value already), 2 when Audio
 * was changed since the selection to another driver (it is left as it is),
 * 0 when nothing was selected, or -1 with the message. */
VPERIPH_API int VPERIPH_CALL vp_restore_driver(char *error, size_t error_size);

#ifdef __cplusplus
}
#endif

#endif
