#include "description.h"

#include <sstream>

namespace vperiph {

namespace {

// A description is written by hand; repeat= makes many entries from one line,
// and so many lines could ask for more than any host needs.
constexpr std::size_t kMostUsbEntries = 100000;
// bytes= past the data pads it with zeros: up to a size a property can have.
constexpr std::uint32_t kLargestProperty = 65536;

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

// One UTF-8 sequence to one UTF-16 unit (the BMP is all a port name needs).
bool read_utf8(const std::string &s, std::size_t &i, char16_t &unit)
{
    const auto b = static_cast<unsigned char>(s[i]);
    int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : -1;
    if (extra < 0 || (extra > 0 && i + extra >= s.size()))
        return false;
    unsigned cp = extra == 0 ? b : extra == 1 ? (b & 0x1F) : (b & 0x0F);
    for (int k = 1; k <= extra; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80)
            return false;
        cp = (cp << 6) | (c & 0x3F);
    }
    i += extra + 1;
    unit = static_cast<char16_t>(cp);
    return true;
}

bool tokenize(const std::string &line, std::vector<Token> &tokens, std::string &error)
{
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
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
                unsigned v = 0;
                if (line[i] == '\\' && i + 1 < line.size() &&
                    (line[i + 1] == '\\' || line[i + 1] == '"')) {
                    t.text += static_cast<char16_t>(line[i + 1]);
                    i += 2;
                } else if (line[i] == '\\' && i + 1 < line.size() &&
                           (line[i + 1] == 'x' || line[i + 1] == 'u')) {
                    const int digits = line[i + 1] == 'x' ? 2 : 4;
                    i += 2;
                    if (!read_hex(line, i, digits, v)) {
                        error = "bad \\x or \\u escape";
                        return false;
                    }
                    t.text += static_cast<char16_t>(v);
                } else {
                    // Any other backslash stands for itself: "USB\VID_..." reads as written.
                    char16_t unit = 0;
                    if (!read_utf8(line, i, unit)) {
                        error = "bad UTF-8 in string";
                        return false;
                    }
                    t.text += unit;
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

class LineParser {
public:
    LineParser(const std::vector<Token> &tokens, Description &d, int line)
        : tokens_(tokens), d_(d), line_(line)
    {
    }

    bool parse(std::string &error)
    {
        const std::string word = narrow(tokens_[0].text);
        if (tokens_[0].quoted)
            return fail(error, "a line starts with a keyword");
        if (word == "port")
            return port(error);
        if (word == "usb" || word == "usb-hex")
            return usb(word == "usb-hex", error);
        if (word == "classdevs")
            return classdevs(error);
        if (word == "fail")
            return fail_call(error);
        return fail(error, "unknown keyword '" + word + "'");
    }

private:
    static bool fail(std::string &error, const std::string &message)
    {
        error = message;
        return false;
    }

    std::string item(const std::string &text) const
    {
        return "line " + std::to_string(line_) + ": " + text;
    }

    void standin_only(const std::string &text) { d_.standin_only.push_back(item(text)); }

    bool status_option(const std::string &value, std::uint32_t &out, const std::string &key,
                       std::string &error)
    {
        if (!parse_number(value, out))
            return fail(error, "bad number for " + key + ": '" + value + "'");
        return true;
    }

    bool port(std::string &error)
    {
        if (tokens_.size() < 2 || !tokens_[1].quoted)
            return fail(error, "port needs a quoted name");
        Port p;
        p.name = tokens_[1].text;
        if (p.name.size() > 32)
            return fail(error, "port name longer than 32 characters");
        for (std::size_t i = 2; i < tokens_.size(); ++i) {
            std::string key, value;
            if (!split_option(tokens_[i], key, value))
                return fail(error, "port options are key=value");
            std::uint32_t *target = key == "open"    ? &p.open
                                    : key == "getid" ? &p.getid
                                    : key == "caps"  ? &p.caps
                                    : key == "send"  ? &p.send
                                    : key == "close" ? &p.close
                                                     : nullptr;
            if (target != nullptr) {
                if (!status_option(value, *target, key, error))
                    return false;
                if (target == &p.getid && p.getid != 0)
                    d_.winmm_standin_only.push_back(item(key + "=" + value));
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
            } else {
                return fail(error, "unknown port option '" + key + "'");
            }
        }
        d_.ports.push_back(p);
        return true;
    }

    bool usb(bool hex, std::string &error)
    {
        UsbEntry e;
        std::uint32_t repeat = 1, bytes = 0;
        bool bytes_given = false;
        for (std::size_t i = 1; i < tokens_.size(); ++i) {
            std::string key, value;
            if (split_option(tokens_[i], key, value)) {
                std::uint32_t v = 0;
                if (!status_option(value, v, key, error))
                    return false;
                if (key != "repeat")
                    standin_only(key + "=" + value);
                if (key == "bytes") {
                    bytes = v;
                    bytes_given = true;
                } else if (key == "property") {
                    e.property_error = v;
                } else if (key == "repeat") {
                    repeat = v;
                } else if (key == "appear") {
                    e.appear = v;
                } else if (key == "vanish") {
                    e.vanish = v;
                } else {
                    return fail(error, "unknown usb option '" + key + "'");
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
            } else if (!hex && tokens_[i].quoted) {
                append_multi_sz(e.property, tokens_[i].text);
            } else {
                return fail(error, hex ? "usb-hex takes hex bytes" : "usb takes quoted strings");
            }
        }
        if (!hex)
            e.property.push_back(0), e.property.push_back(0); // the list's closing terminator
        if (bytes_given && bytes > kLargestProperty)
            return fail(error, "bytes is at most 65536");
        if (bytes_given)
            e.property.resize(bytes, 0);
        if (repeat > kMostUsbEntries - d_.usb.size())
            return fail(error, "more than 100000 USB entries in all");
        d_.usb.insert(d_.usb.end(), repeat, e);
        return true;
    }

    bool classdevs(std::string &error)
    {
        if (tokens_.size() < 2 || narrow(tokens_[1].text) != "fail")
            return fail(error, "classdevs takes 'fail [error=N]'");
        d_.classdevs_error = 13; // ERROR_INVALID_DATA
        standin_only("classdevs fail");
        for (std::size_t i = 2; i < tokens_.size(); ++i) {
            std::string key, value;
            if (!split_option(tokens_[i], key, value) || key != "error")
                return fail(error, "classdevs takes 'fail [error=N]'");
            if (!status_option(value, d_.classdevs_error, key, error))
                return false;
        }
        return true;
    }

    bool fail_call(std::string &error)
    {
        std::uint32_t n = 0;
        if (tokens_.size() < 2 || !parse_number(narrow(tokens_[1].text), n) || n == 0)
            return fail(error, "fail takes a call number from 1");
        d_.fail_call = n;
        standin_only("fail " + std::to_string(n));
        d_.winmm_standin_only.push_back(item("fail " + std::to_string(n)));
        for (std::size_t i = 2; i < tokens_.size(); ++i) {
            std::string key, value;
            if (!split_option(tokens_[i], key, value) || key != "status")
                return fail(error, "fail takes 'N [status=S]'");
            if (!status_option(value, d_.fail_status, key, error))
                return false;
            if (d_.fail_status == 0)
                return fail(error, "an injected failure needs a nonzero status");
            d_.fail_status_given = true;
        }
        return true;
    }

    const std::vector<Token> &tokens_;
    Description &d_;
    int line_;
};

} // namespace

bool parse_description(const std::string &text, Description &out, std::string &error)
{
    out = Description{};
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        std::vector<Token> tokens;
        std::string message;
        if (!tokenize(line, tokens, message) ||
            (!tokens.empty() && !LineParser(tokens, out, number).parse(message))) {
            error = "line " + std::to_string(number) + ": " + message;
            return false;
        }
    }
    return true;
}

} // namespace vperiph
