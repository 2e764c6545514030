// The stand-in SetupAPI device-list functions, with their real signatures:
// the USB entries of the description, every call logged, every set checked.
#define _SETUPAPI_
#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <cstring>

#include "session.h"
#include "text.h"

namespace vperiph {

namespace {

using Members = std::shared_ptr<const std::vector<std::uint32_t>>;

// A call's use of a set, as `c` records it: whether `set` is live, the
// fault in `c` when it is not.
bool use_set(const Record &r, Change &c, HDEVINFO set, const char *function)
{
    const auto value = reinterpret_cast<std::uintptr_t>(set);
    c.set = true;
    if (r.sets.find(value) != nullptr) {
        c.holding = Change::Holding::use;
        c.value = value;
        return true;
    }
    c.faulted = true;
    c.fault = make_line("%s on %s set 0x%llx", function,
                        r.set_handles.was_issued(value) ? "destroyed" : "unknown", value_of(set));
    return false;
}

// The members of a set of the given build; a host that polls makes the
// same list again and again, so an unchanged one is shared.
Members members_at(Loaded &l, std::uint64_t build)
{
    auto members = std::make_shared<std::vector<std::uint32_t>>();
    for (std::size_t i = 0; i < l.d.usb.size(); ++i) {
        const UsbEntry &e = l.d.usb[i];
        if (build > e.appear && (e.vanish == 0 || build <= e.vanish))
            members->push_back(static_cast<std::uint32_t>(i));
    }
    if (l.latest_members == nullptr || *l.latest_members != *members)
        l.latest_members = members;
    return l.latest_members;
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
        const Members members = usb ? members_at(session.loaded(), now.builds + 1)
                                    : std::make_shared<std::vector<std::uint32_t>>();
        const std::uintptr_t h =
            now.set_handles.next([&](std::uintptr_t v) { return now.sets.find(v) != nullptr; });
        session.loaded().members[h] = members;
        Change c = call_change();
        c.kind = &Counts::set_builds;
        DWORD error = session.failing()        ? session.injected_status(ERROR_NOT_ENOUGH_MEMORY)
                      : d.classdevs_error != 0 ? d.classdevs_error
                      : ClassGuid == nullptr && !(Flags & DIGCF_ALLCLASSES)
                          ? DWORD(ERROR_INVALID_PARAMETER)
                          : DWORD(0);
        if (error == 0 && now.sets.full()) {
            c.faulted = true;
            c.fault = make_line("SetupDiGetClassDevsW with %u sets live already",
                                static_cast<unsigned>(kMostOpenSets));
            error = ERROR_NOT_ENOUGH_MEMORY;
        }
        if (error == 0) {
            c.holding = Change::Holding::open;
            c.set = true;
            c.value = h;
        }
        session.change(c);
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
        Change c = call_change();
        c.kind = &Counts::enum_calls;
        const bool live = use_set(session.record(), c, DeviceInfoSet, "SetupDiEnumDeviceInfo");
        const DWORD error = session.failing() ? session.injected_status(ERROR_INVALID_DATA)
                            : !live || members == nullptr ? DWORD(ERROR_INVALID_HANDLE)
                            : DeviceInfoData == nullptr   ? DWORD(ERROR_INVALID_PARAMETER)
                            : DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)
                                ? DWORD(ERROR_INVALID_USER_BUFFER)
                            : MemberIndex >= members->size() ? DWORD(ERROR_NO_MORE_ITEMS)
                                                             : DWORD(0);
        session.change(c);
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
        Change c = call_change();
        c.kind = &Counts::property_reads;
        const bool live =
            use_set(session.record(), c, DeviceInfoSet, "SetupDiGetDeviceRegistryPropertyW");
        DWORD error = 0;
        if (session.failing()) {
            error = session.injected_status(ERROR_INVALID_DATA);
        } else if (!live || members == nullptr) {
            error = ERROR_INVALID_HANDLE;
        } else if (DeviceInfoData == nullptr || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA) ||
                   DeviceInfoData->Reserved >= members->size()) {
            error = ERROR_INVALID_PARAMETER;
        } else if (Property != SPDRP_HARDWAREID) {
            error = ERROR_INVALID_DATA;
        } else {
            entry = &d.usb[(*members)[DeviceInfoData->Reserved]];
            error = entry->property_error;
        }
        session.change(c);
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
        const Record &now = session.record();
        Change c = call_change();
        DWORD error = 0;
        if (now.sets.find(value) != nullptr) {
            // As with a port close, an injected failure still releases the set.
            c.kind = &Counts::set_destroys;
            c.holding = Change::Holding::close;
            c.set = true;
            c.value = value;
        } else {
            c.faulted = true;
            c.fault = make_line(now.set_handles.was_issued(value)
                                    ? "set 0x%llx destroyed twice"
                                    : "SetupDiDestroyDeviceInfoList of unknown set 0x%llx",
                                value_of(DeviceInfoSet));
            error = ERROR_INVALID_HANDLE;
        }
        if (session.failing() && error == 0)
            error = session.injected_status(ERROR_INVALID_HANDLE);
        session.change(c);
        if (session.record().sets.find(value) == nullptr)
            session.loaded().members.erase(value);
        session.log("SetupDiDestroyDeviceInfoList(set=0x%llx) -> %s", value_of(DeviceInfoSet),
                    bool_result(error).text);
        SetLastError(error);
        return error == 0 ? TRUE : FALSE;
    });
}

} // extern "C"
