// What the two registry writers (usb_registration.cpp, driver_selection.cpp)
// share: a key closed on every path, values written byte for byte, and the
// flag values they mark keys with.
#ifndef VPERIPH_REGISTRY_KEY_H
#define VPERIPH_REGISTRY_KEY_H

#include <windows.h>
#include <winternl.h>

namespace vperiph {

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

inline bool has_value(HKEY key, const wchar_t *name)
{
    return RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

extern "C" NTSTATUS NTAPI NtSetValueKey(HANDLE key, PUNICODE_STRING name, ULONG title_index,
                                        ULONG type, PVOID data, ULONG size);

// Writes exactly `size` bytes of `data` (null when size is 0) as a value of
// `type`. RegSetValueExW adds a terminator to a string value whose bytes seem
// to lack one, reading past them to decide: a one-byte REG_SZ would come out
// three bytes long.
inline LONG set_exact(HKEY key, const wchar_t *name, DWORD type, const BYTE *data, DWORD size)
{
    UNICODE_STRING value_name;
    RtlInitUnicodeString(&value_name, name);
    const NTSTATUS status = NtSetValueKey(key, &value_name, 0, type, const_cast<BYTE *>(data), size);
    return static_cast<LONG>(RtlNtStatusToDosError(status));
}

inline LONG set_flag(HKEY key, const wchar_t *name)
{
    const DWORD one = 1;
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&one), sizeof one);
}

} // namespace vperiph

#endif
