// The virtual peripheral keeps the platform's contracts and reports the
// handle faults a careless caller makes; called here directly, not through
// tarnwick.dll.
#include <gtest/gtest.h>
#include <windows.h>
#include <mmsystem.h>
#include <setupapi.h>

#include <cstring>
#include <functional>

#include "harness.h"

using namespace host;

namespace {

// The first port handle value the stand-in hands out.
constexpr std::uintptr_t kFirstStandinHandle = 0x4D100001;

template <typename F> F standin(const char *name)
{
    return reinterpret_cast<F>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("vperiph.dll"), name)));
}

TEST(VirtualPeripheral, KeepsSetupApiContracts)
{
    const auto build = standin<decltype(&SetupDiGetClassDevsW)>("SetupDiGetClassDevsW");
    const auto enumerate = standin<decltype(&SetupDiEnumDeviceInfo)>("SetupDiEnumDeviceInfo");
    const auto property = standin<decltype(&SetupDiGetDeviceRegistryPropertyW)>(
        "SetupDiGetDeviceRegistryPropertyW");
    const auto destroy =
        standin<decltype(&SetupDiDestroyDeviceInfoList)>("SetupDiDestroyDeviceInfoList");
    load("usb \"USB\\VID_1A2B&PID_3C4D\"\n");

    HDEVINFO set = build(nullptr, L"USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA member{};
    member.cbSize = sizeof member - 1;
    EXPECT_FALSE(enumerate(set, 0, &member));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    member.cbSize = sizeof member;
    EXPECT_FALSE(enumerate(set, 1, &member));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    ASSERT_TRUE(enumerate(set, 0, &member));

    BYTE buffer[64];
    std::memset(buffer, 0x5A, sizeof buffer);
    DWORD required = 0, type = 0;
    EXPECT_FALSE(property(set, &member, SPDRP_HARDWAREID, &type, buffer, 10, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, 46u); // 21 characters, the terminator and the list's end
    EXPECT_EQ(buffer[0], 0x5A) << "nothing copied into a buffer that is too small";
    ASSERT_TRUE(property(set, &member, SPDRP_HARDWAREID, &type, buffer, sizeof buffer, &required));
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(buffer[46], 0x5A) << "nothing past the data";
    EXPECT_NE(faults().find("never destroyed"), std::string::npos);
    EXPECT_TRUE(destroy(set));
    EXPECT_FALSE(destroy(set));
    EXPECT_NE(faults().find("destroyed twice"), std::string::npos);
}

TEST(VirtualPeripheral, ReportsMidiHandleFaults)
{
    const auto open = standin<decltype(&midiOutOpen)>("midiOutOpen");
    const auto caps = standin<decltype(&midiOutGetDevCapsW)>("midiOutGetDevCapsW");
    const auto send = standin<decltype(&midiOutShortMsg)>("midiOutShortMsg");
    const auto close = standin<decltype(&midiOutClose)>("midiOutClose");
    load("port \"A\"\nport \"B\"\n");

    HMIDIOUT handle = nullptr;
    ASSERT_EQ(open(&handle, 0, 0, 0, CALLBACK_NULL), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    MIDIOUTCAPSW record;
    // Called from this program, not the library: a host lists the ports
    // before it opens one, so the query is logged, not a fault.
    EXPECT_EQ(caps(1, &record, sizeof record), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(faults().find("midiOutGetDevCapsW for id 1"), std::string::npos);
    EXPECT_NE(calls().find("midiOutGetDevCapsW(id=1, size=84) -> 0 (no open handle of this port)"),
              std::string::npos);
    EXPECT_NE(faults().find("of port 0 never closed"), std::string::npos);
    EXPECT_EQ(close(handle), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(send(handle, 0xFF), static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));
    EXPECT_EQ(close(handle), static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));
    EXPECT_NE(faults().find("midiOutShortMsg on closed handle"), std::string::npos);
    EXPECT_NE(faults().find("midiOutClose on closed handle"), std::string::npos);
    EXPECT_EQ(faults().find("never closed"), std::string::npos);
    EXPECT_TRUE(port_bytes(0).empty());
}

// A host that polls for hours: every part of the record keeps a bounded
// number of items (the latest calls and messages, the first faults) and
// counts the rest, and released handles are still told from unknown ones.
TEST(VirtualPeripheral, RecordStaysBoundedOverLongRuns)
{
    const auto ports = standin<decltype(&midiOutGetNumDevs)>("midiOutGetNumDevs");
    const auto open = standin<decltype(&midiOutOpen)>("midiOutOpen");
    const auto send = standin<decltype(&midiOutShortMsg)>("midiOutShortMsg");
    const auto close = standin<decltype(&midiOutClose)>("midiOutClose");
    load("port \"A\"\n");

    const unsigned messages = VP_KEPT_MESSAGES + 7;
    for (unsigned i = 0; i < messages; ++i) {
        HMIDIOUT handle = nullptr;
        ASSERT_EQ(open(&handle, 0, 0, 0, CALLBACK_NULL), static_cast<MMRESULT>(MMSYSERR_NOERROR));
        send(handle, 0x90 | ((i & 0x7F) << 8) | (((i >> 7) & 0x7F) << 16));
        close(handle);
    }
    for (unsigned i = 0; i < VP_KEPT_CALLS; ++i)
        ports();
    const unsigned made = messages * 3 + VP_KEPT_CALLS;
    EXPECT_EQ(counters().calls, made);

    const std::string log = calls();
    EXPECT_EQ(log.rfind("(" + std::to_string(made - VP_KEPT_CALLS) + " earlier calls not kept)\n", 0),
              0u);
    EXPECT_EQ(count_lines(log, "midiOutGetNumDevs()"), static_cast<unsigned>(VP_KEPT_CALLS));

    unsigned kept = 0;
    EXPECT_EQ(vp_port_messages(0, &kept), messages);
    EXPECT_EQ(kept, static_cast<unsigned>(VP_KEPT_MESSAGES));
    const std::vector<std::uint8_t> received = port_bytes(0);
    ASSERT_EQ(received.size(), 3u * VP_KEPT_MESSAGES);
    const unsigned first_kept = messages - VP_KEPT_MESSAGES, last = messages - 1;
    EXPECT_EQ(received[1], first_kept & 0x7F) << "the latest messages are the ones kept";
    EXPECT_EQ(received[2], (first_kept >> 7) & 0x7F);
    EXPECT_EQ(received[received.size() - 2], last & 0x7F);

    for (unsigned i = 0; i < VP_KEPT_FAULTS + 5; ++i)
        close(reinterpret_cast<HMIDIOUT>(static_cast<std::uintptr_t>(kFirstStandinHandle)));
    close(reinterpret_cast<HMIDIOUT>(static_cast<std::uintptr_t>(0x1234)));
    const std::string f = faults();
    EXPECT_EQ(count_lines(f, "fault: midiOutClose on closed handle"),
              static_cast<unsigned>(VP_KEPT_FAULTS));
    EXPECT_NE(f.find("fault: 6 later fault(s) not kept"), std::string::npos) << f.substr(0, 300);
    EXPECT_EQ(counters().faults, VP_KEPT_FAULTS + 6u);

    const std::string report = host::report();
    EXPECT_NE(report.find("port 0 \"A\": " + std::to_string(messages) +
                                       " messages, the latest 25: 90 "),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("call log: the latest 10000 of "), std::string::npos);

    // A fresh description takes the unknown handle for what it is.
    load("port \"A\"\n");
    close(reinterpret_cast<HMIDIOUT>(static_cast<std::uintptr_t>(0x1234)));
    EXPECT_NE(faults().find("midiOutClose on unknown handle"), std::string::npos);
}

// A host that leaks handles meets a limit, as it would on a real system,
// instead of growing the record without end; what it releases is usable again.
TEST(VirtualPeripheral, LeakingHostMeetsALimit)
{
    const auto open = standin<decltype(&midiOutOpen)>("midiOutOpen");
    const auto close = standin<decltype(&midiOutClose)>("midiOutClose");
    const auto build = standin<decltype(&SetupDiGetClassDevsW)>("SetupDiGetClassDevsW");
    const auto destroy =
        standin<decltype(&SetupDiDestroyDeviceInfoList)>("SetupDiDestroyDeviceInfoList");
    // A port that takes any number of clients: one that takes one refuses
    // the second open long before.
    load("port \"A\" clients=many\nusb \"USB\\VID_1A2B&PID_3C4D\"\n");
    struct Limit {
        std::function<bool()> make;
        std::function<void()> release_all;
        unsigned most;
        const char *fault;
    };
    std::vector<HMIDIOUT> handles;
    std::vector<HDEVINFO> sets;
    const Limit limits[] = {
        {[&] {
             HMIDIOUT h = nullptr;
             const bool made = open(&h, 0, 0, 0, CALLBACK_NULL) == MMSYSERR_NOERROR;
             if (made)
                 handles.push_back(h);
             return made;
         },
         [&] {
             for (HMIDIOUT h : handles)
                 close(h);
             handles.clear();
         },
         1024, "midiOutOpen with 1024 port handles open already"},
        {[&] {
             HDEVINFO set = build(nullptr, L"USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
             if (set != INVALID_HANDLE_VALUE)
                 sets.push_back(set);
             return set != INVALID_HANDLE_VALUE;
         },
         [&] {
             for (HDEVINFO set : sets)
                 destroy(set);
             sets.clear();
         },
         16, "SetupDiGetClassDevsW with 16 sets live already"},
    };
    for (const Limit &limit : limits) {
        for (unsigned i = 0; i < limit.most; ++i)
            ASSERT_TRUE(limit.make()) << limit.fault << " " << i;
        EXPECT_FALSE(limit.make()) << limit.fault;
        EXPECT_NE(faults().find(limit.fault), std::string::npos) << limit.fault;
        limit.release_all();
        EXPECT_TRUE(limit.make()) << "released ones make room: " << limit.fault;
        limit.release_all();
    }
    EXPECT_EQ(faults().find("never"), std::string::npos) << "nothing left open";
}

// Registering for Wine's own setupapi refuses what only the stand-in can
// present, and removing takes exactly what registering added: a device key
// that was there before stays, with its own instances, one named like the
// registration's own among them, into which nothing is written. Values are
// written byte for byte. It runs with the other registry cases, in the one
// process that touches this prefix's registry.
TEST(WineOwn, RegistryTakesOutExactlyWhatItPutIn)
{
    const DWORD kMine = 0x4d696e65;
    char error[512];
    for (const char *only_standin : {"usb \"USB\\VID_1A2B&PID_3C4D\" bytes=41\n",
                                     "usb \"USB\\VID_1A2B&PID_3C4D\" property=13\n",
                                     "usb \"USB\\VID_1A2B&PID_3C4D\" vanish=1\n",
                                     "port \"A\"\nclassdevs fail\n", "port \"A\"\nfail 3\n"}) {
        EXPECT_EQ(vp_register(only_standin, error, sizeof error), -1) << only_standin;
        EXPECT_NE(std::string(error).find("\n  line "), std::string::npos) << error;
    }

    const wchar_t usb[] = L"System\\CurrentControlSet\\Enum\\USB";
    const std::wstring device = std::wstring(usb) + L"\\VID_1A2B&PID_3C4D";
    HKEY existing = nullptr;
    const bool usb_existed =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, usb, 0, KEY_READ, &existing) == ERROR_SUCCESS;
    RegCloseKey(existing);
    for (const wchar_t *instance : {L"\\EXISTING", L"\\TARNWICK&0"}) {
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (device + instance).c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &existing, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(existing, L"Mine", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&kMine),
                       sizeof kMine);
        RegCloseKey(existing);
    }
    // A value's bytes, empty when there is none.
    const auto value = [](const std::wstring &key, const wchar_t *name) {
        std::vector<BYTE> data(512);
        DWORD size = static_cast<DWORD>(data.size());
        HKEY k = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS ||
            RegQueryValueExW(k, name, nullptr, nullptr, data.data(), &size) != ERROR_SUCCESS)
            size = 0;
        RegCloseKey(k);
        data.resize(size);
        return data;
    };
    const auto instances = [&] {
        HKEY key = nullptr;
        DWORD n = 0;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, device.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
            RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &n, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr);
            RegCloseKey(key);
        }
        return n;
    };
    EXPECT_EQ(vp_register("usb \"USB\\VID_1A2B&PID_3C4D\" repeat=2\nusb \"USB\\VID_9999&PID_0001\"\n"
                          "usb-hex 5500 5300\n",
                          error, sizeof error),
              4)
        << error;
    EXPECT_EQ(instances(), 4u);
    const std::vector<BYTE> mine(reinterpret_cast<const BYTE *>(&kMine),
                                 reinterpret_cast<const BYTE *>(&kMine + 1));
    const std::wstring foreign = device + L"\\TARNWICK&0";
    EXPECT_EQ(value(foreign, L"HardwareID").size(), 0u) << "written into a key it did not make";
    EXPECT_EQ(value(foreign, L"Mine"), mine);
    const wchar_t id[] = L"USB\\VID_1A2B&PID_3C4D\0";
    EXPECT_EQ(value(device + L"\\TARNWICK&2", L"HardwareID"),
              std::vector<BYTE>(reinterpret_cast<const BYTE *>(id),
                                reinterpret_cast<const BYTE *>(id) + sizeof id));
    EXPECT_EQ(value(std::wstring(usb) + L"\\US\\TARNWICK&3", L"HardwareID"),
              (std::vector<BYTE>{0x55, 0, 0x53, 0}))
        << "not as the description gives it";
    EXPECT_EQ(vp_unregister(error, sizeof error), 4) << error;
    EXPECT_EQ(instances(), 2u) << "the instances that were there before stay";
    EXPECT_EQ(value(foreign, L"Mine"), mine);
    EXPECT_EQ(vp_unregister(error, sizeof error), 0);
    HKEY other = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                            L"System\\CurrentControlSet\\Enum\\USB\\VID_9999&PID_0001", 0, KEY_READ,
                            &other),
              ERROR_FILE_NOT_FOUND)
        << "a device key it made goes with its last instance";
    EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, device.c_str()), ERROR_SUCCESS);
    if (!usb_existed)
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, usb);
}

} // namespace
