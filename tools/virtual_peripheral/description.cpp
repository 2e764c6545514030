#include "description.h"

#include <algorithm>
#include <set>

#include "text.h"

namespace vperiph {

namespace {

struct Token {
    bool quoted;
    std::u16string text; // quoted: UTF-16 units; bare: the ASCII word
};

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool read_hex(const std::string &s, std::size_t &i, int digits, unsigned &value)
{
    value = 0;
    for (int d = 0; d < digits; ++d, ++i) {
        if (i >= s.size() || hex_value(s[i]) < 0)
            return false;
        value = value * 16 + static_cast<unsigned>(hex_value(s[i]));
    }
    return true;
}

// One UTF-8 sequence as UTF-16: one unit, or a surrogate pair.
bool read_utf8(const std::string &s, std::size_t &i, std::u16string &out)
{
    char32_t cp = 0;
    if (!next_utf8(s, i, cp))
        return false;
    if (cp >= 0x10000) {
        out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
        out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
        out += static_cast<char16_t>(cp);
    }
    return true;
}

// Far more than the longest item any description needs (a usb-hex line of
// 65536 bytes is under 200 KB), and little enough to parse in place.
constexpr std::size_t kLongestLine = 1 << 20;

bool tokenize(const std::string &line, std::vector<Token> &tokens, std::string &error)
{
    if (line.size() > kLongestLine) {
        error = "a line longer than 1 MiB";
        return false;
    }
    if (line.find('\0') != std::string::npos) {
        error = "a NUL byte: a description is UTF-8 text, or UTF-16 with its byte order mark";
        return false;
    }
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == '\r' && i + 1 < line.size()) {
            error = "a carriage return inside a line: lines end in LF or CR LF";
            return false;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            Token t{true, {}};
            ++i;
            for (;;) {
                if (i >= line.size()) {
                    error = "unterminated string";
                    return false;
                }
                if (line[i] == '"') {
                    ++i;
                    break;
                }
                if (line[i] == '\\' && i + 1 < line.size() &&
                    (line[i + 1] == '\\' || line[i + 1] == '"')) {
                    t.text += static_cast<char16_t>(line[i + 1]);
                    i += 2;
                } else if (line[i] == '\\' && i + 1 < line.size() &&
                           (line[i + 1] == 'x' || line[i + 1] == 'u')) {
                    const int digits = line[i + 1] == 'x' ? 2 : 4;
                    i += 2;
                    unsigned v = 0;
                    if (!read_hex(line, i, digits, v)) {
                        error = "bad \\x or \\u escape";
                        return false;
                    }
                    t.text += static_cast<char16_t>(v);
                } else {
                    // Any other backslash stands for itself: "USB\VID_..." reads as written.
                    if (!read_utf8(line, i, t.text)) {
                        error = "bad UTF-8 in string";
                        return false;
                    }
                }
            }
            tokens.push_back(t);
        } else {
            Token t{false, {}};
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' &&
                   line[i] != '#')
                t.text += static_cast<char16_t>(static_cast<unsigned char>(line[i++]));
            tokens.push_back(t);
        }
    }
    return true;
}

// A bare word is bytes as the file had them.
std::string narrow(const std::u16string &s)
{
    std::string out;
    for (char16_t c : s)
        out += static_cast<char>(c);
    return out;
}

// Decimal, or hexadecimal after "0x", within 32 bits: no sign, and no octal
// reading of a leading zero.
bool parse_number(const std::string &s, std::uint32_t &value)
{
    const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    const std::size_t start = hex ? 2 : 0;
    if (s.size() <= start)
        return false;
    std::uint64_t v = 0;
    for (std::size_t i = start; i < s.size(); ++i) {
        const int digit = hex ? hex_value(s[i]) : (s[i] >= '0' && s[i] <= '9' ? s[i] - '0' : -1);
        if (digit < 0)
            return false;
        v = v * (hex ? 16 : 10) + static_cast<unsigned>(digit);
        if (v > 0xFFFFFFFFu)
            return false;
    }
    value = static_cast<std::uint32_t>(v);
    return true;
}

// Splits "key=value"; false for a bare word.
bool split_option(const Token &t, std::string &key, std::string &value)
{
    if (t.quoted)
        return false;
    const std::string s = narrow(t.text);
    const auto eq = s.find('=');
    if (eq == std::string::npos)
        return false;
    key = s.substr(0, eq);
    value = s.substr(eq + 1);
    return true;
}

void append_multi_sz(std::vector<std::uint8_t> &out, const std::u16string &s)
{
    for (char16_t c : s) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
}

// The description being read: what the lines so far asked for, checked
// against the limits as each line is read.
struct Reading {
    Description &d;
    std::size_t property_bytes = 0;
    std::size_t answer_bytes = 0;
};

// Whether `bytes` is one message a device can send: a short message (a
// status byte other than F0 and F7, with no more data bytes than it takes),
// or one SysEx from F0 to F7 with only data bytes between.
bool one_message(const std::vector<std::uint8_t> &bytes)
{
    if (bytes.empty() || bytes[0] < 0x80)
        return false;
    if (bytes[0] == 0xF0) {
        if (bytes.size() < 2 || bytes.back() != 0xF7)
            return false;
        for (std::size_t i = 1; i + 1 < bytes.size(); ++i)
            if (bytes[i] >= 0x80)
                return false;
        return true;
    }
    const std::uint8_t s = bytes[0];
    const std::size_t length = s >= 0xC0 && s <= 0xDF           ? 2
                               : s == 0xF1 || s == 0xF3           ? 2
                               : s == 0xF2 || s < 0xF0            ? 3
                                                                  : 1;
    if (s == 0xF7 || bytes.size() != length)
        return false;
    for (std::size_t i = 1; i < bytes.size(); ++i)
        if (bytes[i] >= 0x80)
            return false;
    return true;
}

class LineParser {
public:
    LineParser(const std::vector<Token> &tokens, Reading &r, unsigned line)
        : tokens_(tokens), r_(r), d_(r.d), line_(line)
    {
    }

    bool parse(std::string &error)
    {
        const std::string word = narrow(tokens_[0].text);
        if (tokens_[0].quoted)
            return fail(error, "a line starts with a keyword");
        if (word == "port")
            return port(error);
        if (word == "in")
            return in_port(error);
        if (word == "answer")
            return answer(error);
        if (word == "usb" || word == "usb-hex")
            return usb(word == "usb-hex", error);
        if (word == "classdevs")
            return classdevs(error);
        if (word == "fail")
            return fail_call(error);
        return fail(error, "unknown keyword '" + printable(word) + "'");
    }

private:
    static bool fail(std::string &error, const std::string &message)
    {
        error = message;
        return false;
    }

    // key=value at token i; a key given twice on one line is refused, as
    // the reader could not tell which one counts.
    bool option(std::size_t i, std::string &key, std::string &value, const char *what,
                std::string &error)
    {
        if (!split_option(tokens_[i], key, value))
            return fail(error, std::string(what) + " options are key=value");
        if (!seen_.insert(key).second)
            return fail(error, printable(key) + "= given twice");
        return true;
    }

    bool number_option(const std::string &key, const std::string &value, std::uint32_t &out,
                       std::string &error)
    {
        if (!parse_number(value, out))
            return fail(error, "bad number for " + printable(key) + ": '" + printable(value) + "'");
        return true;
    }

    // A Win32 error that is to make a call fail: 0 would mean success.
    bool error_option(const std::string &key, const std::string &value, std::uint32_t &out,
                      std::string &error)
    {
        if (!number_option(key, value, out, error))
            return false;
        if (out == 0)
            return fail(error, key + "=0 would mean success: give a nonzero error");
        return true;
    }

    // The quoted name a port or in line starts with, and the limits both
    // kinds of port share; `ports` names the kind in the plural.
    template <typename P>
    bool named(P &p, const char *keyword, std::size_t count, const char *ports, std::string &error)
    {
        if (tokens_.size() < 2 || !tokens_[1].quoted)
            return fail(error, std::string(keyword) + " needs a quoted name");
        if (count == kMostPorts)
            return fail(error, "more than " + std::to_string(kMostPorts) + " " + ports);
        p.name = tokens_[1].text;
        p.line = line_;
        if (p.name.size() > 32)
            return fail(error, "port name longer than 32 characters");
        return true;
    }

    bool port(std::string &error)
    {
        Port p;
        if (!named(p, "port", d_.ports.size(), "ports", error))
            return false;
        for (std::size_t i = 2; i < tokens_.size(); ++i) {
            std::string key, value;
            if (!option(i, key, value, "port", error))
                return false;
            std::uint32_t *target = key == "open"    ? &p.open
                                    : key == "getid" ? &p.getid
                                    : key == "caps"  ? &p.caps
                                    : key == "send"  ? &p.send
                                    : key == "close" ? &p.close
                                    : key == "long"  ? &p.long_send
                                                     : nullptr;
            if (target != nullptr) {
                if (!number_option(key, value, *target, error))
                    return false;
            } else if (key == "tail") {
                if (value == "garbage")
                    p.tail = NameTail::garbage;
                else if (value == "zero")
                    p.tail = NameTail::zero;
                else if (value == "keep")
                    p.tail = NameTail::keep;
                else if (value == "unterminated")
                    p.tail = NameTail::unterminated;
                else
                    return fail(error, "tail is garbage, zero, keep or unterminated");
            } else if (key == "clients") {
                if (!clients(value, p.many_clients, error))
                    return false;
            } else {
                return fail(error, "unknown port option '" + printable(key) + "'");
            }
        }
        d_.ports.push_back(p);
        return true;
    }

    static bool clients(const std::string &value, bool &many, std::string &error)
    {
        if (value != "one" && value != "many")
            return fail(error, "clients is one or many");
        many = value == "many";
        return true;
    }

    bool in_port(std::string &error)
    {
        InPort p;
        if (!named(p, "in", d_.inputs.size(), "input ports", error))
            return false;
        for (std::size_t i = 2; i < tokens_.size(); ++i) {
            std::string key, value;
            if (!option(i, key, value, "in", error))
                return false;
            if (key == "open" || key == "close") {
                if (!number_option(key, value, key == "open" ? p.open : p.close, error))
                    return false;
            } else if (key == "clients") {
                if (!clients(value, p.many_clients, error))
                    return false;
            } else {
                return fail(error, "unknown in option '" + printable(key) + "'");
            }
        }
        d_.inputs.push_back(p);
        return true;
    }

    // Hex bytes from token i on, as pairs of digits ("F0 7E" or "F07E"), up
    // to the first bare word that is not hex.
    bool hex_bytes(std::size_t &i, std::vector<std::uint8_t> &out, const char *what,
                   std::string &error)
    {
        for (; i < tokens_.size() && !tokens_[i].quoted; ++i) {
            const std::string s = narrow(tokens_[i].text);
            if (s == "reply" || s.find('=') != std::string::npos)
                break;
            std::size_t k = 0;
            unsigned v = 0;
            while (k < s.size()) {
                if (!read_hex(s, k, 2, v))
                    return fail(error, std::string(what) + " bytes are pairs of hex digits, not '" +
                                           printable(s) + "'");
                if (out.size() == kLongestAnswerBytes)
                    return fail(error, std::string(what) + " longer than 65536 bytes");
                out.push_back(static_cast<std::uint8_t>(v));
            }
        }
        if (out.empty())
            return fail(error, std::string("answer needs the bytes of its ") + what);
        return true;
    }

    bool answer(std::string &error)
    {
        static const char usage[] = "answer takes 'OUT BYTES... reply IN BYTES... [after=MS]'";
        if (d_.answers.size() == kMostAnswers)
            return fail(error, "more than " + std::to_string(kMostAnswers) + " answers");
        Answer a;
        a.line = line_;
        std::uint32_t index = 0;
        std::size_t i = 1;
        if (i >= tokens_.size() || tokens_[i].quoted || !parse_number(narrow(tokens_[i].text), index))
            return fail(error, usage);
        a.out = index;
        ++i;
        if (!hex_bytes(i, a.request, "request", error))
            return false;
        if (i >= tokens_.size() || narrow(tokens_[i].text) != "reply")
            return fail(error, usage);
        ++i;
        if (i >= tokens_.size() || tokens_[i].quoted || !parse_number(narrow(tokens_[i].text), index))
            return fail(error, usage);
        a.in = index;
        ++i;
        if (!hex_bytes(i, a.reply, "reply", error))
            return false;
        for (; i < tokens_.size(); ++i) {
            std::string key, value;
            if (!option(i, key, value, "answer", error))
                return false;
            if (key != "after")
                return fail(error, usage);
            if (!number_option(key, value, a.after, error))
                return false;
            if (a.after > kLatestReply)
                return fail(error, "after is at most 60000 (milliseconds)");
        }
        // Only ports described above: a file's first bad line is then always
        // the line that says it.
        if (a.out >= d_.ports.size())
            return fail(error, "answer names output port " + std::to_string(a.out) +
                                   ", which no port line above describes");
        if (a.in >= d_.inputs.size())
            return fail(error, "answer names input port " + std::to_string(a.in) +
                                   ", which no in line above describes");
        if (!one_message(a.reply))
            return fail(error, "a reply is one short message or one SysEx (F0 ... F7)");
        const std::size_t size = a.request.size() + a.reply.size();
        if (size > kMostAnswerBytes - r_.answer_bytes)
            return fail(error, "more than 1 MiB of answer bytes in all");
        r_.answer_bytes += size;
        d_.answers.push_back(std::move(a));
        return true;
    }

    bool usb(bool hex, std::string &error)
    {
        UsbEntry e;
        e.line = line_;
        std::uint32_t repeat = 1, bytes = 0;
        bool bytes_given = false, data_given = false;
        for (std::size_t i = 1; i < tokens_.size(); ++i) {
            std::string key, value;
            if (split_option(tokens_[i], key, value)) {
                if (!option(i, key, value, "usb", error))
                    return false;
                std::uint32_t v = 0;
                const bool read = key == "property" ? error_option(key, value, v, error)
                                                    : number_option(key, value, v, error);
                if (!read)
                    return false;
                if (key == "bytes") {
                    bytes = v;
                    bytes_given = true;
                    e.given |= kBytes;
                } else if (key == "property") {
                    e.property_error = v;
                    e.given |= kProperty;
                } else if (key == "repeat") {
                    repeat = v;
                } else if (key == "appear") {
                    e.appear = v;
                    e.given |= kAppear;
                } else if (key == "vanish") {
                    e.vanish = v;
                    e.given |= kVanish;
                } else {
                    return fail(error, "unknown usb option '" + printable(key) + "'");
                }
            } else if (hex && !tokens_[i].quoted) {
                const std::string s = narrow(tokens_[i].text);
                std::size_t k = 0;
                unsigned v = 0;
                while (k < s.size())
                    if (!read_hex(s, k, 2, v))
                        return fail(error, "usb-hex takes pairs of hex digits");
                    else
                        e.property.push_back(static_cast<std::uint8_t>(v));
                data_given = true;
            } else if (!hex && tokens_[i].quoted) {
                append_multi_sz(e.property, tokens_[i].text);
                data_given = true;
            } else {
                return fail(error, hex ? "usb-hex takes hex bytes" : "usb takes quoted strings");
            }
        }
        // usb-hex with no bytes is an entry whose property is empty, as
        // written; a usb line without a string is a slip.
        if (!hex && !data_given)
            return fail(error, "usb needs at least one quoted string");
        if (!hex)
            e.property.push_back(0), e.property.push_back(0); // the list's closing terminator
        if (bytes_given && bytes > kLargestProperty)
            return fail(error, "bytes is at most 65536");
        if (bytes_given)
            e.property.resize(bytes, 0);
        if (repeat == 0)
            return fail(error, "repeat is at least 1");
        if (repeat > kMostUsbEntries - d_.usb.size())
            return fail(error, "more than 100000 USB entries in all");
        // Checked before anything is made: repeat= multiplies the data.
        const std::size_t size = e.property.size();
        if (size != 0 && (kMostPropertyBytes - r_.property_bytes) / size < repeat)
            return fail(error, "more than 8 MiB of hardware-ID data in all (repeat= counts each copy)");
        r_.property_bytes += size * repeat;
        d_.usb.insert(d_.usb.end(), repeat, e);
        return true;
    }

    // Once per description: a second line would silently win.
    bool once(unsigned &first_line, const char *what, std::string &error)
    {
        if (first_line != 0)
            return fail(error, std::string(what) + " given twice (first on line " +
                                   std::to_string(first_line) + ")");
        first_line = line_;
        return true;
    }

    bool classdevs(std::string &error)
    {
        if (tokens_.size() < 2 || narrow(tokens_[1].text) != "fail")
            return fail(error, "classdevs takes 'fail [error=N]'");
        if (!once(d_.classdevs_line, "classdevs fail", error))
            return false;
        d_.classdevs_error = 13; // ERROR_INVALID_DATA
        for (std::size_t i = 2; i < tokens_.size(); ++i) {
            std::string key, value;
            if (!option(i, key, value, "classdevs", error))
                return false;
            if (key != "error")
                return fail(error, "classdevs takes 'fail [error=N]'");
            if (!error_option(key, value, d_.classdevs_error, error))
                return false;
        }
        return true;
    }

    bool fail_call(std::string &error)
    {
        std::uint32_t n = 0;
        if (tokens_.size() < 2 || !parse_number(narrow(tokens_[1].text), n) || n == 0)
            return fail(error, "fail takes a call number from 1");
        if (!once(d_.fail_line, "fail N", error))
            return false;
        d_.fail_call = n;
        for (std::size_t i = 2; i < tokens_.size(); ++i) {
            std::string key, value;
            if (!option(i, key, value, "fail", error))
                return false;
            if (key != "status")
                return fail(error, "fail takes 'N [status=S]'");
            if (!number_option(key, value, d_.fail_status, error))
                return false;
            if (d_.fail_status == 0)
                return fail(error, "an injected failure needs a nonzero status");
            d_.fail_status_given = true;
        }
        return true;
    }

    const std::vector<Token> &tokens_;
    Reading &r_;
    Description &d_;
    unsigned line_;
    std::set<std::string> seen_;
};

int line_of(const std::string &text, std::size_t end)
{
    int line = 1;
    for (std::size_t i = 0; i < end; ++i)
        line += text[i] == '\n' ? 1 : 0;
    return line;
}

// UTF-16 of either byte order (after its mark) to UTF-8; the line of a
// fault is counted in characters of the text.
bool from_utf16(const std::string &bytes, bool little_endian, std::string &out, std::string &error)
{
    const auto unit = [&](std::size_t i) {
        const unsigned a = static_cast<unsigned char>(bytes[2 + 2 * i]);
        const unsigned b = static_cast<unsigned char>(bytes[3 + 2 * i]);
        return static_cast<char32_t>(little_endian ? a | (b << 8) : (a << 8) | b);
    };
    bool lone = false;
    tools::each_code_point_at((bytes.size() - 2) / 2, unit, [&](char32_t cp, bool is_lone) {
        lone = lone || is_lone;
        if (!lone)
            append_utf8(out, cp);
    });
    if (lone) {
        error = "line " + std::to_string(line_of(out, out.size())) +
                ": a lone UTF-16 surrogate, which no text holds";
        return false;
    }
    if (bytes.size() % 2 != 0) {
        error = "line " + std::to_string(line_of(out, out.size())) +
                ": UTF-16 text that ends in half a character";
        return false;
    }
    return true;
}

} // namespace

bool decode_description(const std::string &bytes, std::string &utf8_text, std::string &error)
{
    utf8_text.clear();
    const auto starts = [&](const char *mark, std::size_t n) {
        return bytes.compare(0, n, mark, n) == 0;
    };
    if (starts("\xEF\xBB\xBF", 3)) {
        utf8_text = bytes.substr(3);
        return true;
    }
    if (starts("\xFF\xFE", 2) || starts("\xFE\xFF", 2))
        return from_utf16(bytes, bytes[0] == '\xFF', utf8_text, error);
    utf8_text = bytes;
    return true;
}

bool parse_description_text(const std::string &text, Description &out, std::string &error)
{
    out = Description{};
    Reading reading{out};
    unsigned number = 1;
    for (std::size_t start = 0; start < text.size(); ++number) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        std::vector<Token> tokens;
        std::string message;
        if (!tokenize(line, tokens, message) ||
            (!tokens.empty() && !LineParser(tokens, reading, number).parse(message))) {
            error = "line " + std::to_string(number) + ": " + message;
            out = Description{};
            return false;
        }
    }
    return true;
}

bool parse_description(const std::string &bytes, Description &out, std::string &error)
{
    std::string text;
    if (!decode_description(bytes, text, error)) {
        out = Description{};
        return false;
    }
    return parse_description_text(text, out, error);
}

Named name_items(const Description &d, unsigned items)
{
    Named named;
    const auto add = [&](unsigned line, const std::string &text) {
        if (named.count++ < kShownItems)
            named.shown.push_back("line " + std::to_string(line) + ": " + text);
    };
    static const struct {
        std::uint8_t bit;
        const char *key;
        std::uint32_t (*value)(const UsbEntry &);
    } kOptions[] = {
        {kBytes, "bytes=", [](const UsbEntry &e) { return static_cast<std::uint32_t>(e.property.size()); }},
        {kProperty, "property=", [](const UsbEntry &e) { return e.property_error; }},
        {kAppear, "appear=", [](const UsbEntry &e) { return std::uint32_t{e.appear}; }},
        {kVanish, "vanish=", [](const UsbEntry &e) { return std::uint32_t{e.vanish}; }},
    };
    // The items stand on lines of their own: walk the ports, the entries and
    // the two single lines together, in the file's order.
    std::size_t p = 0, u = 0;
    unsigned classdevs = (items & kClassdevsFail) != 0 ? d.classdevs_line : 0;
    unsigned fail = (items & kFailCall) != 0 ? d.fail_line : 0;
    for (;;) {
        while (p < d.ports.size() && ((items & kGetId) == 0 || d.ports[p].getid == 0))
            ++p;
        // The copies repeat= makes are one item each of their line.
        while (u < d.usb.size() &&
               ((items & kUsbOptions) == 0 || d.usb[u].given == 0 ||
                (u > 0 && d.usb[u - 1].line == d.usb[u].line)))
            ++u;
        const unsigned none = ~0u;
        const unsigned port_line = p < d.ports.size() ? d.ports[p].line : none;
        const unsigned usb_line = u < d.usb.size() ? d.usb[u].line : none;
        const unsigned next = std::min({port_line, usb_line, classdevs ? classdevs : none,
                                        fail ? fail : none});
        if (next == none)
            return named;
        if (next == port_line) {
            add(next, "getid=" + std::to_string(d.ports[p++].getid));
        } else if (next == usb_line) {
            const UsbEntry &e = d.usb[u++];
            for (const auto &option : kOptions)
                if ((e.given & option.bit) != 0)
                    add(next, option.key + std::to_string(option.value(e)));
        } else if (next == classdevs) {
            add(next, "classdevs fail");
            classdevs = 0;
        } else {
            add(next, "fail " + std::to_string(d.fail_call));
            fail = 0;
        }
    }
}

} // namespace vperiph
