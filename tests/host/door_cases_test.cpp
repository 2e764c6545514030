// One table of cases for a host's own WinMM calls, run through each door to
// the virtual peripheral, one process per door: this program as built, whose
// WinMM is Wine's own winmm taking the driver beside it, and its copy
// redirected to vpwmm.dll. Each case loads its description, makes its calls,
// and checks their results, what the host is notified, and the report.
#include <gtest/gtest.h>
#include <mmsystem.h>
#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "harness.h"

using namespace host;

namespace
{

enum Door { kDriver = 1, kRedirected = 2, kBoth = 3 };
constexpr UINT kSignal = 0xFFFF; // an event signalled: a notification without a message
constexpr DWORD_PTR kInstance = 0x1D5A7E;
constexpr DWORD_PTR kHeader = ~DWORD_PTR(0);  // a notification's parameter: the slot's header
constexpr DWORD_PTR kOdd = ~DWORD_PTR(0) - 1; // a result no call gives: the check after it failed

// Slots: 0 and 1 are the ports of those numbers, 2 the MIDI mapper, 3 a
// second client of port 0.
enum class Op {
    Open, Close, Short, Prepare, Long, Unprepare, Reset, Volume, Caps, Kept, // output
    InOpen, InClose, InPrepare, InAdd, InStart, InStop, InReset, InUnprepare, InName, // input
    StreamOpen, StreamOut, StreamRestart, StreamClose, // a stream on the slot's port
    OtherDoorOpen, // the peripheral's own midiOutOpen, as the redirected door reaches it
    Direct,        // the library's direct command to "PERIPHRL": `want` is its result
    Counts,        // both port counts reach the peripheral; the timer reaches the system
    Notified, Quiet, Said, Unsaid
};

// `arg`: an open's callback type, a short message's word, a prepare's header
// size (0: all of MIDIHDR), a notification's message, a quiet time in ms.
// `text`: a long message's bytes, the bytes a notified buffer holds, a port's
// name, or a line the report holds ('@': the door's words for a host's own
// call). `want`: the result, or a notification's first parameter.
// `min_time`: the least time stamp of a notification.
struct Step {
    Op op;
    int slot;
    DWORD_PTR arg;
    const char *text;
    DWORD_PTR want;
    DWORD min_time;
};

struct Case {
    const char *name;
    const char *what;
    unsigned doors;
    const char *options;     // options of port 0's line
    const char *description; // lines after the two outputs and two inputs every case has
    std::vector<Step> steps;
};

const char kIdentity[] = "F0 7E 7F 06 01 F7";
const char kReply[] = "F0 7E 7F 06 02 7D 01 00 02 00 01 00 00 00 F7";
const char kAnswer[] =
    "answer 0 F0 7E 7F 06 01 F7 reply 0 F0 7E 7F 06 02 7D 01 00 02 00 01 00 00 00 F7\n";
const std::string kLong100 = [] {
    std::string s = "F0";
    for (int i = 0; i < 98; ++i)
        s += " 11";
    return s + " F7";
}();
// One MIDIEVENT: no delta time, stream 0, a short message 90 3C 40.
const char kStreamEvent[] = "00 00 00 00 00 00 00 00 90 3C 40 00";
const char kDirect[] = "port 0 \"PERIPHRL MIDI 1\": FF / 92 3C 40 / 82 3C 40 / 92 3C 40 / FF\n";
const char kLostClosed[] = "lost: the reply of the answer on line 5 to input port 0: the port was not open";
const char kLostUnbuffered[] = "lost: the reply of the answer on line 5 to input port 0: no buffer was added";

Step open(int slot, DWORD type, DWORD_PTR want = 0) { return {Op::Open, slot, type, nullptr, want, 0}; }
Step in_open(int slot, DWORD type, DWORD_PTR want = 0) { return {Op::InOpen, slot, type, nullptr, want, 0}; }
Step call(Op op, int slot, DWORD_PTR want = 0, DWORD_PTR arg = 0) { return {op, slot, arg, nullptr, want, 0}; }
Step bytes(Op op, int slot, const char *text, DWORD_PTR want = 0, UINT size = 0)
{
    return {op, slot, size, text, want, 0};
}
Step note(UINT message, int slot = 0, DWORD_PTR param = 0, const char *text = nullptr, DWORD min_time = 0)
{
    return {Op::Notified, slot, message, text, param, min_time};
}
Step quiet(DWORD ms = 100) { return {Op::Quiet, 0, ms, nullptr, 0, 0}; }
Step said(const char *line, bool present = true) { return {present ? Op::Said : Op::Unsaid, 0, 0, line, 0, 0}; }
Step direct(int result) { return {Op::Direct, 0, 0, nullptr, static_cast<DWORD_PTR>(result), 0}; }
Step shortmsg(DWORD word) { return {Op::Short, 0, word, nullptr, 0, 0}; }

const Case kCases[] = {
    {"NotifiedFunction", "output: open and close notified to a callback function, with its instance", kBoth, "", "",
     {open(0, CALLBACK_FUNCTION), note(MOM_OPEN), quiet(), call(Op::Close, 0), note(MOM_CLOSE), quiet()}},
    {"NotifiedEvent", "output: open and close signal an event", kBoth, "", "",
     {open(0, CALLBACK_EVENT), note(kSignal), call(Op::Close, 0), note(kSignal), quiet()}},
    {"NotifiedThread", "output: open and close posted to a thread", kBoth, "", "",
     {open(1, CALLBACK_THREAD), note(MOM_OPEN, 1), call(Op::Close, 1), note(MOM_CLOSE, 1), quiet()}},
    {"NotifiedWindow", "output: open and close posted to a window", kBoth, "", "",
     {open(1, CALLBACK_WINDOW), note(MOM_OPEN, 1), call(Op::Close, 1), note(MOM_CLOSE, 1), quiet()}},
    {"NotNotified", "output: no callback, no notification", kBoth, "", "",
     {open(0, CALLBACK_NULL), quiet(), call(Op::Close, 0), quiet(), said("port 0 \"PERIPHRL MIDI 1\": nothing received")}},
    {"SysEx", "output: a long message only when prepared; done, notified and received", kBoth, "", "",
     {open(0, CALLBACK_FUNCTION), note(MOM_OPEN), bytes(Op::Long, 0, kIdentity, MIDIERR_UNPREPARED), quiet(),
      bytes(Op::Prepare, 0, kIdentity, MMSYSERR_INVALPARAM, offsetof(MIDIHDR, dwOffset) - 1),
      bytes(Op::Prepare, 0, kIdentity, 0, offsetof(MIDIHDR, dwOffset)), bytes(Op::Long, 0, kIdentity),
      note(MOM_DONE, 0, kHeader), call(Op::Unprepare, 0), call(Op::Close, 0), note(MOM_CLOSE),
      said("port 0 \"PERIPHRL MIDI 1\": F0 7E 7F 06 01 F7\n")}},
    {"LongShown", "output: a long SysEx shown by its start and length, its first 64 bytes kept", kBoth, "", "",
     {open(0, CALLBACK_NULL), bytes(Op::Prepare, 0, kLong100.c_str()), bytes(Op::Long, 0, kLong100.c_str()),
      call(Op::Kept, 0, 64), call(Op::Unprepare, 0), call(Op::Close, 0),
      said("port 0 \"PERIPHRL MIDI 1\": F0 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 ... (100 bytes)\n")}},
    {"ExternalPort", "output: short messages, reset, no volume, an external port's capabilities", kBoth, "", "",
     {open(0, CALLBACK_NULL), shortmsg(0x403C90), call(Op::Reset, 0), call(Op::Volume, 0, MMSYSERR_NOTSUPPORTED, 1),
      call(Op::Volume, 0, MMSYSERR_INVALPARAM), call(Op::Caps, 0), call(Op::Close, 0),
      said("port 0 \"PERIPHRL MIDI 1\": 90 3C 40\n")}},
    {"ClosedOrEmpty", "output: a closed handle before a null pointer; an empty long message shown", kBoth, "", "",
     {open(0, CALLBACK_NULL), bytes(Op::Prepare, 0, ""), bytes(Op::Long, 0, ""), call(Op::Unprepare, 0),
      call(Op::Close, 0), call(Op::Volume, 0, MMSYSERR_INVALHANDLE), said("port 0 \"PERIPHRL MIDI 1\": (0 bytes)\n")}},
    {"LongFails", "output: a port option fails long messages with its status, nothing notified", kBoth, " long=7", "",
     {open(0, CALLBACK_FUNCTION), note(MOM_OPEN), bytes(Op::Prepare, 0, kIdentity), bytes(Op::Long, 0, kIdentity, 7),
      quiet(), call(Op::Unprepare, 0), call(Op::Close, 0), note(MOM_CLOSE),
      said("port 0 \"PERIPHRL MIDI 1\": nothing received")}},
    {"InputOpened", "input: open and close notified; inputs named in index order", kBoth, "", "",
     {in_open(1, CALLBACK_FUNCTION), note(MIM_OPEN, 1), {Op::InName, 1, 0, "MIDIIN2 (PERIPHRL MIDI)", 0, 0},
      call(Op::InClose, 1), note(MIM_CLOSE, 1), quiet()}},
    {"InputBuffers", "input: a buffer added once when prepared, given back done by a reset", kBoth, "", "",
     {in_open(0, CALLBACK_FUNCTION), note(MIM_OPEN), call(Op::InAdd, 0, MIDIERR_UNPREPARED), call(Op::InPrepare, 0),
      call(Op::InAdd, 0), call(Op::InAdd, 0, MIDIERR_STILLPLAYING), call(Op::InUnprepare, 0, MIDIERR_STILLPLAYING),
      call(Op::InReset, 0), note(MIM_LONGDATA, 0, kHeader, ""), call(Op::InUnprepare, 0), call(Op::InClose, 0),
      note(MIM_CLOSE)}},
    {"ClosedWithBuffers", "input: a close with a buffer added, whose handle Wine's winmm frees anyway, leaves "
     "neither the buffer nor the port held", kDriver, "", "",
     {in_open(0, CALLBACK_FUNCTION), note(MIM_OPEN), call(Op::InPrepare, 0), call(Op::InAdd, 0), call(Op::InStart, 0),
      call(Op::InClose, 0, MIDIERR_STILLPLAYING), note(MIM_LONGDATA, 0, kHeader, ""), quiet(),
      in_open(0, CALLBACK_FUNCTION), note(MIM_OPEN), call(Op::InClose, 0), note(MIM_CLOSE),
      said("input port 0 with 1 buffer(s) still added -> 65"), said("handle faults: none")}},
    {"SysExAnswered", "answer: an identity request answered into the host's buffer", kBoth, "", kAnswer,
     {in_open(0, CALLBACK_FUNCTION), note(MIM_OPEN), call(Op::InPrepare, 0), call(Op::InAdd, 0), call(Op::InStart, 0),
      open(0, CALLBACK_FUNCTION), note(MOM_OPEN), bytes(Op::Prepare, 0, kIdentity), bytes(Op::Long, 0, kIdentity),
      note(MOM_DONE, 0, kHeader), note(MIM_LONGDATA, 0, kHeader, kReply), call(Op::Unprepare, 0),
      call(Op::Close, 0), note(MOM_CLOSE), call(Op::InStop, 0), call(Op::InUnprepare, 0), call(Op::InClose, 0),
      note(MIM_CLOSE), said("in 0 \"PERIPHRL MIDI 1\": F0 7E 7F 06 02 7D 01 00 02 00 01 00 00 00 F7\n"),
      said("answer on line 5 (port 0 to in 0): fired 1 time\n")}},
    {"ShortAnswered", "answer: the first matching line, after its delay, and nothing before start", kBoth, "",
     "answer 0 90 3C 40 reply 0 80 3C 40 after=300\nanswer 0 90 3C 40 reply 0 B0 07 00\n",
     {in_open(0, CALLBACK_FUNCTION), note(MIM_OPEN), open(0, CALLBACK_NULL), shortmsg(0x403C90), quiet(500),
      call(Op::InStart, 0), shortmsg(0x403C90), quiet(150), note(MIM_DATA, 0, 0x403C80, nullptr, 250),
      call(Op::InStop, 0), call(Op::Close, 0), call(Op::InClose, 0), note(MIM_CLOSE),
      said("in 0 \"PERIPHRL MIDI 1\": 80 3C 40\n"), said("to input port 0: the port was not started"),
      said("answer on line 6 (port 0 to in 0): never asked\n")}},
    {"ReplyLost", "answer: a reply nobody can take is reported with why, not delivered", kBoth, "", kAnswer,
     {open(0, CALLBACK_NULL), bytes(Op::Prepare, 0, kIdentity), bytes(Op::Long, 0, kIdentity), quiet(300),
      said(kLostClosed), in_open(0, CALLBACK_FUNCTION), note(MIM_OPEN),
      call(Op::InStart, 0), bytes(Op::Long, 0, kIdentity), quiet(300), call(Op::Unprepare, 0), call(Op::Close, 0),
      call(Op::InClose, 0), note(MIM_CLOSE), said(kLostUnbuffered),
      said("in 0 \"PERIPHRL MIDI 1\": nothing delivered\n")}},
    {"ReplyWaiting", "answer: a reply not due yet is counted as waiting, not as delivered", kBoth, "",
     "answer 0 90 3C 40 reply 0 80 3C 40 after=60000\n",
     {in_open(0, CALLBACK_NULL), call(Op::InStart, 0), open(0, CALLBACK_NULL), shortmsg(0x403C90),
      said("answer on line 5 (port 0 to in 0): fired 1 time; 1 reply not due yet\n"), call(Op::Close, 0),
      call(Op::InStop, 0), call(Op::InClose, 0)}},
    {"OneClient", "a held port refuses every further open through either door; the library skips it", kBoth, "", "",
     {open(0, CALLBACK_NULL), open(3, CALLBACK_NULL, MMSYSERR_ALLOCATED),
      call(Op::OtherDoorOpen, 0, MMSYSERR_ALLOCATED), direct(5), in_open(0, CALLBACK_NULL),
      in_open(3, CALLBACK_NULL, MMSYSERR_ALLOCATED), call(Op::InClose, 0), call(Op::Close, 0), direct(0),
      said(kDirect), said("refused: midiOutOpen of output port 0, held open by handle "),
      said(" of input port 0, held open by handle "), said("handle faults: none\n")}},
    {"ManyClients", "clients=many: the port shared, as drivers that allow it share it", kBoth, " clients=many", "",
     {open(0, CALLBACK_NULL), open(3, CALLBACK_NULL), direct(0), call(Op::Close, 3), call(Op::Close, 0),
      said("refused: ", false)}},
    {"LeftOpen", "a handle the host leaves open is reported as the host's", kBoth, "", "",
     {open(1, CALLBACK_NULL), in_open(1, CALLBACK_NULL), said("of port 1 never closed (opened by the host's own call, @)"),
      said("of port 1 never closed (an input port's) (opened by the host's own call, @)"), call(Op::Close, 1),
      call(Op::InClose, 1)}},
    {"OtherCalls", "port counts reach the peripheral, other WinMM calls the system", kBoth, "", "",
     {call(Op::Counts, 0)}},
    {"Stream", "a stream's events played on port 0, the stream's header done", kDriver, "", "",
     {{Op::StreamOpen, 0, CALLBACK_FUNCTION, nullptr, 0, 0}, note(MOM_OPEN), bytes(Op::Prepare, 0, kStreamEvent),
      bytes(Op::StreamOut, 0, kStreamEvent), call(Op::StreamRestart, 0), note(MOM_DONE, 0, kHeader),
      call(Op::Unprepare, 0), call(Op::StreamClose, 0), note(MOM_CLOSE), said("port 0 \"PERIPHRL MIDI 1\": 90 3C 40\n")}},
    {"RefusedHere", "the mapper and streams refused through the redirected door, as the guide says", kRedirected, "", "",
     {open(2, CALLBACK_NULL, MMSYSERR_BADDEVICEID), call(Op::StreamOpen, 0, MMSYSERR_NOTSUPPORTED, CALLBACK_NULL)}},
    {"Mapper", "the MIDI mapper's long messages reach port 0, done and notified", kDriver, "", "",
     {open(2, CALLBACK_FUNCTION), note(MOM_OPEN, 2), bytes(Op::Prepare, 2, kIdentity), bytes(Op::Long, 2, kIdentity),
      note(MOM_DONE, 2, kHeader), call(Op::Unprepare, 2), call(Op::Close, 2), note(MOM_CLOSE, 2),
      // Wine's midimap sends a long message once per channel its port serves: 16 times here.
      said("port 0 \"PERIPHRL MIDI 1\": F0 7E 7F 06 01 F7 / F0 7E 7F 06 01 F7")}},
};

// gtest names a case by its name.
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

// --- the host's side: handles, headers, notifications ------------------------

struct Note {
    UINT message;
    DWORD_PTR handle, param1, param2;
    bool lock_free; // a call into the peripheral got through while it was delivered
};

struct HostSide {
    CRITICAL_SECTION lock;
    std::deque<Note> notes;
    HANDLE signal, probe_asked, probe_done;
    DWORD main_thread;
    HWND window;
    HMIDIOUT out[4];
    HMIDIIN in[4];
    MIDIHDR out_header[4], in_header[4];
    BYTE out_data[4][128], in_data[4][256];
} side;

void push(const Note &n)
{
    EnterCriticalSection(&side.lock);
    side.notes.push_back(n);
    LeaveCriticalSection(&side.lock);
}

// From another thread, a callback checks that the peripheral is not locked
// while it runs: the main thread calls into it meanwhile.
void CALLBACK on_notified(HANDLE handle, UINT message, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR p2)
{
    bool lock_free = true;
    if (GetCurrentThreadId() != side.main_thread) {
        SetEvent(side.probe_asked);
        lock_free = WaitForSingleObject(side.probe_done, 2000) == WAIT_OBJECT_0;
    }
    push({instance == kInstance ? message : 0, reinterpret_cast<DWORD_PTR>(handle), p1, p2, lock_free});
}

bool is_notification(UINT message) { return message >= MM_MIM_OPEN && message <= MM_MOM_DONE; }

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (!is_notification(message))
        return DefWindowProcA(window, message, wparam, lparam);
    push({message, wparam, static_cast<DWORD_PTR>(lparam), 0, true});
    return 0;
}

// Delivers what was posted and answers lock probes for up to `ms`; true once
// a notification is waiting. The wait itself takes each event it reports.
bool pump(DWORD ms)
{
    const DWORD until = GetTickCount() + ms;
    for (;;) {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (m.hwnd == nullptr && is_notification(m.message))
                push({m.message, m.wParam, static_cast<DWORD_PTR>(m.lParam), 0, true});
            else
                DispatchMessageA(&m);
        }
        EnterCriticalSection(&side.lock);
        const bool any = !side.notes.empty();
        LeaveCriticalSection(&side.lock);
        const LONG left = static_cast<LONG>(until - GetTickCount());
        const HANDLE waits[] = {side.signal, side.probe_asked};
        const DWORD slice = any || left <= 0 ? 0 : static_cast<DWORD>(left < 10 ? left : 10);
        const DWORD got = MsgWaitForMultipleObjects(2, waits, FALSE, slice, QS_ALLPOSTMESSAGE);
        if (got == WAIT_OBJECT_0) {
            push({kSignal, 0, 0, 0, true});
        } else if (got == WAIT_OBJECT_0 + 1) {
            vp_counters c;
            vp_get_counters(&c);
            SetEvent(side.probe_done);
        } else if (any || left <= 0) {
            return any;
        }
    }
}

Note next_note()
{
    EnterCriticalSection(&side.lock);
    const Note n = side.notes.front();
    side.notes.pop_front();
    LeaveCriticalSection(&side.lock);
    return n;
}

std::vector<BYTE> hex(const char *text)
{
    std::vector<BYTE> out;
    for (const char *p = text; p != nullptr && *p != '\0';) {
        char *end = nullptr;
        out.push_back(static_cast<BYTE>(std::strtoul(p, &end, 16)));
        p = *end == ' ' ? end + 1 : end;
    }
    return out;
}

DWORD_PTR callback_for(DWORD_PTR type)
{
    switch (type) {
    case CALLBACK_FUNCTION: return reinterpret_cast<DWORD_PTR>(on_notified);
    case CALLBACK_EVENT: return reinterpret_cast<DWORD_PTR>(side.signal);
    case CALLBACK_THREAD: return side.main_thread;
    case CALLBACK_WINDOW: return reinterpret_cast<DWORD_PTR>(side.window);
    default: return 0;
    }
}

UINT device(int slot) { return slot == 2 ? MIDI_MAPPER : slot == 3 ? 0 : static_cast<UINT>(slot); }

void fill(MIDIHDR &h, BYTE *data, const char *text)
{
    const std::vector<BYTE> b = hex(text);
    std::memset(&h, 0, sizeof h);
    if (!b.empty())
        std::memcpy(data, b.data(), b.size());
    h.lpData = reinterpret_cast<LPSTR>(data);
    h.dwBufferLength = h.dwBytesRecorded = static_cast<DWORD>(b.size());
}

template <typename F> F peripheral(const char *name)
{
    const HMODULE dll = GetModuleHandleA("vperiph.dll");
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(dll, name)));
}

// Makes one call: its name, and its result in `r`.
const char *run_call(const Step &s, DWORD_PTR &r)
{
    const int k = s.slot;
    MIDIHDR &oh = side.out_header[k], &ih = side.in_header[k];
    const UINT whole = sizeof(MIDIHDR), size = s.arg != 0 ? static_cast<UINT>(s.arg) : whole;
    const DWORD type = static_cast<DWORD>(s.arg);
    HMIDISTRM stream = reinterpret_cast<HMIDISTRM>(side.out[k]);
    switch (s.op) {
    case Op::Open:
        r = midiOutOpen(&side.out[k], device(k), callback_for(type), kInstance, type);
        return "midiOutOpen";
    case Op::OtherDoorOpen: {
        HMIDIOUT other = nullptr;
        r = peripheral<decltype(&midiOutOpen)>("midiOutOpen")(&other, device(k), 0, 0, CALLBACK_NULL);
        if (r == MMSYSERR_NOERROR)
            peripheral<decltype(&midiOutClose)>("midiOutClose")(other);
        return "vperiph.dll's midiOutOpen";
    }
    case Op::StreamOpen: {
        UINT id = device(k);
        r = midiStreamOpen(&stream, &id, 1, callback_for(type), kInstance, type);
        side.out[k] = reinterpret_cast<HMIDIOUT>(stream);
        return "midiStreamOpen";
    }
    case Op::StreamOut: r = midiStreamOut(stream, &oh, whole); return "midiStreamOut";
    case Op::StreamRestart: r = midiStreamRestart(stream); return "midiStreamRestart";
    case Op::StreamClose: r = midiStreamClose(stream); return "midiStreamClose";
    case Op::Close: r = midiOutClose(side.out[k]); return "midiOutClose";
    case Op::Short: r = midiOutShortMsg(side.out[k], type); return "midiOutShortMsg";
    case Op::Prepare:
        fill(oh, side.out_data[k], s.text);
        r = midiOutPrepareHeader(side.out[k], &oh, size);
        return "midiOutPrepareHeader";
    case Op::Long:
        if (oh.lpData == nullptr)
            fill(oh, side.out_data[k], s.text);
        r = midiOutLongMsg(side.out[k], &oh, whole);
        return "midiOutLongMsg";
    case Op::Unprepare: r = midiOutUnprepareHeader(side.out[k], &oh, whole); return "midiOutUnprepareHeader";
    case Op::Reset: r = midiOutReset(side.out[k]); return "midiOutReset";
    case Op::Volume: {
        DWORD volume = 0;
        r = midiOutGetVolume(side.out[k], s.arg != 0 ? &volume : nullptr);
        return "midiOutGetVolume";
    }
    case Op::Caps: {
        MIDIOUTCAPSA c;
        r = midiOutGetDevCapsA(reinterpret_cast<UINT_PTR>(side.out[k]), &c, sizeof c);
        if (r == MMSYSERR_NOERROR && (c.wTechnology != MOD_MIDIPORT || c.wVoices != 0 || c.wNotes != 0 ||
                                      c.wChannelMask != 0xFFFF ||
                                      (c.dwSupport & (MIDICAPS_VOLUME | MIDICAPS_LRVOLUME | MIDICAPS_CACHE)) != 0))
            r = kOdd;
        return "midiOutGetDevCapsA, as of an external port";
    }
    case Op::Kept: r = port_bytes(device(k)).size(); return "the bytes the port kept";
    case Op::InOpen:
        r = midiInOpen(&side.in[k], device(k), callback_for(type), kInstance, type);
        return "midiInOpen";
    case Op::InClose: r = midiInClose(side.in[k]); return "midiInClose";
    case Op::InPrepare:
        std::memset(&ih, 0, sizeof ih);
        ih.lpData = reinterpret_cast<LPSTR>(side.in_data[k]);
        ih.dwBufferLength = sizeof side.in_data[k];
        r = midiInPrepareHeader(side.in[k], &ih, whole);
        return "midiInPrepareHeader";
    case Op::InAdd:
        ih.lpData = reinterpret_cast<LPSTR>(side.in_data[k]);
        ih.dwBufferLength = sizeof side.in_data[k];
        r = midiInAddBuffer(side.in[k], &ih, whole);
        if (r == MMSYSERR_NOERROR && ih.dwFlags != (MHDR_PREPARED | MHDR_INQUEUE))
            r = kOdd;
        return "midiInAddBuffer, the buffer then prepared and queued";
    case Op::InStart: r = midiInStart(side.in[k]); return "midiInStart";
    case Op::InStop: r = midiInStop(side.in[k]); return "midiInStop";
    case Op::InReset: r = midiInReset(side.in[k]); return "midiInReset";
    case Op::InUnprepare: r = midiInUnprepareHeader(side.in[k], &ih, whole); return "midiInUnprepareHeader";
    case Op::InName: {
        MIDIINCAPSA c;
        r = midiInGetDevCapsA(device(k), &c, sizeof c);
        if (r == MMSYSERR_NOERROR && std::strcmp(c.szPname, s.text) != 0)
            r = kOdd;
        return "midiInGetDevCapsA, the port's name";
    }
    case Op::Direct: {
        static const char key[8] = {'P', 'E', 'R', 'I', 'P', 'H', 'R', 'L'};
        r = static_cast<DWORD_PTR>(hiddirect(key, 0x40, 0x92, 0x3C, 0x3C).result);
        return "hiddirect_main";
    }
    case Op::Counts: {
        TIMECAPS timer;
        r = midiOutGetNumDevs() == 2 && midiInGetNumDevs() == 2 &&
                    timeGetDevCaps(&timer, sizeof timer) == MMSYSERR_NOERROR && timeGetTime() != 0
                ? 0
                : kOdd;
        return "midiOutGetNumDevs, midiInGetNumDevs, timeGetDevCaps";
    }
    default: return "";
    }
}

// The next notification against what the step expects: "" when as expected.
std::string check_note(const Step &s)
{
    if (s.op == Op::Quiet)
        return pump(static_cast<DWORD>(s.arg))
                   ? "notified " + std::to_string(next_note().message) + " unasked"
                   : "";
    if (!pump(2000))
        return "nothing within 2 s";
    const Note n = next_note();
    const bool input = s.arg >= MM_MIM_OPEN && s.arg <= MM_MIM_LONGERROR;
    const MIDIHDR &header = input ? side.in_header[s.slot] : side.out_header[s.slot];
    const DWORD_PTR handle = input ? reinterpret_cast<DWORD_PTR>(side.in[s.slot])
                                   : reinterpret_cast<DWORD_PTR>(side.out[s.slot]);
    std::string bad;
    if (n.message != s.arg)
        bad += " message " + std::to_string(n.message) + " (0: another instance)";
    if (s.arg != kSignal && n.handle != handle)
        bad += " another handle";
    if (s.arg != kSignal && n.param1 != (s.want == kHeader ? reinterpret_cast<DWORD_PTR>(&header) : s.want))
        bad += " first parameter " + std::to_string(n.param1);
    if (n.param2 < s.min_time)
        bad += " time stamp " + std::to_string(n.param2);
    if (!n.lock_free)
        bad += " delivered while the peripheral was locked";
    if (s.want == kHeader && (header.dwFlags & (MHDR_DONE | MHDR_INQUEUE)) != MHDR_DONE)
        bad += " the header not done, or still queued";
    const std::vector<BYTE> want = hex(s.text);
    if (s.text != nullptr &&
        (header.dwBytesRecorded != want.size() || std::memcmp(header.lpData, want.data(), want.size()) != 0))
        bad += " the buffer without the bytes " + std::string(s.text);
    return bad;
}

Door door() { return GetModuleHandleA("vpwmm.dll") != nullptr ? kRedirected : kDriver; }

// Wine's winmm counts the ports once per process: every case presents two
// outputs and two inputs, counted before the first case. True when the door
// presents them.
bool door_ready()
{
    static const bool ready = [] {
        side.main_thread = GetCurrentThreadId();
        InitializeCriticalSection(&side.lock);
        side.signal = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        side.probe_asked = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        side.probe_done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        WNDCLASSA cls{};
        cls.lpfnWndProc = window_proc;
        cls.lpszClassName = "door-cases";
        RegisterClassA(&cls);
        side.window = CreateWindowA("door-cases", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        load("port \"A\"\nport \"B\"\nin \"A\"\nin \"B\"\n");
        const UINT outputs = midiOutGetNumDevs(), inputs = midiInGetNumDevs();
        std::printf("door: %s; %u outputs and %u inputs presented\n",
                    door() == kRedirected ? "the program redirected to vpwmm.dll" : "Wine's own winmm", outputs,
                    inputs);
        return outputs == 2 && inputs == 2;
    }();
    return ready;
}

// Through Wine's winmm where it did not take the driver (it never asked the
// driver for its ports), the cases are skipped, said in one line.
bool driver_not_taken() { return !door_ready() && door() == kDriver && vp_driver_ports() < 0; }

class DoorCase : public testing::TestWithParam<Case>
{
protected:
    void SetUp() override
    {
        if (driver_not_taken())
            GTEST_SKIP() << kDriverNotTaken;
        if ((GetParam().doors & door()) == 0)
            GTEST_SKIP() << "not presented through this door, as the guide says";
    }
};

TEST_P(DoorCase, Runs)
{
    const Case &c = GetParam();
    ASSERT_TRUE(door_ready()) << "the door does not present two outputs and two inputs";
    load(std::string("port \"PERIPHRL MIDI 1\"") + c.options +
         "\nport \"MIDIOUT2 (PERIPHRL MIDI)\"\nin \"PERIPHRL MIDI 1\"\nin \"MIDIIN2 (PERIPHRL MIDI)\"\n" +
         c.description);
    while (pump(0))
        next_note();
    std::memset(side.out_header, 0, sizeof side.out_header);
    std::memset(side.in_header, 0, sizeof side.in_header);
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
        const Step &s = c.steps[i];
        if (s.op == Op::Notified || s.op == Op::Quiet) {
            EXPECT_EQ(check_note(s), "") << c.what << ", step " << i << ": notification " << s.arg;
        } else if (s.op == Op::Said || s.op == Op::Unsaid) {
            std::string line = s.text;
            if (line.find('@') != std::string::npos)
                line.replace(line.find('@'), 1,
                             door() == kDriver ? "through Wine's winmm" : "in its redirected program");
            const std::string text = report();
            EXPECT_EQ(text.find(line) != std::string::npos, s.op == Op::Said)
                << c.what << ": the report " << (s.op == Op::Said ? "lacks " : "holds ") << line << "\n" << text;
        } else {
            DWORD_PTR result = kOdd;
            const char *called = run_call(s, result);
            EXPECT_EQ(result, s.want) << c.what << ", step " << i << ": " << called;
        }
    }
    if (HasFailure())
        std::printf("the peripheral's call log:\n%s", calls().c_str());
}

INSTANTIATE_TEST_SUITE_P(Doors, DoorCase, testing::ValuesIn(kCases), CaseName());

// Which modules took the calls: the driver only through Wine's winmm, vpwmm.dll only redirected.
TEST(DoorCases, WentThroughTheirDoor)
{
    if (driver_not_taken())
        GTEST_SKIP() << kDriverNotTaken;
    EXPECT_EQ(GetModuleHandleA("winevp.drv") != nullptr, door() == kDriver);
    EXPECT_EQ(GetModuleHandleA("vpwmm.dll") != nullptr, door() == kRedirected);
}

} // namespace
