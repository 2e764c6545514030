// Where the report goes. Each process that uses the peripheral gets a file
// of its own beside vperiph.dll, named after its program and numbered, so
// that no later run (another program, or the same one again) replaces what
// an earlier one saw; the oldest of a program's reports go once it has more
// than kKeptReports. Everything that may fail or allocate happens when the
// peripheral is first used; as the process ends only the write is left.
#include "report_file.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "report.h"
#include "text.h"

namespace vperiph {

namespace {

constexpr unsigned kKeptReports = 20;
const wchar_t kPrefix[] = L"vperiph-report-";

using Target = ReportSlot::Target;

// The number N of "vperiph-report-PROGRAM-N.txt", or 0. Names compare as
// the file system does: "host" and "HOST" are one program.
unsigned number_of(const std::wstring &file, const std::wstring &stem)
{
    const auto same = [&](std::size_t at, const wchar_t *text, std::size_t n) {
        return CompareStringOrdinal(file.c_str() + at, static_cast<int>(n), text,
                                    static_cast<int>(n), TRUE) == CSTR_EQUAL;
    };
    if (file.size() <= stem.size() + 4 || !same(0, stem.c_str(), stem.size()) ||
        !same(file.size() - 4, L".txt", 4))
        return 0;
    unsigned n = 0;
    for (std::size_t i = stem.size(); i < file.size() - 4; ++i) {
        if (file[i] < L'0' || file[i] > L'9' || n > 100000000)
            return 0;
        n = n * 10 + static_cast<unsigned>(file[i] - L'0');
    }
    return n;
}

struct Existing {
    unsigned number;
    std::wstring name; // as the folder spells it
};

// The program's reports in the folder.
std::vector<Existing> existing(const std::wstring &folder, const std::wstring &stem)
{
    std::vector<Existing> reports;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + stem + L"*.txt").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return reports;
    do {
        if (const unsigned n = number_of(found.cFileName, stem))
            reports.push_back({n, found.cFileName});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return reports;
}

// Creates the next numbered report of this program and lets its oldest go.
// Not shared for deleting: another run's pruning leaves a live one alone.
HANDLE create_numbered(std::wstring &path)
{
    const std::wstring folder = this_dll_folder();
    const std::wstring stem = kPrefix + program_name() + L"-";
    const std::vector<Existing> reports = existing(folder, stem);
    unsigned next = 1;
    for (const Existing &r : reports)
        next = r.number >= next ? r.number + 1 : next;
    HANDLE file = INVALID_HANDLE_VALUE;
    // Two runs starting at once may pick one number: the later takes the next.
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt, ++next) {
        path = folder + stem + std::to_wstring(next) + L".txt";
        file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (file == INVALID_HANDLE_VALUE)
        return file;
    const unsigned mine = next - 1;
    for (const Existing &r : reports)
        if (r.number + kKeptReports <= mine)
            DeleteFileW((folder + r.name).c_str());
    return file;
}

bool write_all(HANDLE out, const char *data, std::size_t size)
{
    DWORD written = 0;
    return out != nullptr && out != INVALID_HANDLE_VALUE &&
           WriteFile(out, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

} // namespace

void reserve_report()
{
    if (g_report.reserved)
        return;
    g_report.reserved = true;
    try {
        std::wstring path;
        const bool named = environment(L"TARNWICK_VP_REPORT", path) && !path.empty();
        if (named && path == L"none")
            return;
        g_report.room = new char[kReportRoom + 1];
        if (named && path == L"-") {
            g_report.target = Target::standard_error;
            return;
        }
        g_report.file = named ? CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)
                              : create_numbered(path);
        g_report.name = utf8(path);
        g_report.target = g_report.file == INVALID_HANDLE_VALUE ? Target::debug_output : Target::file;
        if (g_report.target == Target::debug_output)
            std::fprintf(stderr,
                         "virtual peripheral: cannot make the report %s (error %lu); it will go "
                         "to the debug output\n",
                         g_report.name.c_str(), static_cast<unsigned long>(GetLastError()));
        // What a reader finds while the process runs, or after it was killed.
        const std::string waiting =
            "virtual peripheral report of " + program_path() + " (process " +
            std::to_string(GetCurrentProcessId()) +
            "): not written yet; the process is still running, or it ended without its report "
            "(killed, or crashed)\n";
        write_all(g_report.file, waiting.data(), waiting.size());
    } catch (...) {
        // No report rather than a host taken down.
        g_report.target = Target::none;
    }
}

void write_report(bool process_ending)
{
    const Loaded *loaded = g_loaded.load();
    if (g_report.target == Target::none || g_report.room == nullptr)
        return;
    // As the process ends the other threads are gone, and one may have held
    // the lock: waiting for it would end the process (Windows) or never end.
    bool locked = TryEnterCriticalSection(&g_lock) != FALSE;
    if (!locked && !process_ending) {
        EnterCriticalSection(&g_lock);
        locked = true;
    }
    const Moment at{process_ending, GetCurrentThreadId(), locked ? nullptr : g_call.load(),
                    g_call_thread.load()};
    static const char kCut[] = "\n(the report was cut here)\n";
    FixedText text(g_report.room, kReportRoom - sizeof kCut);
    if (loaded != nullptr)
        render_report(text, *loaded, loaded->records[loaded->published.load()], at);
    else
        render_unread(text, at);
    if (locked)
        LeaveCriticalSection(&g_lock);
    std::size_t size = text.size();
    if (text.cut()) {
        std::memcpy(g_report.room + size, kCut, sizeof kCut - 1);
        size += sizeof kCut - 1;
    }
    bool wrote = false;
    if (g_report.target == Target::standard_error) {
        wrote = write_all(GetStdHandle(STD_ERROR_HANDLE), g_report.room, size);
    } else if (g_report.target == Target::file) {
        wrote = SetFilePointer(g_report.file, 0, nullptr, FILE_BEGIN) == 0 &&
                write_all(g_report.file, g_report.room, size) &&
                SetEndOfFile(g_report.file);
        CloseHandle(g_report.file);
        g_report.file = INVALID_HANDLE_VALUE;
    }
    // A folder the host may not write to still leaves the report in reach
    // of a debug-output viewer.
    if (!wrote && g_report.target != Target::standard_error) {
        OutputDebugStringA("virtual peripheral: cannot write its report to ");
        OutputDebugStringA(g_report.name.c_str());
        OutputDebugStringA("\n");
        g_report.room[size] = '\0';
        OutputDebugStringA(g_report.room);
    }
    g_report.target = Target::none;
}

} // namespace vperiph
