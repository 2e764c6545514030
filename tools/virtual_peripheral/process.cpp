// The process-wide state, and the DLL's life in the host's process: attach,
// the end of each thread, detach (which writes the report).
#include "process.h"

#include "module_path.h"
#include "report_file.h"
#include "session.h"
#include "text.h"

namespace vperiph {

CRITICAL_SECTION g_lock;
std::atomic<Loaded *> g_loaded{nullptr};
std::atomic<const char *> g_call{nullptr};
std::atomic<DWORD> g_call_thread{0};
std::atomic<std::size_t> g_live{0};
ReportSlot g_report;

namespace {

std::wstring g_folder, g_program;
std::string g_program_path;
// Kept apart from the record, which a new description replaces.
std::atomic<int> g_winmm_ports{-1};

// Everything the loader lock guards is asked here, where the loader holds
// it anyway: later, under this DLL's own lock, asking for it could deadlock
// with a thread ending (which holds the loader lock and waits for ours).
bool attach(HINSTANCE instance)
{
    InitializeCriticalSection(&g_lock);
    try {
        const std::wstring self = tools::module_path(instance);
        g_folder = self.substr(0, self.find_last_of(L"\\/") + 1);
        const std::wstring program = tools::module_path(nullptr);
        g_program_path = utf8(program);
        g_program = program.substr(program.find_last_of(L"\\/") + 1);
        const std::size_t dot = g_program.find_last_of(L'.');
        if (dot != std::wstring::npos && dot > 0)
            g_program.erase(dot);
        if (g_program.empty())
            g_program = L"program";
    } catch (...) {
        return false;
    }
    // A host that loads and frees tarnwick.dll again and again keeps one
    // record and one report.
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&attach), &pinned);
    return true;
}

// The thread that made a handle or set ended normally: what it still held
// was leaked.
void thread_ended(DWORD thread)
{
    if (g_live.load() == 0)
        return;
    Session session("the end of a thread", false);
    if (!session.ok())
        return;
    Change ended;
    ended.holding = Change::Holding::thread_ended;
    ended.thread = thread;
    session.change(ended);
}

} // namespace

const std::wstring &this_dll_folder() { return g_folder; }
const std::wstring &program_name() { return g_program; }
const std::string &program_path() { return g_program_path; }

int winmm_ports() { return g_winmm_ports.load(); }

int tell_winmm_ports(int ports)
{
    int expected = -1;
    g_winmm_ports.compare_exchange_strong(expected, ports);
    return g_winmm_ports.load();
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

} // namespace vperiph

using namespace vperiph;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return attach(instance);
    case DLL_THREAD_DETACH:
        thread_ended(GetCurrentThreadId());
        break;
    case DLL_PROCESS_DETACH:
        // reserved: the process is ending. Otherwise (had pinning failed) the
        // host let go of the library, and nothing may be left behind.
        write_report(reserved != nullptr);
        if (reserved == nullptr) {
            delete g_loaded.exchange(nullptr);
            DeleteCriticalSection(&g_lock);
        }
        break;
    default:
        break;
    }
    return TRUE;
}
