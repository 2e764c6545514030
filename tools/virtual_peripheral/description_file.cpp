#include "description_file.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "process.h"
#include "text.h"

namespace vperiph {

namespace {

// Descriptions are written by hand; anything this large is a wrong file.
constexpr DWORD kLargestDescription = 16 << 20;

const wchar_t kDefaultDescription[] = L"vperiph.vp";

// What the path names, asked without opening it: a pipe or a device is never
// opened, since what it holds comes when a writer decides, or never.
enum class Kind { file, folder, special, unknown };

Kind kind_of(const std::wstring &path)
{
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes))
        return (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Kind::folder
                                                                           : Kind::file;
    // Wine answers so for a FIFO or a device; Windows for a pipe's or a
    // device's name.
    return GetLastError() == ERROR_INVALID_PARAMETER ? Kind::special : Kind::unknown;
}

const char kSpecial[] = "is a pipe or a device, not a file";

// Reads to the end, whatever size the file says it has (a /proc file says 0),
// and refuses it once it holds more than the largest description.
bool read_to_end(HANDLE file, std::string &bytes, std::string &why)
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        why = format("cannot be read (error %lu)", static_cast<unsigned long>(GetLastError()));
        return false;
    }
    if (size.QuadPart > kLargestDescription) {
        why = "is larger than 16 MB";
        return false;
    }
    constexpr std::size_t kChunk = 64 << 10;
    bytes.clear();
    for (;;) {
        const std::size_t had = bytes.size();
        const std::size_t wanted =
            std::max(had + kChunk, static_cast<std::size_t>(size.QuadPart) + 1);
        bytes.resize(std::min<std::size_t>(wanted, kLargestDescription + 1));
        DWORD got = 0;
        if (!ReadFile(file, &bytes[had], static_cast<DWORD>(bytes.size() - had), &got, nullptr)) {
            why = "cannot be read";
            return false;
        }
        bytes.resize(had + got);
        if (bytes.size() > kLargestDescription) {
            why = "is larger than 16 MB";
            return false;
        }
        if (got == 0)
            return true;
    }
}

bool read_bytes(const std::wstring &path, std::string &bytes, std::string &why, bool &absent)
{
    absent = false;
    const Kind kind = kind_of(path);
    if (kind == Kind::folder || kind == Kind::special) {
        why = kind == Kind::folder ? "is a folder, not a file" : kSpecial;
        return false;
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        absent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        why = absent ? "not found"
                     : format("cannot be opened (error %lu)", static_cast<unsigned long>(error));
        return false;
    }
    // Whatever the name said (a console, a pipe's name on Windows): only a
    // file on a disk is read.
    bool ok = GetFileType(file) == FILE_TYPE_DISK;
    if (!ok)
        why = kSpecial;
    else
        ok = read_to_end(file, bytes, why);
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
