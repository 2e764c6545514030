#include <cstdio>

#include "cli.h"
#include "module_path.h"
#include "utf16.h"

namespace cli {

using tools::module_path;
using tools::utf8;

namespace {

// The detour through void(*)() tells the compiler the type change is meant.
template <typename F> F export_of(HMODULE module, const char *name)
{
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

} // namespace

bool Library::load(std::string &error)
{
    std::wstring dll = module_path(nullptr);
    if (dll.empty()) {
        error = "cannot read the path of tarnwick-cli.exe";
        return false;
    }
    dll.replace(dll.find_last_of(L"\\/") + 1, std::wstring::npos, L"tarnwick.dll");
    // Past MAX_PATH a drive path needs the long-path prefix to be loaded.
    if (dll.size() >= MAX_PATH && dll.size() > 2 && dll[1] == L':')
        dll = L"\\\\?\\" + dll;
    module_ = LoadLibraryW(dll.c_str());
    if (module_ == nullptr) {
        error = "cannot load " + utf8(dll);
        return false;
    }
    count = export_of<tarnwick_compare_usb_device_id_mathing_fn>(module_,
                                                                 "compare_usb_device_id_mathing");
    multi = export_of<tarnwick_compare_usb_device_id_mathing_multi_fn>(
        module_, "compare_usb_device_id_mathing_multi");
    result = export_of<tarnwick_get_usb_device_matching_result_fn>(module_,
                                                                   "get_usb_device_matching_result");
    send = export_of<tarnwick_hiddirect_main_fn>(module_, "hiddirect_main");
    if (!count || !multi || !result || !send) {
        error = utf8(dll) + " lacks an export";
        return false;
    }
    return true;
}

std::string Library::path() const { return utf8(module_path(module_)); }

std::string Library::file_version() const
{
    const std::wstring file = module_path(module_);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0)
        return {};
    std::vector<char> info(size);
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoW(file.c_str(), 0, size, info.data()) ||
        !VerQueryValueW(info.data(), L"\\", reinterpret_cast<void **>(&fixed), &length) ||
        length < sizeof *fixed)
        return {};
    char text[64];
    std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu",
                  static_cast<unsigned long>(HIWORD(fixed->dwFileVersionMS)),
                  static_cast<unsigned long>(LOWORD(fixed->dwFileVersionMS)),
                  static_cast<unsigned long>(HIWORD(fixed->dwFileVersionLS)),
                  static_cast<unsigned long>(LOWORD(fixed->dwFileVersionLS)));
    return text;
}

} // namespace cli
