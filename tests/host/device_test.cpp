// The virtual peripheral as a whole USB MIDI device, through the WinMM
// functions vperiph.dll exports (what a redirected host calls): notifications,
// long messages, input buffers, the answers of its description, and one
// client per port, which the library meets as a skipped port.
#include <gtest/gtest.h>
#include <windows.h>
#include <mmsystem.h>

#include <cstddef>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "harness.h"

using namespace host;

namespace {

template <typename F> F exported(const char *name)
{
    return reinterpret_cast<F>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("vperiph.dll"), name)));
}

struct Winmm {
    decltype(&midiOutOpen) out_open = exported<decltype(&midiOutOpen)>("midiOutOpen");
    decltype(&midiOutClose) out_close = exported<decltype(&midiOutClose)>("midiOutClose");
    decltype(&midiOutPrepareHeader) prepare =
        exported<decltype(&midiOutPrepareHeader)>("midiOutPrepareHeader");
    decltype(&midiOutLongMsg) send_long = exported<decltype(&midiOutLongMsg)>("midiOutLongMsg");
    decltype(&midiOutGetVolume) volume = exported<decltype(&midiOutGetVolume)>("midiOutGetVolume");
    decltype(&midiInOpen) in_open = exported<decltype(&midiInOpen)>("midiInOpen");
    decltype(&midiInClose) in_close = exported<decltype(&midiInClose)>("midiInClose");
    decltype(&midiInPrepareHeader) in_prepare =
        exported<decltype(&midiInPrepareHeader)>("midiInPrepareHeader");
    decltype(&midiInAddBuffer) add = exported<decltype(&midiInAddBuffer)>("midiInAddBuffer");
    decltype(&midiInStart) start = exported<decltype(&midiInStart)>("midiInStart");
    decltype(&midiInReset) reset = exported<decltype(&midiInReset)>("midiInReset");
};

// What a function callback was told, from whichever thread.
struct Told {
    UINT message;
    DWORD_PTR instance, param1;
};
std::mutex g_told_lock;
std::vector<Told> g_told;

void CALLBACK remember(HMIDIIN, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR)
{
    const std::lock_guard<std::mutex> hold(g_told_lock);
    g_told.push_back({message, instance, param1});
}

std::vector<Told> told()
{
    const std::lock_guard<std::mutex> hold(g_told_lock);
    return g_told;
}

const char kDevice[] = "port \"PERIPHRL MIDI 1\"\nin \"PERIPHRL MIDI 1\"\n"
                       "answer 0 F0 7E 7F 06 01 F7 reply 0 F0 7E 7F 06 02 7D 01 00 02 00 01 00 00 00 F7\n";
char g_request[] = {'\xF0', 0x7E, 0x7F, 0x06, 0x01, '\xF7'};
const std::vector<std::uint8_t> kIdentity = bytes(
    {0xF0, 0x7E, 0x7F, 0x06, 0x02, 0x7D, 0x01, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0xF7});

// With the stand-ins under the system's names (this program's folder), the
// library must bind to the stand-in winmm before the peripheral loads the
// system's, by its full path, for its first notification: a module of that
// name loaded first is the one a later import of it gets.
class Device : public testing::Test {
protected:
    void SetUp() override { ASSERT_NE(LoadLibraryA("tarnwick.dll"), nullptr); }
};

std::vector<std::uint8_t> in_bytes(unsigned port)
{
    std::vector<std::uint8_t> b(vp_in_bytes(port, nullptr, 0));
    vp_in_bytes(port, b.data(), b.size());
    return b;
}

// A device editor's exchange, as real ones are written: each notification
// awaited as its callback type gives it, the identity request sent, and its
// reply taken from the buffer added to the input port.
TEST_F(Device, AnswersAnIdentityRequestForEveryCallbackType)
{
    const Winmm w;
    for (const DWORD type : {DWORD(CALLBACK_EVENT), DWORD(CALLBACK_FUNCTION)}) {
        SCOPED_TRACE(type);
        load(kDevice);
        g_told.clear();
        HANDLE signal = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        const DWORD_PTR callback = type == CALLBACK_EVENT ? reinterpret_cast<DWORD_PTR>(signal)
                                                          : reinterpret_cast<DWORD_PTR>(&remember);
        HMIDIOUT out = nullptr;
        HMIDIIN in = nullptr;
        ASSERT_EQ(w.out_open(&out, 0, callback, 0x51, type), MMSYSERR_NOERROR);
        ASSERT_EQ(w.in_open(&in, 0, callback, 0x52, type), MMSYSERR_NOERROR);
        char reply[64];
        MIDIHDR buffer{};
        buffer.lpData = reply;
        buffer.dwBufferLength = sizeof reply;
        ASSERT_EQ(w.in_prepare(in, &buffer, sizeof buffer), MMSYSERR_NOERROR);
        ASSERT_EQ(w.add(in, &buffer, sizeof buffer), MMSYSERR_NOERROR);
        EXPECT_EQ(buffer.dwFlags, DWORD(MHDR_PREPARED | MHDR_INQUEUE));
        ASSERT_EQ(w.start(in), MMSYSERR_NOERROR);
        MIDIHDR request{};
        request.lpData = g_request;
        request.dwBufferLength = sizeof g_request;
        EXPECT_EQ(w.send_long(out, &request, sizeof request), MIDIERR_UNPREPARED);
        ASSERT_EQ(w.prepare(out, &request, sizeof request), MMSYSERR_NOERROR);
        ASSERT_EQ(w.send_long(out, &request, sizeof request), MMSYSERR_NOERROR);
        EXPECT_EQ(request.dwFlags, DWORD(MHDR_PREPARED | MHDR_DONE));
        // The reply comes from the device's own thread.
        for (int i = 0; i < 200 && (buffer.dwFlags & MHDR_DONE) == 0; ++i)
            Sleep(10);
        ASSERT_EQ(buffer.dwFlags, DWORD(MHDR_PREPARED | MHDR_DONE));
        ASSERT_EQ(buffer.dwBytesRecorded, kIdentity.size());
        EXPECT_EQ(std::vector<std::uint8_t>(reply, reply + kIdentity.size()), kIdentity);
        EXPECT_EQ(in_bytes(0), kIdentity);
        EXPECT_EQ(w.in_close(in), MMSYSERR_NOERROR);
        EXPECT_EQ(w.out_close(out), MMSYSERR_NOERROR);
        if (type == CALLBACK_EVENT) {
            // open, open, done, long data, close, close: an event for each.
            unsigned signalled = 0;
            while (WaitForSingleObject(signal, 0) == WAIT_OBJECT_0)
                ++signalled;
            EXPECT_GE(signalled, 1u);
        } else {
            const std::vector<Told> t = told();
            const std::vector<std::pair<UINT, DWORD_PTR>> expected = {
                {MOM_OPEN, 0x51},     {MIM_OPEN, 0x52},  {MOM_DONE, 0x51},
                {MIM_LONGDATA, 0x52}, {MIM_CLOSE, 0x52}, {MOM_CLOSE, 0x51}};
            ASSERT_EQ(t.size(), expected.size());
            // The reply comes from the device's thread: it may be told before
            // the request's MOM_DONE, which its own call tells as it returns.
            std::vector<Told> got = t;
            if (got[2].message == MIM_LONGDATA)
                std::swap(got[2], got[3]);
            for (std::size_t i = 0; i < got.size(); ++i) {
                EXPECT_EQ(got[i].message, expected[i].first) << i;
                EXPECT_EQ(got[i].instance, expected[i].second) << i;
            }
            EXPECT_EQ(got[2].param1, reinterpret_cast<DWORD_PTR>(&request));
            EXPECT_EQ(got[3].param1, reinterpret_cast<DWORD_PTR>(&buffer));
        }
        const std::string r = report();
        EXPECT_NE(r.find("\n  port 0 \"PERIPHRL MIDI 1\": F0 7E 7F 06 01 F7\n"), std::string::npos) << r;
        EXPECT_NE(r.find("\n  in 0 \"PERIPHRL MIDI 1\": F0 7E 7F 06 02 7D"), std::string::npos) << r;
        EXPECT_NE(r.find("\n  answer on line 3 (port 0 to in 0): fired 1 time\n"), std::string::npos) << r;
        CloseHandle(signal);
    }
}

// A reply nobody can take is not lost silently: the report says why.
TEST_F(Device, SaysWhyAReplyWasLost)
{
    const Winmm w;
    const struct {
        const char *name;
        bool open, start, buffer;
        const char *why;
    } cases[] = {
        {"port not open", false, false, false, "the port was not open"},
        {"port not started", true, false, true, "the port was not started"},
        {"no buffer added", true, true, false, "no buffer was added"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        load(kDevice);
        HMIDIOUT out = nullptr;
        HMIDIIN in = nullptr;
        ASSERT_EQ(w.out_open(&out, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        char room[64];
        MIDIHDR buffer{};
        buffer.lpData = room;
        buffer.dwBufferLength = sizeof room;
        if (c.open) {
            ASSERT_EQ(w.in_open(&in, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        }
        if (c.buffer) {
            w.in_prepare(in, &buffer, sizeof buffer);
            ASSERT_EQ(w.add(in, &buffer, sizeof buffer), MMSYSERR_NOERROR);
        }
        if (c.start) {
            ASSERT_EQ(w.start(in), MMSYSERR_NOERROR);
        }
        MIDIHDR request{};
        request.lpData = g_request;
        request.dwBufferLength = sizeof g_request;
        w.prepare(out, &request, sizeof request);
        ASSERT_EQ(w.send_long(out, &request, sizeof request), MMSYSERR_NOERROR);
        std::string r;
        for (int i = 0; i < 200 && r.find("lost: ") == std::string::npos; ++i, Sleep(10))
            r = report();
        EXPECT_NE(r.find("\n  lost: the reply of the answer on line 3 to input port 0: " +
                         std::string(c.why)),
                  std::string::npos)
            << r;
        EXPECT_TRUE(in_bytes(0).empty());
        if (c.open) {
            EXPECT_EQ(w.reset(in), MMSYSERR_NOERROR);
            EXPECT_EQ(buffer.dwBytesRecorded, 0u);
            EXPECT_EQ(w.in_close(in), MMSYSERR_NOERROR);
        }
        w.out_close(out);
        EXPECT_EQ(faults(), "");
    }
}

// What a driver checks before it takes a header or says it cannot do a
// thing; a long message the description makes fail; one shown shortened.
TEST_F(Device, ChecksHeadersAndShowsLongMessages)
{
    const Winmm w;
    load("port \"A\"\nport \"B\" long=67\n");
    HMIDIOUT a = nullptr, b = nullptr;
    ASSERT_EQ(w.out_open(&a, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    ASSERT_EQ(w.out_open(&b, 1, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    std::vector<char> dump(100, 0x11);
    dump.front() = '\xF0';
    dump.back() = '\xF7';
    MIDIHDR h{};
    h.lpData = dump.data();
    h.dwBufferLength = static_cast<DWORD>(dump.size());
    DWORD volume = 0;
    const struct {
        const char *name;
        MMRESULT result, expected;
    } cases[] = {
        {"tiny header", w.prepare(a, &h, offsetof(MIDIHDR, dwOffset) - 1), MMSYSERR_INVALPARAM},
        {"old-size header", w.prepare(a, &h, offsetof(MIDIHDR, dwOffset)), MMSYSERR_NOERROR},
        {"volume into null", w.volume(a, nullptr), MMSYSERR_INVALPARAM},
        {"volume", w.volume(a, &volume), MMSYSERR_NOTSUPPORTED},
        {"long message", w.send_long(a, &h, sizeof h), MMSYSERR_NOERROR},
        {"long=67", w.send_long(b, &h, sizeof h), 67},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.result, c.expected) << c.name;
    const std::string r = report();
    EXPECT_NE(r.find("\n  port 0 \"A\": F0 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 ... (100 bytes)\n"),
              std::string::npos)
        << r;
    EXPECT_NE(r.find("\n  port 1 \"B\": nothing received\n"), std::string::npos) << r;
    EXPECT_EQ(port_bytes(0).size(), 64u) << "a long message's first 64 bytes";
    w.out_close(a);
    w.out_close(b);
}

// One client per port, as Windows gives a USB MIDI port: a host holding its
// port makes the library skip it (result 5), and the report says who held
// it; once closed, the library reaches it again. clients=many shares it.
TEST_F(Device, HeldPortIsSkippedByTheLibrary)
{
    const Winmm w;
    for (const bool many : {false, true}) {
        SCOPED_TRACE(many);
        load(many ? "port \"PERIPHRL MIDI 1\" clients=many\n" : "port \"PERIPHRL MIDI 1\"\n");
        HMIDIOUT held = nullptr;
        ASSERT_EQ(w.out_open(&held, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        EXPECT_EQ(hiddirect("PERIPHRL", 1, 0x90, 1, 1).result, many ? 0 : 5);
        const std::string r = report();
        EXPECT_EQ(r.find("\n  refused: midiOutOpen of output port 0, held open by handle 0x4d1"),
                  many ? std::string::npos : r.find("\n  refused: "))
            << r;
        EXPECT_NE(r.find(" never closed (opened by the host's own call, in its redirected program)\n"),
                  std::string::npos)
            << r;
        EXPECT_EQ(w.out_close(held), MMSYSERR_NOERROR);
        EXPECT_EQ(hiddirect("PERIPHRL", 1, 0x90, 1, 1).result, 0);
        EXPECT_EQ(faults(), "");
    }
}

} // namespace
