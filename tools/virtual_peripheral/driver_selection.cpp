// Selecting the virtual peripheral's driver for Wine's own winmm: the
// prefix's audio driver becomes "vp" (winevp.drv), and what was chosen before
// is kept beside, to be given back exactly, with every key the selection
// made and nothing else taken away again. What to do in each state the
// registry is found in is decided in driver_selection_rules.cpp.
#include "driver_selection.h"

#include <vector>

#include "driver_selection_rules.h"
#include "registry_key.h"
#include "text.h"

namespace vperiph {

namespace {

const wchar_t kDrivers[] = L"Software\\Wine\\Drivers";
const wchar_t kOwn[] = L"Software\\Tarnwick";
const wchar_t kSelection[] = L"Software\\Tarnwick\\VirtualPeripheral";
const wchar_t kAudio[] = L"Audio";
const wchar_t kSaved[] = L"SavedAudio";
const wchar_t kNoneSaved[] = L"SavedAudioAbsent";
// Which keys above the selection the selection itself created.
const wchar_t kMadeDrivers[] = L"CreatedDriversKey";
const wchar_t kMadeOwn[] = L"CreatedTarnwickKey";

// A value's type and exact bytes; ERROR_SUCCESS with none present when there
// is none (or no key to hold it).
LONG read_value(HKEY key, const wchar_t *name, StoredValue &value)
{
    value = StoredValue{};
    if (key == nullptr)
        return ERROR_SUCCESS;
    std::vector<BYTE> data;
    DWORD type = 0, size = 0;
    LONG r = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
    // Room for the terminator the system appends to a string that has none,
    // which it counts in no size.
    while (r == ERROR_SUCCESS || r == ERROR_MORE_DATA) {
        data.resize(size + sizeof(wchar_t));
        DWORD room = static_cast<DWORD>(data.size());
        r = RegQueryValueExW(key, name, nullptr, &type, data.data(), &room);
        size = room;
        if (r == ERROR_SUCCESS) {
            value = StoredValue{true, type, std::vector<std::uint8_t>(data.begin(),
                                                                      data.begin() + room)};
            return r;
        }
    }
    return r == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : r;
}

LONG write_value(HKEY key, const wchar_t *name, const StoredValue &value)
{
    if (!value.present) {
        const LONG r = RegDeleteValueW(key, name);
        return r == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : r;
    }
    return set_exact(key, name, value.type, value.data.data(),
                     static_cast<DWORD>(value.data.size()));
}

// Opens or creates a key; `made` tells whether it was created now.
LONG open_or_make(const wchar_t *path, Key &key, bool *made = nullptr)
{
    DWORD disposition = 0;
    const LONG r = RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                   &key.h, &disposition);
    if (made != nullptr)
        *made = r == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
    return r;
}

// Opens a key that may be missing (no handle then).
LONG open_existing(const wchar_t *path, REGSAM access, Key &key)
{
    const LONG r = RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, access, &key.h);
    return r == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : r;
}

LONG read_record(HKEY selection, SelectionRecord &record)
{
    record = SelectionRecord{};
    if (selection == nullptr)
        return ERROR_SUCCESS;
    record.exists = true;
    const LONG r = read_value(selection, kSaved, record.earlier);
    record.kept = record.earlier.present || has_value(selection, kNoneSaved);
    return r;
}

// Deletes a key the selection made, only while nothing else is in it.
void remove_if_empty(const wchar_t *path)
{
    Key key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key.h) != ERROR_SUCCESS)
        return;
    DWORD subkeys = 1, values = 1;
    const bool empty = RegQueryInfoKeyW(key.h, nullptr, nullptr, nullptr, &subkeys, nullptr,
                                        nullptr, &values, nullptr, nullptr, nullptr,
                                        nullptr) == ERROR_SUCCESS &&
                       subkeys == 0 && values == 0;
    key.close();
    if (empty)
        RegDeleteKeyW(HKEY_CURRENT_USER, path);
}

int failed(const char *what, LONG r, std::string &message, const char *so = nullptr)
{
    message = format("%s: error %ld", what, r);
    if (so != nullptr)
        message += format("; %s", so);
    return -1;
}

// Keeps `audio` as the earlier value. The form that no longer applies goes
// first: cut here, the record keeps nothing, and Audio is still unchanged.
LONG keep(HKEY selection, const StoredValue &audio, bool made_drivers, bool made_own)
{
    LONG r = ERROR_SUCCESS;
    if (made_drivers)
        r = set_flag(selection, kMadeDrivers);
    if (r == ERROR_SUCCESS && made_own)
        r = set_flag(selection, kMadeOwn);
    if (r == ERROR_SUCCESS)
        r = write_value(selection, audio.present ? kNoneSaved : kSaved, StoredValue{});
    if (r == ERROR_SUCCESS)
        r = audio.present ? write_value(selection, kSaved, audio) : set_flag(selection, kNoneSaved);
    return r;
}

} // namespace

int select_driver(std::string &message)
{
    message.clear();
    Key drivers, existing;
    bool made_drivers = false;
    LONG r = open_or_make(kDrivers, drivers, &made_drivers);
    if (r != ERROR_SUCCESS)
        return failed("cannot open HKCU\\Software\\Wine\\Drivers", r, message);
    StoredValue audio;
    r = read_value(drivers.h, kAudio, audio);
    if (r != ERROR_SUCCESS)
        return failed("cannot read Audio", r, message);
    SelectionRecord record;
    r = open_existing(kSelection, KEY_READ, existing);
    if (r == ERROR_SUCCESS)
        r = read_record(existing.h, record);
    if (r != ERROR_SUCCESS)
        return failed("cannot read HKCU\\Software\\Tarnwick\\VirtualPeripheral", r, message);
    existing.close();
    const SelectSteps steps = select_steps(record, audio);
    if (steps.keep) {
        Key own, selection;
        bool made_own = false;
        r = open_or_make(kOwn, own, &made_own);
        if (r == ERROR_SUCCESS)
            r = open_or_make(kSelection, selection);
        if (r == ERROR_SUCCESS)
            r = keep(selection.h, audio, made_drivers, made_own);
        if (r != ERROR_SUCCESS)
            return failed("cannot keep the earlier Audio under "
                          "HKCU\\Software\\Tarnwick\\VirtualPeripheral",
                          r, message, "Audio is unchanged");
    }
    if (steps.set_ours) {
        r = write_value(drivers.h, kAudio, our_audio());
        if (r != ERROR_SUCCESS)
            return failed("cannot set Audio", r, message, "it is unchanged");
    }
    return steps.result;
}

int restore_driver(std::string &message)
{
    message.clear();
    Key selection, drivers;
    SelectionRecord record;
    LONG r = open_existing(kSelection, KEY_READ, selection);
    if (r == ERROR_SUCCESS)
        r = read_record(selection.h, record);
    if (r != ERROR_SUCCESS)
        return failed("cannot read HKCU\\Software\\Tarnwick\\VirtualPeripheral", r, message);
    if (!record.exists)
        return 0;
    StoredValue audio;
    r = open_existing(kDrivers, KEY_ALL_ACCESS, drivers);
    if (r == ERROR_SUCCESS)
        r = read_value(drivers.h, kAudio, audio);
    if (r != ERROR_SUCCESS)
        return failed("cannot read Audio", r, message);
    const RestoreSteps steps = restore_steps(record, audio);
    // Giving back means Audio is ours, so its key is there.
    if (steps.give_back && (r = write_value(drivers.h, kAudio, record.earlier)) != ERROR_SUCCESS)
        return failed("cannot give Audio back", r, message,
                      "the value from before stays kept under "
                      "HKCU\\Software\\Tarnwick\\VirtualPeripheral");
    if (steps.drop_record) {
        const bool made_drivers = has_value(selection.h, kMadeDrivers);
        const bool made_own = has_value(selection.h, kMadeOwn);
        drivers.close();
        selection.close();
        r = RegDeleteKeyW(HKEY_CURRENT_USER, kSelection);
        if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND)
            return failed("cannot remove HKCU\\Software\\Tarnwick\\VirtualPeripheral", r,
                          message);
        if (made_own)
            remove_if_empty(kOwn);
        if (made_drivers)
            remove_if_empty(kDrivers);
    }
    return steps.result;
}

} // namespace vperiph
