// count, scan and devices: the presence queries through the DLL, and the USB
// entries as the library's own walk sees them.
#include <cstdio>

#include <nlohmann/json.hpp>

#include "args.h"
#include "cli.h"
#include "usb_entries.h"

namespace cli {

namespace {

// 0, or the exit status for bad arguments.
int read_vid_pid(const Options &o, std::uint32_t &vid, std::uint32_t &pid)
{
    std::string error;
    if (o.args.size() != 2)
        return bad(o, o.command + " takes VID PID");
    if (!hex_arg(o.args[0], "VID", 0xFFFF, vid, error) ||
        !hex_arg(o.args[1], "PID", 0xFFFF, pid, error))
        return bad(o, error);
    return 0;
}

// The library counts 0 both for no such entry and for a device list that
// cannot be obtained; the tool can tell them apart, with one walk of its own.
bool list_obtained()
{
    return tarnwick::walk_usb_entries([](const tarnwick::UsbEntry &, void *) {}, nullptr);
}

} // namespace

int run_count(const Options &o, Library &lib)
{
    std::uint32_t vid = 0, pid = 0;
    if (const int status = read_vid_pid(o, vid, pid))
        return status;
    std::string error;
    if (!lib.load(error))
        return failed(o, error);
    const int n = lib.count(static_cast<int>(vid), static_cast<int>(pid));
    if (n == 0 && !list_obtained())
        return failed(o, "the USB device list cannot be obtained");
    if (o.json)
        print_json({{"command", "count"}, {"vid", vid}, {"pid", pid}, {"entries", n}});
    else
        std::printf("VID %s PID %s: %d entr%s\n", hex4(vid).c_str(), hex4(pid).c_str(), n,
                    n == 1 ? "y" : "ies");
    return 0;
}

// The table lives in the library's process: the multi query and every read
// of its entries happen in this one run.
int run_scan(const Options &o, Library &lib)
{
    std::uint32_t vid = 0, pid = 0, entry = 0;
    if (const int status = read_vid_pid(o, vid, pid))
        return status;
    std::string error;
    if (o.entry_given && !hex_arg(o.entry, "--entry", 0xFF, entry, error))
        return bad(o, error);
    if (!lib.load(error))
        return failed(o, error);
    const int found = lib.multi(static_cast<int>(vid), static_cast<int>(pid));
    if (found == 0 && !list_obtained())
        return failed(o, "the USB device list cannot be obtained");
    const std::uint32_t base = vid & 0xFFF0;
    Json out = {{"command", "scan"}, {"vid_base", base}, {"pid", pid}, {"found", found}};
    if (o.entry_given) {
        const int n = lib.result(static_cast<int>(entry));
        // Indexes 10-FF name no slot of the table; the library reads them as 0.
        const bool slot = entry < 16;
        out["entry"] = {{"index", entry}, {"vid", slot ? Json(base + entry) : Json()}, {"entries", n}};
        if (o.json)
            print_json(out);
        else
            std::printf("found: %d of 16\nentry %X (%s%s): %d\n", found, entry,
                        slot ? "VID " : "no slot", slot ? hex4(base + entry).c_str() : "", n);
        return 0;
    }
    int slots[16];
    for (int s = 0; s < 16; ++s)
        slots[s] = lib.result(s);
    if (o.json) {
        out["slots"] = Json::array();
        for (std::uint32_t s = 0; s < 16; ++s)
            out["slots"].push_back({{"vid", base + s}, {"entries", slots[s]}});
        print_json(out);
    } else {
        std::printf("slot  VID   PID   entries\n");
        for (std::uint32_t s = 0; s < 16; ++s)
            std::printf("%4X  %s  %s  %d\n", s, hex4(base + s).c_str(), hex4(pid).c_str(),
                        slots[s]);
        std::printf("found: %d of 16\n", found);
    }
    return 0;
}

namespace {

const char *shape_text(const tarnwick::UsbEntry &e)
{
    using tarnwick::HardwareIdShape;
    if (!e.property_read)
        return "hardware ID cannot be read";
    switch (e.shape) {
    case HardwareIdShape::ids_found: return "ok";
    case HardwareIdShape::no_v: return "no \"V\" in the first string";
    case HardwareIdShape::no_vid_prefix: return "the first \"V\" does not start \"VID_\"";
    case HardwareIdShape::no_pid_prefix: return "no \"&PID_\" after the four VID characters";
    case HardwareIdShape::cut_short: return "the string ends inside the IDs";
    }
    return "?";
}

// A query looks for four upper-case hex digits (VID_1A2B), compared byte by
// byte: an ID text with any other byte is never counted. Null when it can match.
const char *never_matches(const char text[tarnwick::kIdTextSize])
{
    bool lower = false;
    for (std::size_t i = 0; i < tarnwick::kIdTextSize; ++i) {
        const char c = text[i];
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))
            continue;
        if (c >= 'a' && c <= 'f')
            lower = true;
        else
            return "a character that is not a hex digit";
    }
    return lower ? "a lower-case hex digit" : nullptr;
}

struct DevicesOut {
    bool json;
    std::vector<std::string> lines;
    Json list = Json::array();
};

void print_device(const tarnwick::UsbEntry &e, void *context)
{
    auto &out = *static_cast<DevicesOut *>(context);
    std::vector<std::uint16_t> first;
    for (std::size_t i = 0; e.property_read && i + 1 < e.property_size; i += 2) {
        const auto c = static_cast<std::uint16_t>(e.property[i] | (e.property[i + 1] << 8));
        if (c == 0)
            break;
        first.push_back(c);
    }
    const std::string id = show_wide(first.data(), first.size());
    const bool found = e.property_read && e.shape == tarnwick::HardwareIdShape::ids_found;
    // ID texts are bytes read out of the hardware ID, not necessarily text:
    // shown escaped, like names, so none reaches a terminal or JSON raw.
    const std::string vid = found ? show_bytes(e.ids.vid, tarnwick::kIdTextSize) : "-";
    const std::string pid = found ? show_bytes(e.ids.pid, tarnwick::kIdTextSize) : "-";
    std::string state = shape_text(e);
    if (found) {
        const char *in_vid = never_matches(e.ids.vid);
        const char *in_pid = never_matches(e.ids.pid);
        if (in_vid != nullptr || in_pid != nullptr)
            state = std::string("never counted: the ") + (in_vid ? "VID" : "PID") +
                    " text has " + (in_vid ? in_vid : in_pid);
    }
    if (out.json) {
        out.list.push_back({{"index", e.index},
                            {"hardware_id", id},
                            {"vid", found ? Json(vid) : Json()},
                            {"pid", found ? Json(pid) : Json()},
                            {"can_match", found && state == "ok"},
                            {"state", state}});
        return;
    }
    const auto column = [](std::string text) { return text.append(text.size() < 4 ? 4 - text.size() : 0, ' '); };
    std::string index = std::to_string(e.index);
    index.insert(0, index.size() < 5 ? 5 - index.size() : 0, ' ');
    out.lines.push_back(index + "  " + column(vid) + "  " + column(pid) + "  " + id +
                        (state == "ok" ? "" : "  -- " + state));
}

} // namespace

int run_devices(const Options &o)
{
    if (!o.args.empty())
        return bad(o, "devices takes no arguments");
    DevicesOut out{o.json, {}};
    if (!tarnwick::walk_usb_entries(print_device, &out))
        return failed(o, "the USB device list cannot be obtained");
    if (o.json) {
        print_json({{"command", "devices"}, {"devices", out.list}, {"listed", true}});
        return 0;
    }
    std::printf("index  VID   PID   first hardware ID\n");
    for (const std::string &line : out.lines)
        std::printf("%s\n", line.c_str());
    if (out.lines.empty())
        std::printf("(no USB entries)\n");
    return 0;
}

} // namespace cli
