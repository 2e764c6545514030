// The stand-in SetupAPI device-list functions, with their real signatures:
// the USB entries of the description, every call logged, every set checked.
#define _SETUPAPI_
#define VPERIPH_BUILDING
#include <windows.h>
#include <setupapi.h>

#include <cstring>

#include "state.h"

namespace vperiph {

namespace {

bool set_was_issued(const State &s, HDEVINFO set)
{
    return was_issued(reinterpret_cast<std::uintptr_t>(set), kFirstSet, s.next_set);
}

DeviceSet *live_set(Session &session, HDEVINFO set, const char *function)
{
    auto it = session.s().sets.find(reinterpret_cast<std::uintptr_t>(set));
    if (it != session.s().sets.end())
        return &it->second;
    session.fault(format("%s on %s set %p", function,
                         set_was_issued(session.s(), set) ? "destroyed" : "unknown", set));
    return nullptr;
}

std::string wide_arg(const wchar_t *s)
{
    if (s == nullptr)
        return "null";
    std::u16string u;
    for (; *s != 0; ++s)
        u += static_cast<char16_t>(*s);
    return "\"" + utf8(u) + "\"";
}

// How a SetupAPI call's BOOL result reads in the log.
std::string bool_result(DWORD error)
{
    return error == 0 ? "TRUE" : format("FALSE error=%lu", static_cast<unsigned long>(error));
}

} // namespace

} // namespace vperiph

using namespace vperiph;

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID *ClassGuid, PCWSTR Enumerator, HWND hwndParent,
                                     DWORD Flags)
{
    Session session;
    State &s = session.s();
    ++s.counters.set_builds;
    DWORD error = 0;
    if (session.injected())
        error = session.injected_status(ERROR_NOT_ENOUGH_MEMORY);
    else if (s.d.classdevs_error != 0)
        error = s.d.classdevs_error;
    else if (ClassGuid == nullptr && !(Flags & DIGCF_ALLCLASSES))
        error = ERROR_INVALID_PARAMETER;
    std::string guid = "null";
    if (ClassGuid != nullptr)
        guid = format("{%08lx-...}", static_cast<unsigned long>(ClassGuid->Data1));
    HDEVINFO result = INVALID_HANDLE_VALUE;
    if (error == 0) {
        const unsigned build = ++s.builds;
        DeviceSet set;
        const bool usb = Enumerator != nullptr && lstrcmpiW(Enumerator, L"USB") == 0;
        for (size_t i = 0; usb && i < s.d.usb.size(); ++i) {
            const UsbEntry &e = s.d.usb[i];
            if (build > e.appear && (e.vanish == 0 || build <= e.vanish))
                set.members.push_back(i);
        }
        const std::uintptr_t h = s.next_set++;
        s.sets[h] = set;
        result = reinterpret_cast<HDEVINFO>(h);
    }
    session.log(format("SetupDiGetClassDevsW(class=%s, enumerator=%s, parent=%p, flags=0x%lx) -> %s",
                       guid.c_str(), wide_arg(Enumerator).c_str(), static_cast<void *>(hwndParent),
                       static_cast<unsigned long>(Flags),
                       error == 0 ? format("set=%p", result).c_str()
                                  : format("INVALID_HANDLE_VALUE error=%lu",
                                           static_cast<unsigned long>(error)).c_str()));
    SetLastError(error);
    return result;
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                                  PSP_DEVINFO_DATA DeviceInfoData)
{
    Session session;
    State &s = session.s();
    ++s.counters.enum_calls;
    DeviceSet *set = live_set(session, DeviceInfoSet, "SetupDiEnumDeviceInfo");
    DWORD error = 0;
    if (session.injected())
        error = session.injected_status(ERROR_INVALID_DATA);
    else if (set == nullptr)
        error = ERROR_INVALID_HANDLE;
    else if (DeviceInfoData == nullptr)
        error = ERROR_INVALID_PARAMETER;
    else if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))
        error = ERROR_INVALID_USER_BUFFER;
    else if (MemberIndex >= set->members.size())
        error = ERROR_NO_MORE_ITEMS;
    if (error == 0 && set != nullptr && MemberIndex < set->members.size()) {
        std::memset(&DeviceInfoData->ClassGuid, 0, sizeof DeviceInfoData->ClassGuid);
        DeviceInfoData->DevInst = static_cast<DWORD>(set->members[MemberIndex] + 1);
        DeviceInfoData->Reserved = MemberIndex;
    }
    session.log(format("SetupDiEnumDeviceInfo(set=%p, index=%lu, cbSize=%lu) -> %s",
                       DeviceInfoSet, static_cast<unsigned long>(MemberIndex),
                       DeviceInfoData ? static_cast<unsigned long>(DeviceInfoData->cbSize) : 0ul,
                       bool_result(error).c_str()));
    SetLastError(error);
    return error == 0;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet,
                                              PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize)
{
    Session session;
    State &s = session.s();
    ++s.counters.property_reads;
    DeviceSet *set = live_set(session, DeviceInfoSet, "SetupDiGetDeviceRegistryPropertyW");
    DWORD error = 0;
    const UsbEntry *entry = nullptr;
    if (session.injected())
        error = session.injected_status(ERROR_INVALID_DATA);
    else if (set == nullptr)
        error = ERROR_INVALID_HANDLE;
    else if (DeviceInfoData == nullptr || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA) ||
             DeviceInfoData->Reserved >= set->members.size())
        error = ERROR_INVALID_PARAMETER;
    else if (Property != SPDRP_HARDWAREID)
        error = ERROR_INVALID_DATA;
    else if ((entry = &s.d.usb[set->members[DeviceInfoData->Reserved]])->property_error != 0)
        error = entry->property_error;
    DWORD length = 0;
    if (error == 0 && entry != nullptr) {
        length = static_cast<DWORD>(entry->property.size());
        if (RequiredSize != nullptr)
            *RequiredSize = length;
        if (PropertyBuffer == nullptr || PropertyBufferSize < length) {
            error = ERROR_INSUFFICIENT_BUFFER;
        } else {
            std::memcpy(PropertyBuffer, entry->property.data(), length);
            if (PropertyRegDataType != nullptr)
                *PropertyRegDataType = REG_MULTI_SZ;
        }
    }
    session.log(format("SetupDiGetDeviceRegistryPropertyW(set=%p, member=%lu, property=%lu, "
                       "size=%lu) -> %s required=%lu",
                       DeviceInfoSet,
                       DeviceInfoData ? static_cast<unsigned long>(DeviceInfoData->Reserved) : 0ul,
                       static_cast<unsigned long>(Property),
                       static_cast<unsigned long>(PropertyBufferSize),
                       bool_result(error).c_str(),
                       static_cast<unsigned long>(length)));
    SetLastError(error);
    return error == 0;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet)
{
    Session session;
    State &s = session.s();
    auto it = s.sets.find(reinterpret_cast<std::uintptr_t>(DeviceInfoSet));
    DWORD error = 0;
    if (it != s.sets.end()) {
        // As with a port close, an injected failure still releases the set.
        s.sets.erase(it);
        ++s.counters.set_destroys;
    } else {
        session.fault(set_was_issued(s, DeviceInfoSet)
                          ? format("set %p destroyed twice", DeviceInfoSet)
                          : format("SetupDiDestroyDeviceInfoList of unknown set %p", DeviceInfoSet));
        error = ERROR_INVALID_HANDLE;
    }
    if (session.injected() && error == 0)
        error = session.injected_status(ERROR_INVALID_HANDLE);
    session.log(format("SetupDiDestroyDeviceInfoList(set=%p) -> %s", DeviceInfoSet,
                       bool_result(error).c_str()));
    SetLastError(error);
    return error == 0;
}

} // extern "C"
