// What the virtual peripheral recorded, and its readers: the call log, the
// bytes each port received, handle faults, counters and the readable report.
#define VPERIPH_BUILDING
#include <cstring>

#include "state.h"

namespace vperiph {

namespace {

std::string hex_bytes(const std::vector<std::uint8_t> &bytes)
{
    std::string out;
    for (std::uint8_t b : bytes)
        out += format(out.empty() ? "%02X" : " %02X", b);
    return out;
}

// Faults made so far, and the handles and sets still held.
std::vector<std::string> fault_lines(const State &s)
{
    std::vector<std::string> lines;
    for (const std::string &f : s.faults)
        lines.push_back("fault: " + f + "\n");
    for (const auto &h : s.handles)
        if (h.second.open)
            lines.push_back(format("fault: handle %p of port %u never closed\n",
                                   reinterpret_cast<void *>(h.first), h.second.port));
    for (const auto &set : s.sets)
        if (!set.second.destroyed)
            lines.push_back(
                format("fault: set %p never destroyed\n", reinterpret_cast<void *>(set.first)));
    return lines;
}

std::string faults_text(const State &s)
{
    std::string out;
    for (const std::string &line : fault_lines(s))
        out += line;
    return out;
}

std::string report_text(State &s)
{
    std::string out = format("virtual peripheral: %u MIDI output port(s), %u USB entr%s\n",
                             static_cast<unsigned>(s.d.ports.size()),
                             static_cast<unsigned>(s.d.usb.size()),
                             s.d.usb.size() == 1 ? "y" : "ies");
    for (size_t p = 0; p < s.d.ports.size(); ++p) {
        std::string messages;
        for (const auto &m : s.received[p])
            messages += (messages.empty() ? "" : " / ") + hex_bytes(m);
        out += format("  port %u \"%s\": %s\n", static_cast<unsigned>(p),
                      utf8(s.d.ports[p].name).c_str(),
                      messages.empty() ? "nothing received" : messages.c_str());
    }
    const vp_counters &c = s.counters;
    out += format("  calls: %u (port opens %u, closes %u, sends %u; set builds %u, destroys %u)\n",
                  c.calls, c.midi_opens, c.midi_closes, c.midi_sends, c.set_builds,
                  c.set_destroys);
    const std::string faults = faults_text(s);
    out += faults.empty() ? "  handle faults: none\n" : faults;
    return out;
}

} // namespace

void write_report_at_exit()
{
    char path[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA("TARNWICK_VP_REPORT", path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return;
    std::string text;
    {
        Session session;
        text = report_text(session.s());
    }
    HANDLE out = std::strcmp(path, "-") == 0
                     ? GetStdHandle(STD_ERROR_HANDLE)
                     : CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE || out == nullptr)
        return;
    DWORD written = 0;
    WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    if (std::strcmp(path, "-") != 0)
        CloseHandle(out);
}

} // namespace vperiph

using namespace vperiph;

extern "C" {

size_t VPERIPH_CALL vp_calls(char *buffer, size_t size)
{
    Session session;
    return copy_out(session.s().log, buffer, size);
}

size_t VPERIPH_CALL vp_port_bytes(unsigned port, unsigned char *buffer, size_t size)
{
    Session session;
    std::vector<std::uint8_t> bytes;
    if (port < session.s().received.size())
        for (const auto &m : session.s().received[port])
            bytes.insert(bytes.end(), m.begin(), m.end());
    if (buffer != nullptr)
        std::memcpy(buffer, bytes.data(), bytes.size() < size ? bytes.size() : size);
    return bytes.size();
}

size_t VPERIPH_CALL vp_faults(char *buffer, size_t size)
{
    Session session;
    return copy_out(faults_text(session.s()), buffer, size);
}

void VPERIPH_CALL vp_get_counters(struct vp_counters *out)
{
    Session session;
    if (out != nullptr) {
        *out = session.s().counters;
        out->faults = static_cast<unsigned>(fault_lines(session.s()).size());
    }
}

size_t VPERIPH_CALL vp_report(char *buffer, size_t size)
{
    Session session;
    return copy_out(report_text(session.s()), buffer, size);
}

} // extern "C"
