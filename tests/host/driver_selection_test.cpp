// Selecting the virtual peripheral's driver in a prefix and giving the earlier
// Audio back, from every state a run cut short can leave: each value comes
// back byte for byte with its type, whatever ran before. It runs on a copy of
// HKCU of its own, so the prefix's value stays as the other tests need it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "registry_key.h"
#include "vperiph.h"

namespace {

using Bytes = std::vector<BYTE>;

struct Value {
    bool present;
    DWORD type;
    Bytes data;
};

bool operator==(const Value &a, const Value &b)
{
    return a.present == b.present && (!a.present || (a.type == b.type && a.data == b.data));
}

std::ostream &operator<<(std::ostream &out, const Value &v)
{
    if (!v.present)
        return out << "(none)";
    out << "type " << v.type << ":";
    for (BYTE b : v.data)
        out << " " << static_cast<int>(b);
    return out;
}

Bytes wide(const wchar_t *text, bool terminated)
{
    const BYTE *begin = reinterpret_cast<const BYTE *>(text);
    return Bytes(begin, begin + (wcslen(text) + (terminated ? 1 : 0)) * sizeof(wchar_t));
}

const Value kNone{false, 0, {}};
const Value kOurs{true, REG_SZ, wide(L"vp", true)};
const Value kOneByte{true, REG_SZ, {0}}; // hex(1):00
const Value kAlsa{true, REG_SZ, wide(L"alsa", true)};
const Value kUnterminated{true, REG_SZ, wide(L"pulse", false)};
const Value kExpandable{true, REG_EXPAND_SZ, wide(L"alsa,%NOSUCH%", true)};
const Value kOursExpandable{true, REG_EXPAND_SZ, wide(L"vp", true)}; // not the driver's spelling
const Value kNumber{true, REG_DWORD, {7, 0, 0, 0}};

const wchar_t kDrivers[] = L"Software\\Wine\\Drivers";
const wchar_t kRecord[] = L"Software\\Tarnwick\\VirtualPeripheral";

Value read(const wchar_t *path, const wchar_t *name)
{
    Value v{false, 0, Bytes(256)};
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD size = static_cast<DWORD>(v.data.size());
        v.present =
            RegQueryValueExW(key, name, nullptr, &v.type, v.data.data(), &size) == ERROR_SUCCESS;
        v.data.resize(v.present ? size : 0);
        RegCloseKey(key);
    }
    if (!v.present)
        v = kNone;
    return v;
}

void write(const wchar_t *path, const wchar_t *name, const Value &v)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    if (v.present) {
        EXPECT_EQ(vperiph::set_exact(key, name, v.type, v.data.data(),
                                     static_cast<DWORD>(v.data.size())),
                  ERROR_SUCCESS);
    } else {
        RegDeleteValueW(key, name);
    }
    RegCloseKey(key);
}

bool exists(const wchar_t *path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// The selection's record as a run left it.
enum class Record { none, empty, kept, kept_none };

struct Case {
    const char *state;
    Record record;
    Value kept;  // with Record::kept
    Value audio; // Audio as found
    const char *runs; // s: select-driver, r: restore-driver
    std::vector<int> results;
    Value after; // Audio at the end
};

TEST(WineOwn, DriverSelectionGivesBackEveryEarlierValue)
{
    const wchar_t scratch_path[] = L"Software\\Tarnwick\\SelectionTest";
    HKEY scratch = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, scratch_path, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &scratch, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, scratch), ERROR_SUCCESS);

    const Case cases[] = {
        // Nothing selected before: each kind of value, or none.
        {"no value", Record::none, kNone, kNone, "sr", {1, 1}, kNone},
        {"a one-byte string", Record::none, kNone, kOneByte, "sr", {1, 1}, kOneByte},
        {"a string without terminator", Record::none, kNone, kUnterminated, "sr", {1, 1},
         kUnterminated},
        {"an expandable string", Record::none, kNone, kExpandable, "sr", {1, 1}, kExpandable},
        {"a number", Record::none, kNone, kNumber, "sr", {1, 1}, kNumber},
        {"vp, but not as the driver writes it", Record::none, kNone, kOursExpandable, "sr", {1, 1},
         kOursExpandable},
        {"selected twice", Record::none, kNone, kAlsa, "ssrr", {1, 0, 1, 0}, kAlsa},
        // A selection cut after making its record, before keeping anything.
        {"cut before keeping", Record::empty, kNone, kAlsa, "sr", {1, 1}, kAlsa},
        {"cut before keeping no value", Record::empty, kNone, kNone, "sr", {1, 1}, kNone},
        {"cut before keeping, then restored", Record::empty, kNone, kAlsa, "r", {0}, kAlsa},
        // Cut after keeping, before setting Audio; or a restore cut after
        // giving Audio back, before removing the record.
        {"kept, Audio not yet set", Record::kept, kOneByte, kOneByte, "sr", {1, 1}, kOneByte},
        {"kept, Audio not yet set, restored", Record::kept, kOneByte, kOneByte, "r", {1},
         kOneByte},
        {"kept no value, none set", Record::kept_none, kNone, kNone, "r", {1}, kNone},
        // Selected.
        {"selected", Record::kept, kExpandable, kOurs, "r", {1}, kExpandable},
        {"selected from no value", Record::kept_none, kNone, kOurs, "sr", {0, 1}, kNone},
        // Someone chose another driver while selected: theirs is the newer choice.
        {"changed since, restored", Record::kept, kAlsa, kNumber, "r", {2}, kNumber},
        {"changed since, selected again", Record::kept, kAlsa, kNumber, "sr", {1, 1}, kNumber},
        // The driver's own value with nothing kept: that is what there was.
        {"ours without a record", Record::none, kNone, kOurs, "sr", {1, 1}, kOurs},
        {"ours with an empty record", Record::empty, kNone, kOurs, "srr", {1, 1, 0}, kOurs},
    };
    char error[512];
    for (const Case &c : cases) {
        SCOPED_TRACE(c.state);
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software");
        write(kDrivers, L"Audio", c.audio);
        if (c.record != Record::none)
            write(kRecord, L"SavedAudio", c.record == Record::kept ? c.kept : kNone);
        if (c.record == Record::kept_none)
            write(kRecord, L"SavedAudioAbsent", Value{true, REG_DWORD, {1, 0, 0, 0}});
        for (std::size_t i = 0; c.runs[i] != '\0'; ++i) {
            const bool select = c.runs[i] == 's';
            const int r = select ? vp_select_driver(error, sizeof error)
                                 : vp_restore_driver(error, sizeof error);
            EXPECT_EQ(r, c.results[i]) << "run " << i << ": " << (r < 0 ? error : "");
            if (select) {
                EXPECT_EQ(read(kDrivers, L"Audio"), kOurs) << "run " << i;
            }
        }
        EXPECT_EQ(read(kDrivers, L"Audio"), c.after);
        EXPECT_FALSE(exists(kRecord)) << "the record stays";
    }

    // The keys around the value: one the selection found stays, with what it
    // holds; one it made goes again.
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software");
    write(L"Software\\Tarnwick", L"Mine", kAlsa);
    EXPECT_EQ(vp_select_driver(error, sizeof error), 1) << error;
    EXPECT_EQ(vp_restore_driver(error, sizeof error), 1) << error;
    EXPECT_EQ(read(L"Software\\Tarnwick", L"Mine"), kAlsa) << "a key of the host's own is gone";
    EXPECT_FALSE(exists(kDrivers)) << "a key it made stays";
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software");
    EXPECT_EQ(vp_select_driver(error, sizeof error), 1) << error;
    EXPECT_EQ(vp_restore_driver(error, sizeof error), 1) << error;
    EXPECT_FALSE(exists(L"Software\\Tarnwick")) << "a key it made stays";

    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegCloseKey(scratch);
    RegDeleteTreeW(HKEY_CURRENT_USER, scratch_path);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Tarnwick");
}

} // namespace
