// What the virtual peripheral keeps for the whole process, with its one
// owner (process.cpp): the lock every call takes, the description in use,
// the call in progress, the paths read as the DLL is attached, the number of
// ports Wine's winmm was told, and the report's slot. A description loaded
// later replaces only what session.h calls Loaded; all of this outlives it.
#ifndef VPERIPH_PROCESS_H
#define VPERIPH_PROCESS_H

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <string>

namespace vperiph {

struct Loaded;

// Made when the DLL is attached, before any call can arrive.
extern CRITICAL_SECTION g_lock;
// Null until first use; replaced whole by a load.
extern std::atomic<Loaded *> g_loaded;
// The call in progress (its function and thread), for a report written
// while it runs; null between calls.
extern std::atomic<const char *> g_call;
extern std::atomic<DWORD> g_call_thread;
// Handles and sets live now, so that a thread's end costs nothing while
// there are none.
extern std::atomic<std::size_t> g_live;

// The folder of this DLL (with its separator), the host program's name
// without folder and extension, and its full path as UTF-8 for the report;
// read as the DLL is attached.
const std::wstring &this_dll_folder();
const std::wstring &program_name();
const std::string &program_path();

// Wine's winmm asks the number of ports once per process and never again,
// whatever description is loaded later: the number it was told, or -1 before
// it asked.
int winmm_ports();
// Tells `ports` if winmm was told nothing yet; returns what it was told.
int tell_winmm_ports(int ports);

// Where the report goes and the room it is written into, taken when the
// peripheral is first used (report_file.cpp): as the process ends only the
// write is left.
struct ReportSlot {
    enum class Target { none, standard_error, file, debug_output };
    bool reserved = false;
    Target target = Target::none;
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string name;     // the file, for the debug output when it cannot be written
    char *room = nullptr; // kReportRoom bytes, and one for a terminator
};
extern ReportSlot g_report;

// The value of an environment variable, however long; false when unset.
bool environment(const wchar_t *name, std::wstring &value);

} // namespace vperiph

#endif
