// The control interface: attach and detach, and replacing the description.
#define VPERIPH_BUILDING
#include "state.h"

using namespace vperiph;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        InitializeCriticalSection(&g_lock);
        g_state = new State();
    } else if (reason == DLL_PROCESS_DETACH) {
        // The process is ending (or, had pinning failed, the host let go of
        // the library): report what the peripheral saw.
        write_report_at_exit();
        if (reserved == nullptr) {
            delete g_state;
            g_state = nullptr;
            DeleteCriticalSection(&g_lock);
        }
    }
    return TRUE;
}

extern "C" {

int VPERIPH_CALL vp_load(const char *description, char *error, size_t error_size)
{
    Description d;
    std::string message;
    if (description == nullptr || !vperiph::parse_description(description, d, message)) {
        copy_out(description == nullptr ? "no description" : message, error, error_size);
        return -1;
    }
    EnterCriticalSection(&g_lock);
    reset(*g_state, std::move(d), "given by vp_load");
    LeaveCriticalSection(&g_lock);
    copy_out("", error, error_size);
    return 0;
}

void VPERIPH_CALL vp_clear(void)
{
    Session session;
    State &s = session.s();
    reset(s, Description(s.d), std::string(s.source), std::string(s.problem));
}

} // extern "C"
