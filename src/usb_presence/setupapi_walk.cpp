// The only file of the USB side that talks to Windows: one device-information
// set per walk, read member by member.
#include <windows.h>
#include <setupapi.h>

#include <cstdlib>
#include <cstring>

#include "usb_entries.h"

namespace tarnwick {

namespace {

// The first read asks for 259 bytes, as hosts have always seen; longer lists
// are then read whole at the size the platform asks for.
constexpr DWORD kFirstRequestBytes = 259;
constexpr int kGrowAttempts = 3; // the list may grow between two reads

class PropertyStore {
public:
    PropertyStore() = default;
    PropertyStore(const PropertyStore &) = delete;
    PropertyStore &operator=(const PropertyStore &) = delete;
    ~PropertyStore() { std::free(heap_); }

    unsigned char *fixed() { return reinterpret_cast<unsigned char *>(fixed_); }

    unsigned char *grow(DWORD bytes)
    {
        if (bytes > heap_size_) {
            void *bigger = std::realloc(heap_, bytes);
            if (bigger == nullptr)
                return nullptr;
            heap_ = static_cast<unsigned char *>(bigger);
            heap_size_ = bytes;
        }
        return heap_;
    }

private:
    WCHAR fixed_[260];
    unsigned char *heap_ = nullptr;
    DWORD heap_size_ = 0;
};

bool read_property(HDEVINFO set, SP_DEVINFO_DATA &member, unsigned char *buffer, DWORD capacity,
                   DWORD &required, std::size_t &delivered)
{
    std::memset(buffer, 0, capacity);
    DWORD type = 0;
    required = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &member, SPDRP_HARDWAREID, &type, buffer,
                                           capacity, &required))
        return false;
    delivered = (required == 0 || required > capacity) ? capacity : required;
    return true;
}

bool read_hardware_id_list(HDEVINFO set, SP_DEVINFO_DATA &member, PropertyStore &store,
                           UsbEntry &entry)
{
    DWORD required = 0;
    std::size_t delivered = 0;
    unsigned char *buffer = store.fixed();
    bool read = read_property(set, member, buffer, kFirstRequestBytes, required, delivered);
    for (int attempt = 0; !read && attempt < kGrowAttempts; ++attempt) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || required == 0)
            break;
        const DWORD capacity = required;
        buffer = store.grow(capacity);
        if (buffer == nullptr)
            break;
        read = read_property(set, member, buffer, capacity, required, delivered);
    }
    if (read) {
        entry.property = buffer;
        entry.property_size = delivered;
    }
    return read;
}

// One step of the walk: member `index` of the open set. False when there is
// no such member (past the end, or enumeration failed).
bool read_usb_hardware_ids(HDEVINFO set, DWORD index, PropertyStore &store, UsbEntry &entry)
{
    SP_DEVINFO_DATA member;
    std::memset(&member, 0, sizeof member);
    member.cbSize = sizeof member;
    if (!SetupDiEnumDeviceInfo(set, index, &member))
        return false;

    entry = UsbEntry{};
    entry.index = index;
    entry.property_read = read_hardware_id_list(set, member, store, entry);
    entry.shape = entry.property_read
                      ? parse_hardware_id(entry.property, entry.property_size, entry.ids)
                      : HardwareIdShape::no_v;
    return true;
}

} // namespace

bool walk_usb_entries(UsbEntryVisitor visit, void *context)
{
    HDEVINFO set =
        SetupDiGetClassDevsW(nullptr, L"USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE)
        return false;
    {
        PropertyStore store;
        UsbEntry entry{};
        for (DWORD index = 0; read_usb_hardware_ids(set, index, store, entry); ++index)
            visit(entry, context);
    }
    SetupDiDestroyDeviceInfoList(set);
    return true;
}

} // namespace tarnwick
