#include "state.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace vperiph {

CRITICAL_SECTION g_lock;
State *g_state = nullptr;
HMODULE g_module = nullptr;

namespace {

// Descriptions are written by hand; anything this large is a wrong file.
constexpr DWORD kLargestDescription = 16 << 20;

const wchar_t kDefaultDescription[] = L"vperiph.vp";

// Reads a whole file; false with the reason otherwise.
bool read_file(const std::wstring &path, std::string &text, std::string &why, bool &absent)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        absent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        why = absent ? "not found"
                  : format("cannot be opened (error %lu)", static_cast<unsigned long>(error));
        return false;
    }
    bool ok = true;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart > kLargestDescription) {
        why = "is larger than 16 MB";
        ok = false;
    } else {
        text.resize(static_cast<std::size_t>(size.QuadPart));
        DWORD got = 0;
        if (!text.empty() &&
            (!ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &got, nullptr) ||
             got != text.size())) {
            why = "cannot be read";
            ok = false;
        }
    }
    CloseHandle(file);
    return ok;
}

// A host that loads and frees tarnwick.dll again and again keeps one record
// and one report.
void pin_until_exit()
{
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&pin_until_exit), &self);
}

} // namespace

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

std::string utf8(const std::wstring &s)
{
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide strings are UTF-16");
    return utf8(std::u16string(s.begin(), s.end()));
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

void reset(State &s, Description d, std::string source, std::string problem)
{
    pin_until_exit();
    s = State{};
    s.loaded = true;
    s.d = std::move(d);
    s.source = std::move(source);
    s.problem = std::move(problem);
    s.received.resize(s.d.ports.size());
}

bool environment(const wchar_t *name, std::wstring &value)
{
    DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0)
        return false;
    value.assign(n, L'\0');
    n = GetEnvironmentVariableW(name, &value[0], n);
    value.resize(n);
    return true;
}

std::wstring beside_this_dll(const wchar_t *file_name)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(g_module, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0)
            return file_name;
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.find_last_of(L"\\/") + 1) + file_name;
}

void load_from_environment(State &s)
{
    std::wstring path;
    std::string source;
    const bool named = environment(L"TARNWICK_VP_FILE", path) && !path.empty();
    if (named) {
        source = utf8(path) + " (TARNWICK_VP_FILE)";
    } else {
        path = beside_this_dll(kDefaultDescription);
        source = utf8(path) + " (beside vperiph.dll)";
    }
    Description d;
    std::string text, problem;
    bool absent = false;
    if (!read_file(path, text, problem, absent)) {
        // A host started from Explorer has no console: the report says it too.
    } else if (!parse_description(text, d, problem)) {
        d = Description{};
    }
    if (!problem.empty() && (named || !absent))
        std::fprintf(stderr, "virtual peripheral: %s: %s\n", utf8(path).c_str(), problem.c_str());
    reset(s, std::move(d), std::move(source), std::move(problem));
}

} // namespace vperiph
