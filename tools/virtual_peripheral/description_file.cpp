#include "description_file.h"

#include <windows.h>

#include <cstdio>

#include "process.h"
#include "text.h"

namespace vperiph {

namespace {

// Descriptions are written by hand; anything this large is a wrong file.
constexpr DWORD kLargestDescription = 16 << 20;

const wchar_t kDefaultDescription[] = L"vperiph.vp";

bool read_bytes(const std::wstring &path, std::string &bytes, std::string &why, bool &absent)
{
    absent = false;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        absent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        why = absent ? "not found"
                     : format("cannot be opened (error %lu)", static_cast<unsigned long>(error));
        return false;
    }
    bool ok = true;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        why = format("cannot be read (error %lu)", static_cast<unsigned long>(GetLastError()));
        ok = false;
    } else if (size.QuadPart > kLargestDescription) {
        why = "is larger than 16 MB";
        ok = false;
    } else {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
        DWORD got = 0;
        if (!bytes.empty() &&
            (!ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr) ||
             got != bytes.size())) {
            why = "cannot be read";
            ok = false;
        }
    }
    CloseHandle(file);
    return ok;
}

} // namespace

bool read_description_file(const std::wstring &path, Description &d, std::string &why,
                           bool &absent)
{
    std::string bytes;
    return read_bytes(path, bytes, why, absent) && parse_description(bytes, d, why);
}

Described describe_from_environment()
{
    Described out;
    std::wstring path;
    const bool named = environment(L"TARNWICK_VP_FILE", path) && !path.empty();
    if (named) {
        out.source = utf8(path) + " (TARNWICK_VP_FILE)";
    } else {
        path = this_dll_folder() + kDefaultDescription;
        out.source = utf8(path) + " (beside vperiph.dll)";
    }
    bool absent = false;
    if (!read_description_file(path, out.d, out.problem, absent))
        out.d = Description{};
    // A host started from Explorer has no console: the report says it too.
    if (!out.problem.empty() && (named || !absent))
        std::fprintf(stderr, "virtual peripheral: %s: %s\n", utf8(path).c_str(),
                     out.problem.c_str());
    return out;
}

} // namespace vperiph
