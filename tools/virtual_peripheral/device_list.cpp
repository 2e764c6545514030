// The stand-in SetupAPI device-list functions, with their real signatures:
// the USB entries of the description, every call logged, every set checked.
#define _SETUPAPI_
#define VPERIPH_BUILDING
#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <cstring>

#include "state.h"
#include "text.h"

namespace vperiph {

namespace {

using Members = std::shared_ptr<const std::vector<std::uint32_t>>;

// The live set `set`, counted as used by this call, or null with the fault
// recorded.
const Holder *live_set(Record &r, HDEVINFO set, const char *function)
{
    const auto value = reinterpret_cast<std::uintptr_t>(set);
    const Holder *held = r.sets.used(value, r.counts.calls);
    if (held == nullptr)
        add_fault(r, "%s on %s set 0x%llx", function,
                  r.set_handles.was_issued(value) ? "destroyed" : "unknown", value_of(set));
    return held;
}

// The members of a set of the given build; a host that polls makes the
// same list again and again, so an unchanged one is shared.
Members members_at(const Description &d, std::uint64_t build)
{
    static Members last;
    auto members = std::make_shared<std::vector<std::uint32_t>>();
    for (std::size_t i = 0; i < d.usb.size(); ++i) {
        const UsbEntry &e = d.usb[i];
        if (build > e.appear && (e.vanish == 0 || build <= e.vanish))
            members->push_back(static_cast<std::uint32_t>(i));
    }
    if (last == nullptr || *last != *members)
        last = members;
    return last;
}

const std::vector<std::uint32_t> *members_of(Loaded &l, HDEVINFO set)
{
    const auto it = l.members.find(reinterpret_cast<std::uintptr_t>(set));
    return it == l.members.end() ? nullptr : it->second.get();
}

std::string wide_arg(const wchar_t *s)
{
    if (s == nullptr)
        return "null";
    std::u16string u;
    for (; *s != 0 && u.size() < 64; ++s)
        u += static_cast<char16_t>(*s);
    return "\"" + quoted(u) + (*s != 0 ? "...\"" : "\"");
}

// How a SetupAPI call's result reads in the log; made after the record
// changed, so it asks for no memory.
struct Result {
    char text[64];
};

Result bool_result(DWORD error)
{
    Result r{"TRUE"};
    if (error != 0)
        std::snprintf(r.text, sizeof r.text, "FALSE error=%lu", static_cast<unsigned long>(error));
    return r;
}

Result set_result(DWORD error, HDEVINFO set)
{
    Result r{};
    if (error == 0)
        std::snprintf(r.text, sizeof r.text, "set=0x%llx", value_of(set));
    else
        std::snprintf(r.text, sizeof r.text, "INVALID_HANDLE_VALUE error=%lu",
                      static_cast<unsigned long>(error));
    return r;
}

} // namespace

} // namespace vperiph

using namespace vperiph;

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID *ClassGuid, PCWSTR Enumerator, HWND hwndParent,
                                     DWORD Flags)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return in_session<HDEVINFO>("SetupDiGetClassDevsW", INVALID_HANDLE_VALUE, [&](Session &session) {
        const Description &d = session.d();
        const Record &now = session.record();
        // What may allocate comes first, before the record changes.
        const std::string log_args =
            format("SetupDiGetClassDevsW(class=%s, enumerator=%s, parent=0x%llx, flags=0x%lx)",
                   ClassGuid == nullptr
                       ? "null"
                       : format("{%08lx-...}", static_cast<unsigned long>(ClassGuid->Data1)).c_str(),
                   wide_arg(Enumerator).c_str(), value_of(hwndParent),
                   static_cast<unsigned long>(Flags));
        const bool usb = Enumerator != nullptr && lstrcmpiW(Enumerator, L"USB") == 0;
        const Members members =
            usb ? members_at(d, now.builds + 1) : std::make_shared<std::vector<std::uint32_t>>();
        const std::uintptr_t h =
            now.set_handles.next([&](std::uintptr_t v) { return now.sets.find(v) != nullptr; });
        session.loaded().members[h] = members;
        const DWORD thread = GetCurrentThreadId();
        const DWORD error = session.call([&](Record &rec, bool failing) {
            ++rec.counts.set_builds;
            DWORD e = failing                   ? session.injected_status(ERROR_NOT_ENOUGH_MEMORY)
                      : d.classdevs_error != 0 ? d.classdevs_error
                      : ClassGuid == nullptr && !(Flags & DIGCF_ALLCLASSES)
                          ? DWORD(ERROR_INVALID_PARAMETER)
                          : DWORD(0);
            if (e == 0 && rec.sets.full()) {
                add_fault(rec, "SetupDiGetClassDevsW with %u sets live already",
                          static_cast<unsigned>(kMostOpenSets));
                e = ERROR_NOT_ENOUGH_MEMORY;
            }
            if (e == 0) {
                ++rec.builds;
                rec.set_handles.take(h);
                rec.sets.add(Holder{h, 0, thread, false, rec.counts.calls});
            }
            return e;
        });
        if (error != 0)
            session.loaded().members.erase(h);
        const HDEVINFO result = error == 0 ? reinterpret_cast<HDEVINFO>(h) : INVALID_HANDLE_VALUE;
        session.log("%s -> %s", log_args.c_str(), set_result(error, result).text);
        SetLastError(error);
        return result;
    });
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                                  PSP_DEVINFO_DATA DeviceInfoData)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return in_session<BOOL>("SetupDiEnumDeviceInfo", FALSE, [&](Session &session) {
        const std::vector<std::uint32_t> *members = members_of(session.loaded(), DeviceInfoSet);
        const DWORD error = session.call([&](Record &rec, bool failing) {
            ++rec.counts.enum_calls;
            const Holder *set = live_set(rec, DeviceInfoSet, "SetupDiEnumDeviceInfo");
            return failing                      ? session.injected_status(ERROR_INVALID_DATA)
                   : set == nullptr || members == nullptr ? DWORD(ERROR_INVALID_HANDLE)
                   : DeviceInfoData == nullptr ? DWORD(ERROR_INVALID_PARAMETER)
                   : DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA) ? DWORD(ERROR_INVALID_USER_BUFFER)
                   : MemberIndex >= members->size() ? DWORD(ERROR_NO_MORE_ITEMS)
                                                    : DWORD(0);
        });
        if (error == 0) {
            std::memset(&DeviceInfoData->ClassGuid, 0, sizeof DeviceInfoData->ClassGuid);
            DeviceInfoData->DevInst = (*members)[MemberIndex] + 1;
            DeviceInfoData->Reserved = MemberIndex;
        }
        session.log("SetupDiEnumDeviceInfo(set=0x%llx, index=%lu, cbSize=%lu) -> %s",
                    value_of(DeviceInfoSet), static_cast<unsigned long>(MemberIndex),
                    DeviceInfoData ? static_cast<unsigned long>(DeviceInfoData->cbSize) : 0ul,
                    bool_result(error).text);
        SetLastError(error);
        return error == 0 ? TRUE : FALSE;
    });
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet,
                                              PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return in_session<BOOL>("SetupDiGetDeviceRegistryPropertyW", FALSE, [&](Session &session) {
        const Description &d = session.d();
        const std::vector<std::uint32_t> *members = members_of(session.loaded(), DeviceInfoSet);
        const UsbEntry *entry = nullptr;
        DWORD error = session.call([&](Record &rec, bool failing) -> DWORD {
            ++rec.counts.property_reads;
            const Holder *set = live_set(rec, DeviceInfoSet, "SetupDiGetDeviceRegistryPropertyW");
            if (failing)
                return session.injected_status(ERROR_INVALID_DATA);
            if (set == nullptr || members == nullptr)
                return DWORD(ERROR_INVALID_HANDLE);
            if (DeviceInfoData == nullptr || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA) ||
                DeviceInfoData->Reserved >= members->size())
                return DWORD(ERROR_INVALID_PARAMETER);
            if (Property != SPDRP_HARDWAREID)
                return DWORD(ERROR_INVALID_DATA);
            entry = &d.usb[(*members)[DeviceInfoData->Reserved]];
            return entry->property_error;
        });
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
        session.log("SetupDiGetDeviceRegistryPropertyW(set=0x%llx, member=%lu, property=%lu, "
                    "size=%lu) -> %s required=%lu",
                    value_of(DeviceInfoSet),
                    DeviceInfoData ? static_cast<unsigned long>(DeviceInfoData->Reserved) : 0ul,
                    static_cast<unsigned long>(Property),
                    static_cast<unsigned long>(PropertyBufferSize), bool_result(error).text,
                    static_cast<unsigned long>(length));
        SetLastError(error);
        return error == 0 ? TRUE : FALSE;
    });
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return in_session<BOOL>("SetupDiDestroyDeviceInfoList", FALSE, [&](Session &session) {
        const auto value = reinterpret_cast<std::uintptr_t>(DeviceInfoSet);
        const DWORD error = session.call([&](Record &rec, bool failing) {
            DWORD e = 0;
            if (rec.sets.find(value) != nullptr) {
                // As with a port close, an injected failure still releases the set.
                rec.sets.remove(value);
                ++rec.counts.set_destroys;
            } else {
                add_fault(rec, rec.set_handles.was_issued(value)
                                   ? "set 0x%llx destroyed twice"
                                   : "SetupDiDestroyDeviceInfoList of unknown set 0x%llx",
                          value_of(DeviceInfoSet));
                e = ERROR_INVALID_HANDLE;
            }
            if (failing && e == 0)
                e = session.injected_status(ERROR_INVALID_HANDLE);
            return e;
        });
        if (session.record().sets.find(value) == nullptr)
            session.loaded().members.erase(value);
        session.log("SetupDiDestroyDeviceInfoList(set=0x%llx) -> %s", value_of(DeviceInfoSet),
                    bool_result(error).text);
        SetLastError(error);
        return error == 0 ? TRUE : FALSE;
    });
}

} // extern "C"
