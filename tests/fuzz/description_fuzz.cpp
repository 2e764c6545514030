// Fuzzes the virtual peripheral's description parser, which reads files that
// people write: any bytes give a description within the stated limits or an
// error naming a line, and that line is the first one the parser refuses (the
// lines before it parse, and with it the same error comes back). Built with
// _GLIBCXX_ASSERTIONS, so an index past a line's end aborts; run with memory
// limits far below what a description that escaped its limits would take.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "description.h"

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// The line an error names: "line N: message" with a message after it.
std::size_t named_line(const std::string &error)
{
    check(error.rfind("line ", 0) == 0);
    std::size_t n = 0, i = 5;
    for (; i < error.size() && error[i] >= '0' && error[i] <= '9'; ++i)
        n = n * 10 + static_cast<std::size_t>(error[i] - '0');
    check(i > 5 && error.compare(i, 2, ": ") == 0 && error.size() > i + 2);
    return n;
}

// The text of the first n lines, with their line ends.
std::string first_lines(const std::string &text, std::size_t n)
{
    std::size_t end = 0;
    for (std::size_t line = 0; line < n; ++line) {
        const std::size_t newline = text.find('\n', end);
        if (newline == std::string::npos)
            return text;
        end = newline + 1;
    }
    return text.substr(0, end);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    vperiph::Description d;
    std::string error, text;
    const bool parsed = vperiph::parse_description(bytes, d, error);
    if (!vperiph::decode_description(bytes, text, error)) {
        // Bytes that are no text are refused as a whole, naming a line.
        check(!parsed);
        named_line(error);
        return 0;
    }
    if (parsed) {
        check(d.ports.size() <= vperiph::kMostPorts);
        for (const vperiph::Port &p : d.ports)
            check(p.name.size() <= 32);
        check(d.usb.size() <= vperiph::kMostUsbEntries);
        std::size_t property_bytes = 0;
        for (const vperiph::UsbEntry &e : d.usb)
            property_bytes += e.property.size();
        check(property_bytes <= vperiph::kMostPropertyBytes);
        check(!d.fail_status_given || d.fail_status != 0);
        const vperiph::Named named = vperiph::name_items(d, ~0u);
        check(named.shown.size() == std::min(named.count, vperiph::kShownItems));
        for (const std::string &item : named.shown)
            check(item.rfind("line ", 0) == 0);
        return 0;
    }
    const std::size_t line = named_line(error);
    std::size_t lines = 1;
    for (char c : text)
        lines += c == '\n' ? 1 : 0;
    check(line >= 1 && line <= lines);

    vperiph::Description before;
    std::string none;
    check(vperiph::parse_description_text(first_lines(text, line - 1), before, none));
    std::string again;
    check(!vperiph::parse_description_text(first_lines(text, line), before, again) &&
          again == error);
    return 0;
}
