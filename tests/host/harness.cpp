#include "harness.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

extern "C" int tw_call_cdecl(const void *fn, const std::uintptr_t *args, int count,
                             long *stack_delta);

#if defined(__i386__)
// Pushes the arguments, calls, and reports how far the callee moved the
// stack pointer beyond what a cdecl caller pops: a stdcall export shows 4*n.
__asm__(".text\n"
        ".globl _tw_call_cdecl\n"
        "_tw_call_cdecl:\n"
        "  pushl %ebp\n"
        "  movl %esp, %ebp\n"
        "  pushl %ebx\n"
        "  pushl %esi\n"
        "  pushl %edi\n"
        "  movl 12(%ebp), %esi\n"
        "  movl 16(%ebp), %ecx\n"
        "  movl %esp, %ebx\n"
        "1:\n"
        "  testl %ecx, %ecx\n"
        "  jz 2f\n"
        "  decl %ecx\n"
        "  pushl (%esi,%ecx,4)\n"
        "  jmp 1b\n"
        "2:\n"
        "  call *8(%ebp)\n"
        "  movl 16(%ebp), %ecx\n"
        "  leal (%esp,%ecx,4), %edx\n"
        "  subl %ebx, %edx\n"
        "  movl 20(%ebp), %ecx\n"
        "  movl %edx, (%ecx)\n"
        "  movl %ebx, %esp\n"
        "  popl %edi\n"
        "  popl %esi\n"
        "  popl %ebx\n"
        "  popl %ebp\n"
        "  ret\n");
#else
// One calling convention on x86-64: nothing to check beyond the call itself.
extern "C" int tw_call_cdecl(const void *fn, const std::uintptr_t *a, int count, long *delta)
{
    *delta = 0;
    using F1 = int (*)(std::uintptr_t);
    using F2 = int (*)(std::uintptr_t, std::uintptr_t);
    using F5 = int (*)(std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t,
                       std::uintptr_t);
    switch (count) {
    case 1: return reinterpret_cast<F1>(fn)(a[0]);
    case 2: return reinterpret_cast<F2>(fn)(a[0], a[1]);
    default: return reinterpret_cast<F5>(fn)(a[0], a[1], a[2], a[3], a[4]);
    }
}
#endif

namespace host {

namespace {

std::string this_program()
{
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n < path.size())
            return path.substr(0, n);
        path.resize(path.size() * 2);
    }
}

HMODULE library()
{
    static HMODULE dll = [] {
        std::string dir = this_program();
        dir = dir.substr(0, dir.find_last_of("\\/") + 1);
        HMODULE h = LoadLibraryA((dir + "tarnwick.dll").c_str());
        if (h == nullptr)
            throw std::runtime_error("cannot load tarnwick.dll beside the test program");
        return h;
    }();
    return dll;
}

template <typename F> std::string text_of(F f)
{
    std::string s(f(nullptr, 0), '\0');
    f(&s[0], s.size() + 1);
    return s;
}

} // namespace

Call call_export(const char *name, const std::vector<std::uintptr_t> &args, bool capture_stdout)
{
    FARPROC fn = GetProcAddress(library(), name);
    if (fn == nullptr)
        throw std::runtime_error(std::string("tarnwick.dll does not export ") + name);

    Call call{};
    const auto invoke = [&] {
        call.result = tw_call_cdecl(reinterpret_cast<const void *>(fn), args.data(),
                                    static_cast<int>(args.size()), &call.stack_delta);
    };
    if (!capture_stdout) {
        invoke();
        return call;
    }
    HANDLE read_end = nullptr, write_end = nullptr;
    CreatePipe(&read_end, &write_end, nullptr, 1 << 16);
    HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, write_end);
    invoke();
    SetStdHandle(STD_OUTPUT_HANDLE, saved);
    CloseHandle(write_end);
    call.stdout_bytes = read_pipe(read_end);
    CloseHandle(read_end);
    return call;
}

Call hiddirect(const void *key, int value, int status_and_channel, int number_check, int number)
{
    return call_export("hiddirect_main",
                       {reinterpret_cast<std::uintptr_t>(key), static_cast<std::uintptr_t>(value),
                        static_cast<std::uintptr_t>(status_and_channel),
                        static_cast<std::uintptr_t>(number_check),
                        static_cast<std::uintptr_t>(number)});
}

Call count(int vid, int pid)
{
    return call_export("compare_usb_device_id_mathing",
                       {static_cast<std::uintptr_t>(vid), static_cast<std::uintptr_t>(pid)});
}

Call multi(int vid, int pid)
{
    return call_export("compare_usb_device_id_mathing_multi",
                       {static_cast<std::uintptr_t>(vid), static_cast<std::uintptr_t>(pid)});
}

Call table(int index)
{
    return call_export("get_usb_device_matching_result", {static_cast<std::uintptr_t>(index)});
}

void load(const std::string &description)
{
    char error[256];
    if (vp_load(description.c_str(), error, sizeof error) != 0)
        throw std::runtime_error(std::string("bad description: ") + error);
}

void register_entries(const std::string &description)
{
    char error[1024];
    if (vp_register(description.c_str(), error, sizeof error) < 0)
        throw std::runtime_error(std::string("cannot register: ") + error);
}

void unregister()
{
    char error[1024];
    if (vp_unregister(error, sizeof error) < 0)
        throw std::runtime_error(std::string("cannot unregister: ") + error);
}

std::vector<std::uint8_t> port_bytes(unsigned port)
{
    std::vector<std::uint8_t> out(vp_port_bytes(port, nullptr, 0));
    vp_port_bytes(port, out.data(), out.size());
    return out;
}

std::string calls() { return text_of(vp_calls); }
std::string faults() { return text_of(vp_faults); }
std::string report() { return text_of(vp_report); }

vp_counters counters()
{
    vp_counters c{};
    vp_get_counters(&c);
    return c;
}

std::vector<std::string> sends()
{
    std::vector<std::string> out;
    std::istringstream log(calls());
    std::string line;
    while (std::getline(log, line)) {
        // The stand-in's call, or the driver's message from Wine's winmm.
        if (line.rfind("midiOutShortMsg(", 0) != 0 && line.rfind("MODM_DATA(", 0) != 0)
            continue;
        const auto port = line.find("port=") + 5;
        const auto word = line.find("word=") + 5;
        out.push_back(line.substr(port, line.find(',', port) - port) + ":" +
                      line.substr(word, 10));
    }
    return out;
}

unsigned count_lines(const std::string &log, const std::string &prefix)
{
    unsigned n = 0;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line))
        n += line.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
}

std::string read_pipe(void *read_end)
{
    std::string out;
    char chunk[512];
    DWORD got = 0;
    while (ReadFile(read_end, chunk, sizeof chunk, &got, nullptr) && got > 0)
        out.append(chunk, got);
    return out;
}

std::vector<std::uint8_t> bytes(std::initializer_list<int> list)
{
    std::vector<std::uint8_t> out;
    for (int b : list)
        out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

std::vector<std::uint8_t> sequence_bytes(int status_and_channel, int key, int velocity)
{
    const int n = status_and_channel & 0x0F;
    return bytes({0xFF, 0x90 | n, key, velocity, 0x80 | n, key, velocity,
                  status_and_channel & 0xFF, key, velocity, 0xFF});
}

namespace {

struct WineStart {
    int ports = -1;
    std::string log;
};

const WineStart &wine_start()
{
    static const WineStart start = [] {
        WineStart w;
        w.ports = vp_driver_ports();
        if (w.ports >= 0)
            return w;
        const unsigned ports = std::getenv(kNoPortsSetting) != nullptr ? 0 : kWinePorts;
        std::string description;
        for (unsigned p = 0; p < ports; ++p)
            description += "port \"Wine port " + std::to_string(p) + "\"\n";
        load(description);
        using Count = UINT(WINAPI *)();
        const auto count = reinterpret_cast<Count>(reinterpret_cast<void (*)()>(
            GetProcAddress(LoadLibraryA("winmm.dll"), "midiOutGetNumDevs")));
        if (count != nullptr)
            count();
        w.ports = vp_driver_ports();
        w.log = calls();
        if (w.ports < 0)
            std::printf("note: %s (its midiOutGetNumDevs never asked the driver for its ports; "
                        "where winevp.drv refused this Wine, its line on standard error says why): "
                        "the cases that need the driver are skipped\n",
                        kDriverNotTaken);
        return w;
    }();
    return start;
}

} // namespace

int wine_winmm_ports() { return wine_start().ports; }
std::string wine_winmm_start() { return wine_start().log; }

unsigned port_count(const std::string &description)
{
    return count_lines(description, "port ");
}

ProcessRun run_process(const std::string &command)
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE out_r = nullptr, out_w = nullptr, err_r = nullptr, err_w = nullptr;
    CreatePipe(&out_r, &out_w, &sa, 1 << 16);
    CreatePipe(&err_r, &err_w, &sa, 1 << 16);
    SetHandleInformation(out_r, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(err_r, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out_w;
    si.hStdError = err_w;
    std::wstring wide(command.size() + 1, L'\0');
    wide.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, command.c_str(), static_cast<int>(command.size()),
                            &wide[0], static_cast<int>(wide.size()))));
    PROCESS_INFORMATION pi{};
    DWORD error = 0;
    bool started = false;
    // Under load Wine sometimes loses a child before it runs a single
    // instruction of its own (ERROR_INTERNAL_ERROR): nothing of it ran, so
    // starting it again hides nothing.
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        started = CreateProcessW(nullptr, &wide[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                 &si, &pi) != FALSE;
        error = started ? 0 : GetLastError();
        if (error != ERROR_INTERNAL_ERROR)
            break;
        std::fprintf(stderr, "note: Wine lost a child before it started; starting it again\n");
    }
    CloseHandle(out_w);
    CloseHandle(err_w);
    // Programs print in text mode; lines compare as "\n".
    const auto lines = [](std::string text) {
        for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;)
            text.erase(at, 1);
        return text;
    };
    ProcessRun run{kNotStarted, lines(read_pipe(out_r)), lines(read_pipe(err_r))};
    CloseHandle(out_r);
    CloseHandle(err_r);
    if (started) {
        DWORD exit = 0;
        WaitForSingleObject(pi.hProcess, INFINITE);
        GetExitCodeProcess(pi.hProcess, &exit);
        run.exit = exit;
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    } else {
        run.err += "cannot start " + command + ": error " + std::to_string(error);
    }
    return run;
}

ProcessRun run_child_test(const std::string &full_name, const char *setting)
{
    SetEnvironmentVariableA(setting, "1");
    ProcessRun run = run_process("\"" + this_program() + "\" --gtest_filter=" + full_name);
    SetEnvironmentVariableA(setting, nullptr);
    run.out += run.err;
    return run;
}

} // namespace host
