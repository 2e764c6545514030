// The control interface: attach and detach, and replacing the description.
#define VPERIPH_BUILDING
#include "state.h"

#include "module_path.h"
#include "text.h"

namespace vperiph {

namespace {

std::wstring g_folder, g_program;
std::string g_program_path;

// Everything the loader lock guards is asked here, where the loader holds
// it anyway: later, under this DLL's own lock, asking for it could deadlock
// with a thread ending (which holds the loader lock and waits for ours).
bool attach(HINSTANCE instance)
{
    g_module = instance;
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

} // namespace

const std::wstring &this_dll_folder() { return g_folder; }
const std::wstring &program_name() { return g_program; }
const std::string &program_path() { return g_program_path; }

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

extern "C" {

int VPERIPH_CALL vp_load(const char *description, char *error, size_t error_size)
{
    try {
        Description d;
        std::string message;
        if (description == nullptr || !vperiph::parse_description(description, d, message)) {
            copy_out(description == nullptr ? "no description" : message, error, error_size);
            return -1;
        }
        auto next = std::make_unique<Loaded>(std::move(d), "given by vp_load", std::string());
        Session session("vp_load", false);
        reserve_report();
        session.replace(std::move(next));
        copy_out("", error, error_size);
        return 0;
    } catch (...) {
        copy_out("not enough memory for this description", error, error_size);
        return -1;
    }
}

void VPERIPH_CALL vp_clear(void)
{
    try {
        Session session("vp_clear");
        if (session.ok())
            session.replace(std::make_unique<Loaded>(
                Description(session.d()), session.loaded().source, session.loaded().problem));
    } catch (...) {
        // The record stays as it was.
    }
}

} // extern "C"
