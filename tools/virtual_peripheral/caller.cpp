#include "caller.h"

#include <cwctype>
#include <string>

#include "module_path.h"

namespace vperiph {

namespace {

// The file name of the module holding `address`, lower case; empty if none.
std::wstring module_name(const void *address)
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
        return {};
    std::wstring name = tools::module_path(module);
    name.erase(0, name.find_last_of(L"\\/") + 1);
    for (wchar_t &c : name)
        c = static_cast<wchar_t>(std::towlower(c));
    return name;
}

bool is_library(const std::wstring &name)
{
    return name.size() >= 12 && name.compare(0, 8, L"tarnwick") == 0 &&
           name.compare(name.size() - 4, 4, L".dll") == 0;
}

} // namespace

Opener opener_at(const void *address)
{
    return is_library(module_name(address)) ? Opener::library : Opener::host_redirected;
}

Opener opener_through_winmm()
{
    void *frames[48];
    const USHORT n = RtlCaptureStackBackTrace(0, 48, frames, nullptr);
    static const wchar_t *const kPassing[] = {L"vperiph.dll", L"winevp.drv", L"winmm.dll",
                                              L"midimap.dll", L"vpwmm.dll",   L"ntdll.dll",
                                              L"kernel32.dll", L"kernelbase.dll"};
    for (USHORT i = 0; i < n; ++i) {
        const std::wstring name = module_name(frames[i]);
        bool passing = name.empty();
        for (const wchar_t *p : kPassing)
            passing = passing || name == p;
        if (!passing)
            return is_library(name) ? Opener::library : Opener::host_through_winmm;
    }
    return Opener::unknown;
}

} // namespace vperiph
