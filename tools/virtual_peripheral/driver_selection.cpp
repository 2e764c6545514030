// Selecting the virtual peripheral's driver for Wine's own winmm: the
// prefix's audio driver becomes "vp" (winevp.drv), and what was chosen before
// is kept beside, to be given back exactly, with every key the selection
// made and nothing else taken away again.
#include "driver_selection.h"

#include <vector>

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
const wchar_t kOurs[] = L"vp";

// A value's type and bytes; ERROR_FILE_NOT_FOUND when there is none.
LONG read_value(HKEY key, const wchar_t *name, DWORD &type, std::vector<BYTE> &data)
{
    DWORD size = 0;
    LONG r = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
    if (r != ERROR_SUCCESS)
        return r;
    data.resize(size);
    r = RegQueryValueExW(key, name, nullptr, &type, size ? data.data() : nullptr, &size);
    data.resize(size);
    return r;
}

LONG set_ours(HKEY drivers)
{
    return RegSetValueExW(drivers, kAudio, 0, REG_SZ, reinterpret_cast<const BYTE *>(kOurs),
                          sizeof kOurs);
}

// Opens or creates a key; `made` tells whether it was created now.
LONG open_or_make(const wchar_t *path, Key &key, bool &made)
{
    DWORD disposition = 0;
    const LONG r = RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                   &key.h, &disposition);
    made = r == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
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

int failed(const char *what, LONG r, std::string &message)
{
    message = format("%s: error %ld", what, r);
    return -1;
}

} // namespace

int select_driver(std::string &message)
{
    message.clear();
    Key drivers, own, selection;
    bool made_drivers = false, made_own = false, made_selection = false;
    LONG r = open_or_make(kDrivers, drivers, made_drivers);
    if (r != ERROR_SUCCESS)
        return failed("cannot open HKCU\\Software\\Wine\\Drivers", r, message);
    // Read before the selection is claimed: a second selection made at the
    // same time then finds the claim and keeps nothing of its own.
    DWORD type = 0;
    std::vector<BYTE> before;
    const LONG had = read_value(drivers.h, kAudio, type, before);
    if (had != ERROR_SUCCESS && had != ERROR_FILE_NOT_FOUND)
        return failed("cannot read Audio", had, message);
    r = open_or_make(kOwn, own, made_own);
    if (r == ERROR_SUCCESS)
        r = open_or_make(kSelection, selection, made_selection);
    if (r != ERROR_SUCCESS)
        return failed("cannot keep the earlier Audio", r, message);
    if (!made_selection) {
        // Selected already: what was there before is kept, and stays so.
        r = set_ours(drivers.h);
        return r == ERROR_SUCCESS ? 0 : failed("cannot set Audio", r, message);
    }
    r = had == ERROR_SUCCESS ? RegSetValueExW(selection.h, kSaved, 0, type, before.data(),
                                              static_cast<DWORD>(before.size()))
                             : set_flag(selection.h, kNoneSaved);
    if (r == ERROR_SUCCESS && made_drivers)
        r = set_flag(selection.h, kMadeDrivers);
    if (r == ERROR_SUCCESS && made_own)
        r = set_flag(selection.h, kMadeOwn);
    if (r == ERROR_SUCCESS)
        r = set_ours(drivers.h);
    if (r != ERROR_SUCCESS) {
        selection.close();
        RegDeleteKeyW(HKEY_CURRENT_USER, kSelection);
        if (made_own)
            remove_if_empty(kOwn);
        return failed("cannot keep the earlier Audio or set the new one", r, message);
    }
    return 1;
}

int restore_driver(std::string &message)
{
    message.clear();
    Key selection, drivers;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSelection, 0, KEY_READ, &selection.h) != ERROR_SUCCESS)
        return 0;
    DWORD type = 0;
    std::vector<BYTE> before;
    const bool saved = read_value(selection.h, kSaved, type, before) == ERROR_SUCCESS;
    // A selection that did not get as far as keeping the earlier value
    // leaves Audio as it is rather than guess.
    if (!saved && !has_value(selection.h, kNoneSaved))
        return failed("the selection kept no earlier Audio (it did not finish); Audio is left as "
                      "it is, and HKCU\\Software\\Tarnwick\\VirtualPeripheral with it",
                      ERROR_INVALID_DATA, message);
    const bool made_drivers = has_value(selection.h, kMadeDrivers);
    const bool made_own = has_value(selection.h, kMadeOwn);
    LONG r = RegOpenKeyExW(HKEY_CURRENT_USER, kDrivers, 0, KEY_ALL_ACCESS, &drivers.h);
    if (r == ERROR_SUCCESS)
        r = saved ? RegSetValueExW(drivers.h, kAudio, 0, type, before.data(),
                                   static_cast<DWORD>(before.size()))
                  : RegDeleteValueW(drivers.h, kAudio);
    if (r == ERROR_FILE_NOT_FOUND && !saved)
        r = ERROR_SUCCESS;
    if (r != ERROR_SUCCESS)
        return failed("cannot give Audio back", r, message);
    drivers.close();
    selection.close();
    RegDeleteKeyW(HKEY_CURRENT_USER, kSelection);
    if (made_own)
        remove_if_empty(kOwn);
    if (made_drivers)
        remove_if_empty(kDrivers);
    return 1;
}

} // namespace vperiph
