#include "notify.h"

#include <mmsystem.h>

#include <atomic>
#include <string>

namespace vperiph {

namespace {

using DriverCallbackFn = BOOL(WINAPI *)(DWORD_PTR, DWORD, HDRVR, DWORD, DWORD_PTR, DWORD_PTR,
                                        DWORD_PTR);

// The system's winmm, by its full path: the host's folder may hold a winmm of
// its own (the stand-in among them). Looked up on the first notification, never
// as the DLL is attached; null when it cannot be had (nothing is then sent).
DriverCallbackFn driver_callback()
{
    static std::atomic<DriverCallbackFn> found{nullptr};
    static std::atomic<bool> tried{false};
    if (tried.load())
        return found.load();
    wchar_t folder[MAX_PATH];
    const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    DriverCallbackFn fn = nullptr;
    if (n > 0 && n < MAX_PATH - 12) {
        const std::wstring path = std::wstring(folder, n) + L"\\winmm.dll";
        if (HMODULE winmm = LoadLibraryW(path.c_str()))
            fn = reinterpret_cast<DriverCallbackFn>(
                reinterpret_cast<void (*)()>(GetProcAddress(winmm, "DriverCallback")));
    }
    found.store(fn);
    tried.store(true);
    return fn;
}

} // namespace

DWORD callback_type(DWORD open_flags) { return HIWORD(open_flags & CALLBACK_TYPEMASK); }

void Notices::send() const
{
    if (list_.empty())
        return;
    const DriverCallbackFn fn = driver_callback();
    if (fn == nullptr)
        return;
    for (const Notice &n : list_)
        fn(n.to.callback, n.to.flags, reinterpret_cast<HDRVR>(n.to.handle), n.message, n.to.instance,
           n.param1, n.param2);
}

} // namespace vperiph
