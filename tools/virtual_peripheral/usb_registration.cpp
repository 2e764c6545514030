// The USB entries of a description as device instances in the registry of
// the Wine prefix, where Wine's own setupapi lists them: the second
// counterpart of the presence queries, which nobody here wrote. Every key
// added carries a marker value, so that removing takes exactly those keys,
// whichever process added them.
#define _WIN32_WINNT 0x0601 // RegDeleteTreeW
#include "usb_registration.h"

#include <vector>

#include "registry_key.h"
#include "text.h"

namespace vperiph {

namespace {

const wchar_t kUsbEnum[] = L"System\\CurrentControlSet\\Enum\\USB";
const wchar_t kMarker[] = L"TarnwickVirtualPeripheral";
// The class of USB host controllers and hubs; any class would be listed.
const wchar_t kUsbClass[] = L"{36fc9e60-c465-11cf-8056-444553540000}";

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

// The instance key of the entry at `place`: "TARNWICK&<place>", or the next
// free number when a key of that name is there. Such a key was not made by
// this registration (the earlier one's are removed first): nothing is
// written into it, and removing never takes it.
LONG create_instance(HKEY device, std::size_t place, Key &instance)
{
    for (std::size_t n = place;; ++n) {
        DWORD disposition = 0;
        const LONG r = RegCreateKeyExW(device, (L"TARNWICK&" + std::to_wstring(n)).c_str(), 0,
                                       nullptr, 0, KEY_ALL_ACCESS, nullptr, &instance.h,
                                       &disposition);
        if (r != ERROR_SUCCESS)
            return r;
        if (disposition == REG_CREATED_NEW_KEY)
            return set_flag(instance.h, kMarker);
        instance.close();
    }
}

LONG add_entry(HKEY usb, const UsbEntry &e, std::size_t index)
{
    Key device, instance;
    LONG r = create(usb, device_id(e), device);
    if (r == ERROR_SUCCESS)
        r = create_instance(device.h, index, instance);
    // Byte for byte: a description may give the property with an odd length
    // or without its terminators. The class last: Wine's setupapi lists an
    // instance once it has one, so a run cut short lists nothing half made.
    if (r == ERROR_SUCCESS)
        r = set_exact(instance.h, L"HardwareID", REG_MULTI_SZ, e.property.data(),
                      static_cast<DWORD>(e.property.size()));
    if (r == ERROR_SUCCESS)
        r = set_exact(instance.h, L"ClassGUID", REG_SZ, reinterpret_cast<const BYTE *>(kUsbClass),
                      sizeof kUsbClass);
    return r;
}

} // namespace

int remove_marked(std::string &message)
{
    Key usb;
    const LONG r = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUsbEnum, 0, KEY_ALL_ACCESS, &usb.h);
    if (r == ERROR_FILE_NOT_FOUND)
        return 0;
    if (r != ERROR_SUCCESS) {
        message = format("cannot open HKLM\\%ls: error %ld", kUsbEnum, r);
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

int register_description(const Description &d, std::string &message)
{
    // Wine's setupapi lists every instance with a ClassGUID as present, in the
    // registry's order, and reads whole values: what only the stand-in
    // setupapi presents is refused, and "fail N" counts the stand-ins' calls.
    const Named refused = name_items(d, kUsbOptions | kClassdevsFail | kFailCall);
    if (refused.count > 0) {
        message = "only the stand-in setupapi can present these; Wine's own lists what the "
                  "registry holds:";
        for (const std::string &item : refused.shown)
            message += "\n  " + item;
        if (refused.count > refused.shown.size())
            message += format("\n  and %zu more", refused.count - refused.shown.size());
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

} // namespace vperiph
