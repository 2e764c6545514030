// What the two registry writers (usb_registration.cpp, driver_selection.cpp)
// share: a key closed on every path, and the flag values they mark keys with.
#ifndef VPERIPH_REGISTRY_KEY_H
#define VPERIPH_REGISTRY_KEY_H

#include <windows.h>

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

inline LONG set_flag(HKEY key, const wchar_t *name)
{
    const DWORD one = 1;
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&one), sizeof one);
}

} // namespace vperiph

#endif
