// The virtual peripheral: WinMM MIDI output and SetupAPI device-list
// functions with their real signatures, answering from a description and
// recording every call.
#define _WINMM_
#define _SETUPAPI_
#define VPERIPH_BUILDING
#include <windows.h>
#include <mmsystem.h>
#include <setupapi.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "description.h"
#include "vperiph.h"

namespace {

using vperiph::Description;

constexpr std::uintptr_t kFirstMidiHandle = 0x4D100001;
constexpr std::uintptr_t kFirstSet = 0x5E700001;
constexpr std::uint16_t kGarbage = 0xFDFD; // no key byte can equal it

struct MidiHandle {
    unsigned port;
    bool open;
};

struct DeviceSet {
    std::vector<std::size_t> members; // indexes into the description's entries
    // cppcheck-suppress unusedStructMember ; read through the set map
    bool destroyed;
};

struct State {
    bool loaded = false;
    Description d;
    std::string log;
    std::vector<std::string> faults;
    std::vector<std::vector<std::vector<std::uint8_t>>> received; // per port, per message
    std::map<std::uintptr_t, MidiHandle> handles;
    std::uintptr_t next_handle = kFirstMidiHandle;
    std::map<std::uintptr_t, DeviceSet> sets;
    std::uintptr_t next_set = kFirstSet;
    unsigned builds = 0;
    vp_counters counters{};
};

CRITICAL_SECTION g_lock;
State *g_state = nullptr;

std::string format(const char *fmt, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

std::string utf8(const std::u16string &s)
{
    std::string out;
    for (char16_t c : s) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string wide_arg(const wchar_t *s)
{
    if (s == nullptr)
        return "null";
    std::u16string u;
    for (; *s != 0; ++s)
        u += static_cast<char16_t>(*s);
    return "\"" + utf8(u) + "\"";
}

size_t copy_out(const std::string &text, char *buffer, size_t size)
{
    if (buffer != nullptr && size > 0) {
        const size_t n = text.size() < size - 1 ? text.size() : size - 1;
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return text.size();
}

void reset(State &s, Description d)
{
    s = State{};
    s.loaded = true;
    s.d = std::move(d);
    s.received.resize(s.d.ports.size());
}

void load_from_environment(State &s)
{
    Description d;
    char path[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA("TARNWICK_VP_FILE", path, sizeof path);
    if (n > 0 && n < sizeof path) {
        if (FILE *f = std::fopen(path, "rb")) {
            std::string text;
            char chunk[4096];
            size_t got;
            while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0)
                text.append(chunk, got);
            std::fclose(f);
            std::string error;
            if (!vperiph::parse_description(text, d, error))
                std::fprintf(stderr, "virtual peripheral: %s: %s\n", path, error.c_str());
        } else {
            std::fprintf(stderr, "virtual peripheral: cannot read %s\n", path);
        }
    }
    reset(s, std::move(d));
}

// Serialises every call (Wine may call from its own threads) and loads the
// description on first use.
class Session {
public:
    Session()
    {
        EnterCriticalSection(&g_lock);
        if (!s().loaded)
            load_from_environment(s());
    }
    ~Session() { LeaveCriticalSection(&g_lock); }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    State &s() { return *g_state; }

    // Counts the call; true when the description makes this one fail.
    bool injected()
    {
        ++s().counters.calls;
        return s().d.fail_call != 0 && s().d.fail_call == s().counters.calls;
    }

    std::uint32_t injected_status(std::uint32_t usual)
    {
        return s().d.fail_status_given ? s().d.fail_status : usual;
    }

    void log(const std::string &line) { s().log += line + "\n"; }
    void fault(const std::string &line) { s().faults.push_back(line); }

    MidiHandle *open_handle(HMIDIOUT h, const char *function)
    {
        auto it = s().handles.find(reinterpret_cast<std::uintptr_t>(h));
        if (it == s().handles.end()) {
            fault(format("%s on unknown handle %p", function, static_cast<void *>(h)));
            return nullptr;
        }
        if (!it->second.open) {
            fault(format("%s on closed handle %p", function, static_cast<void *>(h)));
            return nullptr;
        }
        return &it->second;
    }

    DeviceSet *live_set(HDEVINFO set, const char *function)
    {
        auto it = s().sets.find(reinterpret_cast<std::uintptr_t>(set));
        if (it == s().sets.end()) {
            fault(format("%s on unknown set %p", function, set));
            return nullptr;
        }
        if (it->second.destroyed) {
            fault(format("%s on destroyed set %p", function, set));
            return nullptr;
        }
        return &it->second;
    }
};

// Bytes a device sees for a short message: the status byte decides the
// length; a data byte in the status position is handed over with both others.
std::vector<std::uint8_t> message_bytes(DWORD word)
{
    const std::uint8_t status = word & 0xFF;
    std::size_t length = 3;
    if (status >= 0xC0 && status <= 0xDF)
        length = 2;
    else if (status == 0xF1 || status == 0xF3)
        length = 2;
    else if (status == 0xF2)
        length = 3;
    else if (status >= 0xF0)
        length = 1;
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < length; ++i)
        bytes.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
    return bytes;
}

void fill_caps(const vperiph::Port &port, unsigned index, LPMIDIOUTCAPSW caps, UINT size)
{
    MIDIOUTCAPSW record;
    const size_t n = size < sizeof record ? size : sizeof record;
    std::memset(&record, 0, sizeof record);
    std::memcpy(&record, caps, n);
    record.wMid = 0x00FF;
    record.wPid = static_cast<WORD>(index + 1);
    record.vDriverVersion = 0x0100;
    record.wTechnology = MOD_MIDIPORT;
    record.wVoices = 0;
    record.wNotes = 0;
    record.wChannelMask = 0xFFFF;
    record.dwSupport = 0;
    const size_t len = port.name.size();
    for (size_t i = 0; i < MAXPNAMELEN; ++i) {
        if (i < len)
            record.szPname[i] = static_cast<WCHAR>(port.name[i]);
        else if (i == len)
            record.szPname[i] = 0;
        else if (port.tail == vperiph::NameTail::garbage)
            record.szPname[i] = static_cast<WCHAR>(kGarbage);
        else if (port.tail == vperiph::NameTail::zero)
            record.szPname[i] = 0;
    }
    std::memcpy(caps, &record, n);
}

std::string hex_bytes(const std::vector<std::uint8_t> &bytes)
{
    std::string out;
    for (std::uint8_t b : bytes)
        out += format(out.empty() ? "%02X" : " %02X", b);
    return out;
}

// Faults made so far, and the handles and sets still held.
std::vector<std::string> fault_lines(const State &s)
{
    std::vector<std::string> lines;
    for (const std::string &f : s.faults)
        lines.push_back("fault: " + f + "\n");
    for (const auto &h : s.handles)
        if (h.second.open)
            lines.push_back(format("fault: handle %p of port %u never closed\n",
                                   reinterpret_cast<void *>(h.first), h.second.port));
    for (const auto &set : s.sets)
        if (!set.second.destroyed)
            lines.push_back(
                format("fault: set %p never destroyed\n", reinterpret_cast<void *>(set.first)));
    return lines;
}

std::string faults_text(const State &s)
{
    std::string out;
    for (const std::string &line : fault_lines(s))
        out += line;
    return out;
}

// How a SetupAPI call's BOOL result reads in the log.
std::string bool_result(DWORD error)
{
    return error == 0 ? "TRUE" : format("FALSE error=%lu", static_cast<unsigned long>(error));
}

std::string report_text(State &s)
{
    std::string out = format("virtual peripheral: %u MIDI output port(s), %u USB entr%s\n",
                             static_cast<unsigned>(s.d.ports.size()),
                             static_cast<unsigned>(s.d.usb.size()),
                             s.d.usb.size() == 1 ? "y" : "ies");
    for (size_t p = 0; p < s.d.ports.size(); ++p) {
        std::string messages;
        for (const auto &m : s.received[p])
            messages += (messages.empty() ? "" : " / ") + hex_bytes(m);
        out += format("  port %u \"%s\": %s\n", static_cast<unsigned>(p),
                      utf8(s.d.ports[p].name).c_str(),
                      messages.empty() ? "nothing received" : messages.c_str());
    }
    const vp_counters &c = s.counters;
    out += format("  calls: %u (port opens %u, closes %u, sends %u; set builds %u, destroys %u)\n",
                  c.calls, c.midi_opens, c.midi_closes, c.midi_sends, c.set_builds,
                  c.set_destroys);
    const std::string faults = faults_text(s);
    out += faults.empty() ? "  handle faults: none\n" : faults;
    return out;
}

void write_report_at_exit()
{
    char path[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA("TARNWICK_VP_REPORT", path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return;
    std::string text;
    {
        Session session;
        text = report_text(session.s());
    }
    HANDLE out = std::strcmp(path, "-") == 0
                     ? GetStdHandle(STD_ERROR_HANDLE)
                     : CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE || out == nullptr)
        return;
    DWORD written = 0;
    WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    if (std::strcmp(path, "-") != 0)
        CloseHandle(out);
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&g_lock);
        g_state = new State();
    } else if (reason == DLL_PROCESS_DETACH && reserved != nullptr) {
        // The process is ending: report what the peripheral saw.
        write_report_at_exit();
    }
    return TRUE;
}

// ---- WinMM MIDI output ----------------------------------------------------

extern "C" {

UINT WINAPI midiOutGetNumDevs(void)
{
    Session session;
    const bool fail = session.injected();
    const UINT n = fail ? 0 : static_cast<UINT>(session.s().d.ports.size());
    session.log(format("midiOutGetNumDevs() -> %u", n));
    return n;
}

UINT WINAPI midiInGetNumDevs(void)
{
    Session session;
    session.injected();
    session.log("midiInGetNumDevs() -> 0");
    return 0;
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR dwCallback,
                            DWORD_PTR dwInstance, DWORD fdwOpen)
{
    Session session;
    State &s = session.s();
    MMRESULT r = MMSYSERR_NOERROR;
    if (session.injected())
        r = session.injected_status(MMSYSERR_ALLOCATED);
    else if (uDeviceID >= s.d.ports.size())
        r = MMSYSERR_BADDEVICEID;
    else if (phmo == nullptr)
        r = MMSYSERR_INVALPARAM;
    else
        r = s.d.ports[uDeviceID].open;
    std::string opened;
    if (r == MMSYSERR_NOERROR) {
        const std::uintptr_t h = s.next_handle++;
        s.handles[h] = MidiHandle{uDeviceID, true};
        *phmo = reinterpret_cast<HMIDIOUT>(h);
        ++s.counters.midi_opens;
        opened = format(" handle=%p", reinterpret_cast<void *>(h));
    }
    session.log(format("midiOutOpen(port=%u, callback=0x%llx, instance=0x%llx, flags=0x%lx) -> %u%s",
                       uDeviceID, static_cast<unsigned long long>(dwCallback),
                       static_cast<unsigned long long>(dwInstance),
                       static_cast<unsigned long>(fdwOpen), r, opened.c_str()));
    return r;
}

MMRESULT WINAPI midiOutGetID(HMIDIOUT hmo, LPUINT puDeviceID)
{
    Session session;
    MidiHandle *h = session.open_handle(hmo, "midiOutGetID");
    MMRESULT r = MMSYSERR_NOERROR;
    if (session.injected())
        r = session.injected_status(MMSYSERR_NODRIVER);
    else if (h == nullptr)
        r = MMSYSERR_INVALHANDLE;
    else if (puDeviceID == nullptr)
        r = MMSYSERR_INVALPARAM;
    else
        r = session.s().d.ports[h->port].getid;
    if (r == MMSYSERR_NOERROR && h != nullptr)
        *puDeviceID = h->port;
    session.log(format("midiOutGetID(handle=%p, port=%d) -> %u%s", static_cast<void *>(hmo),
                       h ? static_cast<int>(h->port) : -1, r,
                       r == MMSYSERR_NOERROR && h ? format(" id=%u", h->port).c_str() : ""));
    return r;
}

MMRESULT WINAPI midiOutGetDevCapsW(UINT_PTR uDeviceID, LPMIDIOUTCAPSW pmoc, UINT cbmoc)
{
    Session session;
    State &s = session.s();
    ++s.counters.caps_queries;
    bool held = false;
    for (const auto &h : s.handles)
        held = held || (h.second.open && (h.second.port == uDeviceID || h.first == uDeviceID));
    if (!held)
        session.fault(format("midiOutGetDevCapsW for id %llu, which no open handle has",
                             static_cast<unsigned long long>(uDeviceID)));
    unsigned port = static_cast<unsigned>(uDeviceID);
    const auto by_handle = s.handles.find(uDeviceID);
    if (by_handle != s.handles.end())
        port = by_handle->second.port;
    MMRESULT r = MMSYSERR_NOERROR;
    if (session.injected())
        r = session.injected_status(MMSYSERR_NODRIVER);
    else if (port >= s.d.ports.size())
        r = MMSYSERR_BADDEVICEID;
    else if (pmoc == nullptr)
        r = MMSYSERR_INVALPARAM;
    else
        r = s.d.ports[port].caps;
    if (r == MMSYSERR_NOERROR && port < s.d.ports.size() && pmoc != nullptr)
        fill_caps(s.d.ports[port], port, pmoc, cbmoc);
    session.log(format("midiOutGetDevCapsW(id=%llu, size=%u) -> %u",
                       static_cast<unsigned long long>(uDeviceID), cbmoc, r));
    return r;
}

MMRESULT WINAPI midiOutShortMsg(HMIDIOUT hmo, DWORD dwMsg)
{
    Session session;
    State &s = session.s();
    MidiHandle *h = session.open_handle(hmo, "midiOutShortMsg");
    ++s.counters.midi_sends;
    MMRESULT r = MMSYSERR_NOERROR;
    if (session.injected())
        r = session.injected_status(MIDIERR_NOTREADY);
    else if (h == nullptr)
        r = MMSYSERR_INVALHANDLE;
    else
        r = s.d.ports[h->port].send;
    if (r == MMSYSERR_NOERROR && h != nullptr)
        s.received[h->port].push_back(message_bytes(dwMsg));
    session.log(format("midiOutShortMsg(handle=%p, port=%d, word=0x%08lx) -> %u",
                       static_cast<void *>(hmo), h ? static_cast<int>(h->port) : -1,
                       static_cast<unsigned long>(dwMsg), r));
    return r;
}

MMRESULT WINAPI midiOutReset(HMIDIOUT hmo)
{
    Session session;
    MidiHandle *h = session.open_handle(hmo, "midiOutReset");
    const MMRESULT r = session.injected() ? session.injected_status(MMSYSERR_NODRIVER)
                       : h == nullptr     ? MMSYSERR_INVALHANDLE
                                          : MMSYSERR_NOERROR;
    session.log(format("midiOutReset(handle=%p) -> %u", static_cast<void *>(hmo), r));
    return r;
}

MMRESULT WINAPI midiOutClose(HMIDIOUT hmo)
{
    Session session;
    State &s = session.s();
    MidiHandle *h = session.open_handle(hmo, "midiOutClose");
    MMRESULT r = MMSYSERR_INVALHANDLE;
    if (h != nullptr) {
        // A failing close still releases the handle here, so a caller that
        // closes once is never counted as leaking.
        h->open = false;
        ++s.counters.midi_closes;
        r = session.injected() ? session.injected_status(MMSYSERR_NOMEM) : s.d.ports[h->port].close;
    } else {
        session.injected();
    }
    session.log(format("midiOutClose(handle=%p, port=%d) -> %u", static_cast<void *>(hmo),
                       h ? static_cast<int>(h->port) : -1, r));
    return r;
}

// ---- SetupAPI device list -------------------------------------------------

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID *ClassGuid, PCWSTR Enumerator, HWND hwndParent,
                                     DWORD Flags)
{
    Session session;
    State &s = session.s();
    ++s.counters.set_builds;
    DWORD error = 0;
    if (session.injected())
        error = session.injected_status(ERROR_NOT_ENOUGH_MEMORY);
    else if (s.d.classdevs_error != 0)
        error = s.d.classdevs_error;
    else if (ClassGuid == nullptr && !(Flags & DIGCF_ALLCLASSES))
        error = ERROR_INVALID_PARAMETER;
    std::string guid = "null";
    if (ClassGuid != nullptr)
        guid = format("{%08lx-...}", static_cast<unsigned long>(ClassGuid->Data1));
    HDEVINFO result = INVALID_HANDLE_VALUE;
    if (error == 0) {
        const unsigned build = ++s.builds;
        DeviceSet set{{}, false};
        const bool usb = Enumerator != nullptr && lstrcmpiW(Enumerator, L"USB") == 0;
        for (size_t i = 0; usb && i < s.d.usb.size(); ++i) {
            const vperiph::UsbEntry &e = s.d.usb[i];
            if (build > e.appear && (e.vanish == 0 || build <= e.vanish))
                set.members.push_back(i);
        }
        const std::uintptr_t h = s.next_set++;
        s.sets[h] = set;
        result = reinterpret_cast<HDEVINFO>(h);
    }
    session.log(format("SetupDiGetClassDevsW(class=%s, enumerator=%s, parent=%p, flags=0x%lx) -> %s",
                       guid.c_str(), wide_arg(Enumerator).c_str(), static_cast<void *>(hwndParent),
                       static_cast<unsigned long>(Flags),
                       error == 0 ? format("set=%p", result).c_str()
                                  : format("INVALID_HANDLE_VALUE error=%lu",
                                           static_cast<unsigned long>(error)).c_str()));
    SetLastError(error);
    return result;
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                                  PSP_DEVINFO_DATA DeviceInfoData)
{
    Session session;
    State &s = session.s();
    ++s.counters.enum_calls;
    DeviceSet *set = session.live_set(DeviceInfoSet, "SetupDiEnumDeviceInfo");
    DWORD error = 0;
    if (session.injected())
        error = session.injected_status(ERROR_INVALID_DATA);
    else if (set == nullptr)
        error = ERROR_INVALID_HANDLE;
    else if (DeviceInfoData == nullptr)
        error = ERROR_INVALID_PARAMETER;
    else if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))
        error = ERROR_INVALID_USER_BUFFER;
    else if (MemberIndex >= set->members.size())
        error = ERROR_NO_MORE_ITEMS;
    if (error == 0 && set != nullptr && MemberIndex < set->members.size()) {
        std::memset(&DeviceInfoData->ClassGuid, 0, sizeof DeviceInfoData->ClassGuid);
        DeviceInfoData->DevInst = static_cast<DWORD>(set->members[MemberIndex] + 1);
        DeviceInfoData->Reserved = MemberIndex;
    }
    session.log(format("SetupDiEnumDeviceInfo(set=%p, index=%lu, cbSize=%lu) -> %s",
                       DeviceInfoSet, static_cast<unsigned long>(MemberIndex),
                       DeviceInfoData ? static_cast<unsigned long>(DeviceInfoData->cbSize) : 0ul,
                       bool_result(error).c_str()));
    SetLastError(error);
    return error == 0;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet,
                                              PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize)
{
    Session session;
    State &s = session.s();
    ++s.counters.property_reads;
    DeviceSet *set = session.live_set(DeviceInfoSet, "SetupDiGetDeviceRegistryPropertyW");
    DWORD error = 0;
    const vperiph::UsbEntry *entry = nullptr;
    if (session.injected())
        error = session.injected_status(ERROR_INVALID_DATA);
    else if (set == nullptr)
        error = ERROR_INVALID_HANDLE;
    else if (DeviceInfoData == nullptr || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA) ||
             DeviceInfoData->Reserved >= set->members.size())
        error = ERROR_INVALID_PARAMETER;
    else if (Property != SPDRP_HARDWAREID)
        error = ERROR_INVALID_DATA;
    else if ((entry = &s.d.usb[set->members[DeviceInfoData->Reserved]])->property_error != 0)
        error = entry->property_error;
    DWORD length = 0;
    if (error == 0 && entry != nullptr) {
        length = static_cast<DWORD>(entry->property.size());
        if (RequiredSize != nullptr)
            *RequiredSize = length;
        if (PropertyBuffer == nullptr || PropertyBufferSize < length) {
            error = ERROR_INSUFFICIENT_BUFFER;
        } else {
            std::memcpy(PropertyBuffer, entry->property.data(), length);
            if (PropertyRegDataType != nullptr)
                *PropertyRegDataType = REG_MULTI_SZ;
        }
    }
    session.log(format("SetupDiGetDeviceRegistryPropertyW(set=%p, member=%lu, property=%lu, "
                       "size=%lu) -> %s required=%lu",
                       DeviceInfoSet,
                       DeviceInfoData ? static_cast<unsigned long>(DeviceInfoData->Reserved) : 0ul,
                       static_cast<unsigned long>(Property),
                       static_cast<unsigned long>(PropertyBufferSize),
                       bool_result(error).c_str(),
                       static_cast<unsigned long>(length)));
    SetLastError(error);
    return error == 0;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet)
{
    Session session;
    State &s = session.s();
    auto it = s.sets.find(reinterpret_cast<std::uintptr_t>(DeviceInfoSet));
    DWORD error = 0;
    if (it == s.sets.end()) {
        session.fault(format("SetupDiDestroyDeviceInfoList of unknown set %p", DeviceInfoSet));
        error = ERROR_INVALID_HANDLE;
    } else if (it->second.destroyed) {
        session.fault(format("set %p destroyed twice", DeviceInfoSet));
        error = ERROR_INVALID_HANDLE;
    } else {
        // As with a port close, an injected failure still releases the set.
        it->second.destroyed = true;
        ++s.counters.set_destroys;
    }
    if (session.injected() && error == 0)
        error = session.injected_status(ERROR_INVALID_HANDLE);
    session.log(format("SetupDiDestroyDeviceInfoList(set=%p) -> %s", DeviceInfoSet,
                       bool_result(error).c_str()));
    SetLastError(error);
    return error == 0;
}

// ---- control interface ----------------------------------------------------

int VPERIPH_CALL vp_load(const char *description, char *error, size_t error_size)
{
    Description d;
    std::string message;
    if (description == nullptr || !vperiph::parse_description(description, d, message)) {
        copy_out(description == nullptr ? "no description" : message, error, error_size);
        return -1;
    }
    EnterCriticalSection(&g_lock);
    reset(*g_state, std::move(d));
    LeaveCriticalSection(&g_lock);
    copy_out("", error, error_size);
    return 0;
}

void VPERIPH_CALL vp_clear(void)
{
    Session session;
    Description d = session.s().d;
    reset(session.s(), std::move(d));
}

size_t VPERIPH_CALL vp_calls(char *buffer, size_t size)
{
    Session session;
    return copy_out(session.s().log, buffer, size);
}

size_t VPERIPH_CALL vp_port_bytes(unsigned port, unsigned char *buffer, size_t size)
{
    Session session;
    std::vector<std::uint8_t> bytes;
    if (port < session.s().received.size())
        for (const auto &m : session.s().received[port])
            bytes.insert(bytes.end(), m.begin(), m.end());
    if (buffer != nullptr)
        std::memcpy(buffer, bytes.data(), bytes.size() < size ? bytes.size() : size);
    return bytes.size();
}

size_t VPERIPH_CALL vp_faults(char *buffer, size_t size)
{
    Session session;
    return copy_out(faults_text(session.s()), buffer, size);
}

void VPERIPH_CALL vp_get_counters(struct vp_counters *out)
{
    Session session;
    if (out != nullptr) {
        *out = session.s().counters;
        out->faults = static_cast<unsigned>(fault_lines(session.s()).size());
    }
}

size_t VPERIPH_CALL vp_report(char *buffer, size_t size)
{
    Session session;
    return copy_out(report_text(session.s()), buffer, size);
}

} // extern "C"
