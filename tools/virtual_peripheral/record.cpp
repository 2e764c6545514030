// What the virtual peripheral recorded, and its readers: the call log, the
// bytes each port received, handle faults, counters and the readable report.
#define VPERIPH_BUILDING
#include <cstring>

#include "state.h"

namespace vperiph {

namespace {

// A long run's report shows the end of each port's traffic, not all of it.
constexpr std::size_t kReportedMessages = 25;

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
    for (const std::string &f : s.faults.items())
        lines.push_back("fault: " + f + "\n");
    if (s.faults.dropped() > 0)
        lines.push_back(format("fault: %u later fault(s) not kept\n", s.faults.dropped()));
    for (const auto &h : s.handles)
        lines.push_back(format("fault: handle %p of port %u never closed\n",
                               reinterpret_cast<void *>(h.first), h.second));
    for (const auto &set : s.sets)
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

std::string received_text(const PortRecord &port)
{
    const auto &kept = port.items();
    if (kept.empty())
        return "nothing received";
    std::string out;
    const std::size_t from = kept.size() > kReportedMessages ? kept.size() - kReportedMessages : 0;
    for (std::size_t m = from; m < kept.size(); ++m)
        out += (out.empty() ? "" : " / ") + hex_bytes(kept[m]);
    if (port.total() > kept.size() - from)
        out = format("%u messages, the latest %u: ", port.total(),
                     static_cast<unsigned>(kept.size() - from)) + out;
    return out;
}

std::string report_text(const State &s)
{
    std::string out = format("virtual peripheral: %u MIDI output port(s), %u USB entr%s\n",
                             static_cast<unsigned>(s.d.ports.size()),
                             static_cast<unsigned>(s.d.usb.size()),
                             s.d.usb.size() == 1 ? "y" : "ies");
    out += "  description: " + s.source;
    out += s.problem.empty() ? "\n"
                             : ": " + s.problem + "; no ports and no USB entries are presented\n";
    for (size_t p = 0; p < s.d.ports.size(); ++p)
        out += format("  port %u \"%s\": ", static_cast<unsigned>(p),
                      utf8(s.d.ports[p].name).c_str()) + received_text(s.received[p]) + "\n";
    const vp_counters &c = s.counters;
    out += format("  calls: %u (port opens %u, closes %u, sends %u; set builds %u, destroys %u)\n",
                  c.calls, c.midi_opens, c.midi_closes, c.midi_sends, c.set_builds,
                  c.set_destroys);
    if (s.log.dropped() > 0)
        out += format("  call log: the latest %u of %u calls kept\n",
                      static_cast<unsigned>(s.log.items().size()), c.calls);
    const std::string faults = faults_text(s);
    out += faults.empty() ? "  handle faults: none\n" : faults;
    return out;
}

} // namespace

void write_report_at_exit()
{
    std::wstring path;
    if (!environment(L"TARNWICK_VP_REPORT", path) || path.empty())
        path = beside_this_dll(L"vperiph-report.txt");
    if (path == L"none")
        return;
    std::string text;
    {
        Session session;
        text = report_text(session.s());
    }
    const bool to_stderr = path == L"-";
    HANDLE out = to_stderr ? GetStdHandle(STD_ERROR_HANDLE)
                           : CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const bool wrote = out != INVALID_HANDLE_VALUE && out != nullptr &&
                       WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written,
                                 nullptr) &&
                       written == text.size();
    if (!to_stderr && out != INVALID_HANDLE_VALUE)
        CloseHandle(out);
    // A folder the host may not write to still leaves the report in reach of
    // a debug-output viewer.
    if (!wrote && !to_stderr)
        OutputDebugStringA(("virtual peripheral: cannot write " + utf8(path) + "\n" + text).c_str());
}

} // namespace vperiph

using namespace vperiph;

extern "C" {

size_t VPERIPH_CALL vp_calls(char *buffer, size_t size)
{
    Session session;
    const State &s = session.s();
    std::string text;
    if (s.log.dropped() > 0)
        text = format("(%u earlier calls not kept)\n", s.log.dropped());
    for (const std::string &line : s.log.items())
        text += line + "\n";
    return copy_out(text, buffer, size);
}

size_t VPERIPH_CALL vp_port_bytes(unsigned port, unsigned char *buffer, size_t size)
{
    Session session;
    std::vector<std::uint8_t> bytes;
    if (port < session.s().received.size())
        for (const auto &m : session.s().received[port].items())
            bytes.insert(bytes.end(), m.begin(), m.end());
    if (buffer != nullptr)
        std::memcpy(buffer, bytes.data(), bytes.size() < size ? bytes.size() : size);
    return bytes.size();
}

unsigned VPERIPH_CALL vp_port_messages(unsigned port, unsigned *kept)
{
    Session session;
    const bool known = port < session.s().received.size();
    const PortRecord none{};
    const PortRecord &record = known ? session.s().received[port] : none;
    if (kept != nullptr)
        *kept = static_cast<unsigned>(record.items().size());
    return record.total();
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
        const State &s = session.s();
        *out = s.counters;
        out->faults = static_cast<unsigned>(s.faults.items().size() + s.faults.dropped() +
                                            s.handles.size() + s.sets.size());
    }
}

size_t VPERIPH_CALL vp_report(char *buffer, size_t size)
{
    Session session;
    return copy_out(report_text(session.s()), buffer, size);
}

} // extern "C"
