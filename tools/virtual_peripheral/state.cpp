#include "state.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "text.h"

namespace vperiph {

CRITICAL_SECTION g_lock;
HMODULE g_module = nullptr;
std::atomic<Loaded *> g_loaded{nullptr};
std::atomic<const char *> g_call{nullptr};
std::atomic<DWORD> g_call_thread{0};

namespace {

// Descriptions are written by hand; anything this large is a wrong file.
constexpr DWORD kLargestDescription = 16 << 20;

const wchar_t kDefaultDescription[] = L"vperiph.vp";

// Handles and sets live now, so that a thread's end costs nothing while
// there are none.
std::atomic<std::size_t> g_live{0};

} // namespace

std::string utf8(const std::wstring &s)
{
    std::string out;
    append_utf8_of(out, s.data(), s.size());
    return out;
}

void format_line(Line &line, const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(line.text, sizeof line.text, fmt, args);
    va_end(args);
}

std::string format(const char *fmt, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
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

Record::Record(std::size_t ports)
    : received(ports, Ring<Message, Keep::latest>(VP_KEPT_MESSAGES)), faults(VP_KEPT_FAULTS),
      handles(kMostOpenPorts), sets(kMostOpenSets)
{
}

Loaded::Loaded(Description description, std::string from, std::string why)
    : d(std::move(description)), source(std::move(from)), problem(std::move(why)),
      records{Record(d.ports.size()), Record(d.ports.size())}, log(VP_KEPT_CALLS)
{
}

void install(std::unique_ptr<Loaded> next)
{
    // Handle values go on where they were: one handed out before is never
    // handed out again while a caller may still hold it.
    if (const Loaded *before = g_loaded.load()) {
        const Record &was = before->records[before->published.load()];
        for (Record &r : next->records) {
            r.port_handles.issued = was.port_handles.issued;
            r.set_handles.issued = was.set_handles.issued;
        }
    }
    delete g_loaded.exchange(next.release());
}

bool read_description_file(const std::wstring &path, std::string &bytes, std::string &why,
                           bool &absent)
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

std::unique_ptr<Loaded> load_from_environment()
{
    std::wstring path;
    std::string source;
    const bool named = environment(L"TARNWICK_VP_FILE", path) && !path.empty();
    if (named) {
        source = utf8(path) + " (TARNWICK_VP_FILE)";
    } else {
        path = this_dll_folder() + kDefaultDescription;
        source = utf8(path) + " (beside vperiph.dll)";
    }
    Description d;
    std::string bytes, problem;
    bool absent = false;
    if (!read_description_file(path, bytes, problem, absent)) {
        // A host started from Explorer has no console: the report says it too.
    } else if (!parse_description(bytes, d, problem)) {
        d = Description{};
    }
    if (!problem.empty() && (named || !absent))
        std::fprintf(stderr, "virtual peripheral: %s: %s\n",
                     utf8(path).c_str(), problem.c_str());
    return std::make_unique<Loaded>(std::move(d), std::move(source), std::move(problem));
}

Session::Session(const char *function, bool load)
{
    EnterCriticalSection(&g_lock);
    g_call_thread.store(GetCurrentThreadId());
    g_call.store(function);
    loaded_ = g_loaded.load();
    if (loaded_ == nullptr && load) {
        reserve_report();
        try {
            install(load_from_environment());
        } catch (...) {
            // Too little memory even to read the description: present
            // nothing, and say why.
            try {
                install(std::make_unique<Loaded>(Description{}, "the description",
                                                 "there was not enough memory to read it"));
            } catch (...) {
            }
        }
        loaded_ = g_loaded.load();
    }
}

Session::~Session()
{
    const Loaded *now = g_loaded.load();
    if (now != nullptr) {
        const Record &r = now->records[now->published.load()];
        g_live.store(r.handles.items().size() + r.sets.items().size());
    }
    g_call.store(nullptr);
    LeaveCriticalSection(&g_lock);
}

void Session::log(const char *fmt, ...)
{
    Line line;
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(line.text, sizeof line.text, fmt, args);
    va_end(args);
    loaded_->log.add(line);
}

void add_fault(Record &r, const char *fmt, ...)
{
    Line line;
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(line.text, sizeof line.text, fmt, args);
    va_end(args);
    r.faults.add(line);
}

void thread_ended(DWORD thread)
{
    if (g_live.load() == 0)
        return;
    Session session("the end of a thread", false);
    if (session.ok())
        session.change([thread](Record &r) {
            r.handles.thread_ended(thread);
            r.sets.thread_ended(thread);
            return 0;
        });
}

} // namespace vperiph
