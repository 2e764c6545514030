// The USB entries of a description as device instances in the registry of
// the Wine prefix, where Wine's own setupapi lists them: the second
// counterpart of the presence queries, which nobody here wrote. Every key
// added carries a marker value, so that removing takes exactly those keys,
// whichever process added them.
#define _WIN32_WINNT 0x0601 // RegDeleteTreeW
#define VPERIPH_BUILDING
#include <windows.h>

#include <string>
#include <vector>

#include "description.h"
#include "state.h"

namespace vperiph {

namespace {

const wchar_t kUsbEnum[] = L"System\\CurrentControlSet\\Enum\\USB";
const wchar_t kMarker[] = L"TarnwickVirtualPeripheral";
// The class of USB host controllers and hubs; any class would be listed.
const wchar_t kUsbClass[] = L"{36fc9e60-c465-11cf-8056-444553540000}";

// Closes a registry key on every path.
class Key {
public:
    Key() = default;
    ~Key() { close(); }
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    void close()
    {
        if (h != nullptr)
            RegCloseKey(h);
        h = nullptr;
    }
    HKEY h = nullptr;
};

bool has_value(HKEY key, const wchar_t *name)
{
    return RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

LONG set_flag(HKEY key, const wchar_t *name)
{
    const DWORD one = 1;
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&one), sizeof one);
}

bool marked(HKEY key) { return has_value(key, kMarker); }

// Opens or creates a key; one created here is marked as ours.
LONG create(HKEY parent, const std::wstring &name, Key &key)
{
    DWORD disposition = 0;
    LONG r = RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key.h,
                             &disposition);
    if (r == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY)
        r = set_flag(key.h, kMarker);
    return r;
}

std::vector<std::wstring> subkeys(HKEY key)
{
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

// The device key's name: the entry's first hardware ID without "USB\", as
// Windows names a device after it; the instance key's name numbers the entry.
std::wstring device_id(const UsbEntry &e)
{
    std::wstring first;
    for (std::size_t i = 0; i + 1 < e.property.size(); i += 2) {
        const auto c = static_cast<wchar_t>(e.property[i] | (e.property[i + 1] << 8));
        if (c == 0)
            break;
        first += c == L'\\' ? L'#' : c;
    }
    if (first.size() >= 4 && CompareStringOrdinal(first.c_str(), 4, L"USB#", 4, TRUE) == CSTR_EQUAL)
        first.erase(0, 4);
    if (first.empty())
        first = L"TARNWICK_VP";
    return first.substr(0, 128);
}

// Removes every marked instance key, then every marked key left empty.
// Returns the number of instances removed, or -1.
int remove_marked(std::string &error)
{
    Key usb;
    const LONG r = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUsbEnum, 0, KEY_ALL_ACCESS, &usb.h);
    if (r == ERROR_FILE_NOT_FOUND)
        return 0;
    if (r != ERROR_SUCCESS) {
        error = format("cannot open HKLM\\%ls: error %ld", kUsbEnum, r);
        return -1;
    }
    int removed = 0;
    for (const std::wstring &device_name : subkeys(usb.h)) {
        Key device;
        if (RegOpenKeyExW(usb.h, device_name.c_str(), 0, KEY_ALL_ACCESS, &device.h) !=
            ERROR_SUCCESS)
            continue;
        for (const std::wstring &instance_name : subkeys(device.h)) {
            bool ours = false;
            {
                Key instance;
                ours = RegOpenKeyExW(device.h, instance_name.c_str(), 0, KEY_READ,
                                     &instance.h) == ERROR_SUCCESS &&
                       marked(instance.h);
            }
            // The whole tree: listing the instance may have written to it.
            if (ours && RegDeleteTreeW(device.h, instance_name.c_str()) == ERROR_SUCCESS)
                ++removed;
        }
        if (marked(device.h) && subkeys(device.h).empty())
            RegDeleteKeyW(usb.h, device_name.c_str());
    }
    if (marked(usb.h) && subkeys(usb.h).empty()) {
        usb.close();
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kUsbEnum);
    }
    return removed;
}

LONG add_entry(HKEY usb, const UsbEntry &e, std::size_t index)
{
    Key device, instance;
    LONG r = create(usb, device_id(e), device);
    if (r == ERROR_SUCCESS)
        r = create(device.h, L"TARNWICK&" + std::to_wstring(index), instance);
    if (r == ERROR_SUCCESS)
        r = RegSetValueExW(instance.h, L"ClassGUID", 0, REG_SZ,
                           reinterpret_cast<const BYTE *>(kUsbClass), sizeof kUsbClass);
    if (r == ERROR_SUCCESS)
        r = RegSetValueExW(instance.h, L"HardwareID", 0, REG_MULTI_SZ, e.property.data(),
                           static_cast<DWORD>(e.property.size()));
    return r;
}

// Registers a parsed description; the count added, or -1 with the message.
int register_description(const Description &d, std::string &message)
{
    if (!d.standin_only.empty()) {
        message = "only the stand-in setupapi can present these; Wine's own lists what the "
                  "registry holds:";
        for (const std::string &item : d.standin_only)
            message += "\n  " + item;
        if (d.standin_only_count > d.standin_only.size())
            message += format("\n  and %zu more", d.standin_only_count - d.standin_only.size());
        return -1;
    }
    if (remove_marked(message) < 0)
        return -1;
    Key usb;
    LONG r = create(HKEY_LOCAL_MACHINE, kUsbEnum, usb);
    for (std::size_t i = 0; r == ERROR_SUCCESS && i < d.usb.size(); ++i)
        r = add_entry(usb.h, d.usb[i], i);
    if (r != ERROR_SUCCESS) {
        message = format("cannot write under HKLM\\%ls: error %ld", kUsbEnum, r);
        std::string ignored;
        remove_marked(ignored);
        return -1;
    }
    message.clear();
    return static_cast<int>(d.usb.size());
}

int finish(int result, const std::string &message, char *error, size_t error_size)
{
    copy_out(message, error, error_size);
    return result;
}

// What a call that could not get its memory says, without asking for more.
int out_of_memory(char *error, size_t error_size)
{
    static const char message[] = "not enough memory";
    if (error != nullptr && error_size > 0)
        lstrcpynA(error, message,
                  static_cast<int>(error_size < sizeof message ? error_size : sizeof message));
    return -1;
}

// A registry call's body; anything thrown becomes the failure for want of
// memory, told without asking for more.
template <typename F> int registry_call(char *error, size_t error_size, F f)
{
    const int r = guarded(-2, f);
    return r == -2 ? out_of_memory(error, error_size) : r;
}

} // namespace

} // namespace vperiph

using namespace vperiph;

extern "C" {

int VPERIPH_CALL vp_register(const char *description, char *error, size_t error_size)
{
    return registry_call(error, error_size, [&] {
        Description d;
        std::string message;
        if (description == nullptr)
            return finish(-1, "no description", error, error_size);
        if (!parse_description(description, d, message))
            return finish(-1, message, error, error_size);
        const int added = register_description(d, message);
        return finish(added, message, error, error_size);
    });
}

int VPERIPH_CALL vp_register_file(const wchar_t *path, char *error, size_t error_size)
{
    return registry_call(error, error_size, [&] {
        if (path == nullptr)
            return finish(-1, "no file", error, error_size);
        std::string bytes, message;
        bool absent = false;
        Description d;
        if (!read_description_file(path, bytes, message, absent) ||
            !parse_description(bytes, d, message))
            return finish(-1, message, error, error_size);
        const int added = register_description(d, message);
        return finish(added, message, error, error_size);
    });
}

int VPERIPH_CALL vp_unregister(char *error, size_t error_size)
{
    return registry_call(error, error_size, [&] {
        std::string message;
        const int removed = remove_marked(message);
        return finish(removed, message, error, error_size);
    });
}

} // extern "C"

// Selecting the virtual peripheral's driver for Wine's own winmm: the
// prefix's audio driver becomes "vp" (winevp.drv), and what was chosen before
// is kept beside, to be given back exactly, with every key the selection
// made and nothing else taken away again.
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

int failed(const char *what, LONG r, char *error, size_t error_size)
{
    return finish(-1, format("%s: error %ld", what, r), error, error_size);
}

int select_driver(char *error, size_t error_size)
{
    copy_out("", error, error_size);
    Key drivers, own, selection;
    bool made_drivers = false, made_own = false, made_selection = false;
    LONG r = open_or_make(kDrivers, drivers, made_drivers);
    if (r != ERROR_SUCCESS)
        return failed("cannot open HKCU\\Software\\Wine\\Drivers", r, error, error_size);
    // Read before the selection is claimed: a second selection made at the
    // same time then finds the claim and keeps nothing of its own.
    DWORD type = 0;
    std::vector<BYTE> before;
    const LONG had = read_value(drivers.h, kAudio, type, before);
    if (had != ERROR_SUCCESS && had != ERROR_FILE_NOT_FOUND)
        return failed("cannot read Audio", had, error, error_size);
    r = open_or_make(kOwn, own, made_own);
    if (r == ERROR_SUCCESS)
        r = open_or_make(kSelection, selection, made_selection);
    if (r != ERROR_SUCCESS)
        return failed("cannot keep the earlier Audio", r, error, error_size);
    if (!made_selection) {
        // Selected already: what was there before is kept, and stays so.
        r = set_ours(drivers.h);
        return r == ERROR_SUCCESS ? 0 : failed("cannot set Audio", r, error, error_size);
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
        return failed("cannot keep the earlier Audio or set the new one", r, error, error_size);
    }
    return 1;
}

int restore_driver(char *error, size_t error_size)
{
    copy_out("", error, error_size);
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
                      ERROR_INVALID_DATA, error, error_size);
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
        return failed("cannot give Audio back", r, error, error_size);
    drivers.close();
    selection.close();
    RegDeleteKeyW(HKEY_CURRENT_USER, kSelection);
    if (made_own)
        remove_if_empty(kOwn);
    if (made_drivers)
        remove_if_empty(kDrivers);
    return 1;
}

} // namespace

} // namespace vperiph

extern "C" {

int VPERIPH_CALL vp_select_driver(char *error, size_t error_size)
{
    return registry_call(error, error_size, [&] { return select_driver(error, error_size); });
}

int VPERIPH_CALL vp_restore_driver(char *error, size_t error_size)
{
    return registry_call(error, error_size, [&] { return restore_driver(error, error_size); });
}

} // extern "C"
