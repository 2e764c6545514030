// winevp.drv's own part: what Wine's mmdevapi asks of an audio driver before
// it selects one, in the releases the driver knows (wine_release.h). It has
// no audio endpoints: it is there for winmm, whose messages (DriverProc,
// modMessage, midMessage) winevp.def forwards to vperiph.dll, which holds the
// ports and the record. Wine 10.0 also calls the driver's Unix part,
// winevp.so (audio_driver_unix.c), which the loader registers only for a
// copy found through WINEDLLPATH.
#include <windows.h>

#include "wine_release.h"

using winevp::Refusal;
using winevp::WineRelease;

namespace {

// Wine's own information class of NtQueryVirtualMemory: the Unix part the
// loader registered for a module (MemoryWineUnixFuncs).
constexpr int kWineUnixFuncs = 1000;

const char *wine_version(HMODULE ntdll)
{
    using Version = auto (*)() -> const char *;
    const auto version = reinterpret_cast<Version>(
        reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "wine_get_version")));
    return version != nullptr ? version() : nullptr;
}

bool has_unix_part(HMODULE ntdll, HMODULE self)
{
    using Query = auto(WINAPI *)(HANDLE, const void *, int, void *, SIZE_T, SIZE_T *) -> LONG;
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "NtQueryVirtualMemory")));
    unsigned long long unix_part = 0;
    return query != nullptr &&
           query(GetCurrentProcess(), self, kWineUnixFuncs, &unix_part, sizeof unix_part,
                 nullptr) == 0 &&
           unix_part != 0;
}

// On standard error for a console host, and in the debug output for any.
void say(const char *line, std::size_t length)
{
    char text[512];
    std::size_t n = 0;
    for (; n < length && n + 2 < sizeof text; ++n)
        text[n] = line[n];
    text[n++] = '\n';
    text[n] = '\0';
    DWORD written = 0;
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err != nullptr && err != INVALID_HANDLE_VALUE)
        WriteFile(err, text, static_cast<DWORD>(n), &written, nullptr);
    OutputDebugStringA(text);
}

} // namespace

extern "C" {

// Refusing to load is how the driver presents nothing: mmdevapi then has no
// audio driver, and winmm no MIDI driver, rather than one whose answers were
// meant for other questions.
BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    DisableThreadLibraryCalls(self);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const char *version = ntdll != nullptr ? wine_version(ntdll) : nullptr;
    const WineRelease release = winevp::wine_release(version);
    if (release == WineRelease::wine_8_0 ||
        (release == WineRelease::wine_10_0 && has_unix_part(ntdll, self)))
        return TRUE;
    char line[400];
    const std::size_t length = winevp::refusal_line(
        line, sizeof line,
        release == WineRelease::unknown ? Refusal::unknown_release : Refusal::no_unix_part, version);
    say(line, length);
    return FALSE;
}

// Wine 8.0 asks these; the highest priority, and no audio endpoints.
int WINAPI GetPriority(void) { return 3; }

HRESULT WINAPI GetEndpointIDs(int flow, WCHAR ***ids, GUID **guids, UINT *count, UINT *preferred)
{
    (void)flow;
    if (ids == nullptr || guids == nullptr || count == nullptr || preferred == nullptr)
        return E_POINTER;
    *ids = nullptr;
    *guids = nullptr;
    *count = 0;
    *preferred = static_cast<UINT>(-1);
    return S_OK;
}

HRESULT WINAPI GetAudioEndpoint(void *guid, void *device, void **client)
{
    (void)guid, (void)device;
    if (client != nullptr)
        *client = nullptr;
    return E_NOTIMPL;
}

HRESULT WINAPI GetAudioSessionManager(void *device, void **manager)
{
    (void)device;
    if (manager != nullptr)
        *manager = nullptr;
    return E_NOTIMPL;
}

// Wine 10.0 asks these for the endpoints its Unix part lists, which are
// none: no name is one of ours, and no GUID names one.
void WINAPI get_device_guid(int flow, const char *name, GUID *guid)
{
    (void)flow, (void)name;
    if (guid != nullptr)
        *guid = GUID{};
}

BOOL WINAPI get_device_name_from_guid(const GUID *guid, char **name, int *flow)
{
    (void)guid, (void)flow;
    if (name != nullptr)
        *name = nullptr;
    return FALSE;
}

} // extern "C"
