// The control interface: attach and detach, and replacing the description.
#define VPERIPH_BUILDING
#include "state.h"

using namespace vperiph;

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&g_lock);
        g_state = new State();
    } else if (reason == DLL_PROCESS_DETACH && reserved != nullptr) {
        // The process is ending: report what the peripheral saw.
        write_report_at_exit();
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
    reset(*g_state, std::move(d));
    LeaveCriticalSection(&g_lock);
    copy_out("", error, error_size);
    return 0;
}

void VPERIPH_CALL vp_clear(void)
{
    Session session;
    Description d = session.s().d;
    reset(session.s(), std::move(d));
}

} // extern "C"
