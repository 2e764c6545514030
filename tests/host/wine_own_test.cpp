// The virtual peripheral's driver under Wine's own winmm: what winmm sends
// it, that a description only the stand-in can present is refused, and that
// selecting the driver in a prefix gives back exactly what was there. (The
// direct command cases run against it beside the stand-in, and the presence
// cases against Wine's own setupapi.)
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "harness.h"

using namespace host;

namespace {

class WineOwnDriver : public testing::Test {
protected:
    void SetUp() override
    {
        if (wine_winmm_ports() < 0)
            GTEST_SKIP() << kDriverNotTaken;
    }
    void TearDown() override { load(""); }
};

TEST_F(WineOwnDriver, WinmmAsksOnceThenPassesEachCallOn)
{
    // As it started, the same in Wine 8.0 and 10.0: the driver opened, the
    // number of ports asked once, and each port's capabilities asked by
    // Wine's MIDI mapper with none open.
    const std::string start = wine_winmm_start();
    EXPECT_NE(start.find("DriverProc(DRV_OPEN) -> 1\n"), std::string::npos) << start;
    EXPECT_NE(start.find("DRVM_INIT -> 0\n"), std::string::npos) << start;
    EXPECT_EQ(count_lines(start, "MODM_GETNUMDEVS() -> " + std::to_string(wine_winmm_ports())), 1u)
        << start;

    load("port \"PERIPHRL MIDI 1\"\nport \"Other Synth\"\n");
    const Call call = hiddirect("PERIPHRL", 0, 0x90, 3, 4); // check fails: the two probes
    EXPECT_EQ(call.result, 1);
    EXPECT_EQ(call.stdout_bytes, "AB\r\n");
    const std::string log = calls();
    EXPECT_EQ(count_lines(log, "MODM_GETNUMDEVS("), 0u) << "asked again: " << log;
    // Two walks over every port winmm knows; those the description lacks refuse.
    EXPECT_EQ(count_lines(log, "MODM_OPEN("), 2 * kWinePorts) << log;
    EXPECT_EQ(count_lines(log, "MODM_OPEN(port=3, "), 2u);
    EXPECT_NE(log.find("MODM_OPEN(port=3, callback="), std::string::npos);
    EXPECT_EQ(count_lines(log, "MODM_GETDEVCAPS(id=1, size=84) -> 0"), 2u) << log;
    EXPECT_EQ(count_lines(log, "MODM_CLOSE("), 4u);
    EXPECT_EQ(count_lines(log, "MODM_DATA("), 0u);
    EXPECT_EQ(log.find("no open handle"), std::string::npos) << "queried a port it had not open";
    EXPECT_EQ(faults(), "");
    EXPECT_EQ(vp_driver_ports(), static_cast<int>(kWinePorts)) << "the number is fixed";
    EXPECT_NE(report().find("was told " + std::to_string(kWinePorts) +
                            ": the ports past this description's refuse to open\n"),
              std::string::npos)
        << report();
}

TEST_F(WineOwnDriver, RefusesWhatOnlyTheStandInPresents)
{
    load("port \"PERIPHRL\"\nport \"X\" getid=5\nfail 9\n");
    const Call call = hiddirect("PERIPHRL", 0, 0x90, 1, 1);
    EXPECT_EQ(call.result, 5) << "no port may be used";
    EXPECT_NE(report().find("only the stand-in winmm can present line 2: getid=5, line 3: fail 9"),
              std::string::npos)
        << report();
}

// The selection keeps the value's type and bytes, or that there was none, and
// gives them back. It runs on a copy of HKCU of its own: the prefix's value
// stays as the other tests of this prefix need it.
TEST(WineOwn, DriverSelectionGivesBackWhatWasThere)
{
    const wchar_t scratch_path[] = L"Software\\Tarnwick\\SelectionTest";
    HKEY scratch = nullptr, drivers = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, scratch_path, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &scratch, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, scratch), ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\Drivers", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &drivers, nullptr),
              ERROR_SUCCESS);
    struct Value {
        bool present;
        DWORD type;
        std::vector<BYTE> data;
    };
    const auto read = [&] {
        Value v{false, 0, std::vector<BYTE>(64)};
        DWORD size = 64;
        v.present = RegQueryValueExW(drivers, L"Audio", nullptr, &v.type, v.data.data(), &size) ==
                    ERROR_SUCCESS;
        v.data.resize(v.present ? size : 0);
        return v;
    };
    const wchar_t expandable[] = L"alsa,%NOSUCH%";
    char error[256];
    for (const Value &before :
         {Value{false, 0, {}}, Value{true, REG_SZ, {0, 0}},
          Value{true, REG_EXPAND_SZ, std::vector<BYTE>(reinterpret_cast<const BYTE *>(expandable),
                                                       reinterpret_cast<const BYTE *>(expandable) +
                                                           sizeof expandable)}}) {
        RegDeleteValueW(drivers, L"Audio");
        if (before.present)
            RegSetValueExW(drivers, L"Audio", 0, before.type, before.data.data(),
                           static_cast<DWORD>(before.data.size()));
        EXPECT_EQ(vp_select_driver(error, sizeof error), 1) << error;
        EXPECT_EQ(vp_select_driver(error, sizeof error), 0) << "selected twice keeps the first";
        const Value selected = read();
        EXPECT_EQ(selected.type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t *>(selected.data.data())), L"vp");
        EXPECT_EQ(vp_restore_driver(error, sizeof error), 1) << error;
        const Value after = read();
        EXPECT_EQ(after.present, before.present);
        EXPECT_EQ(after.type, before.type);
        EXPECT_EQ(after.data, before.data);
        EXPECT_EQ(vp_restore_driver(error, sizeof error), 0) << "nothing left to restore";
    }

    // The keys around the value: one the selection found stays, with what it
    // holds; one it made goes again.
    const auto exists = [](const wchar_t *path, const wchar_t *value) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        const bool found = value == nullptr || RegQueryValueExW(key, value, nullptr, nullptr,
                                                                nullptr, nullptr) == ERROR_SUCCESS;
        RegCloseKey(key);
        return found;
    };
    HKEY own = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Tarnwick", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &own, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(own, L"Mine", 0, REG_SZ, reinterpret_cast<const BYTE *>(L"keep"), 10);
    RegCloseKey(drivers);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Wine\\Drivers");
    EXPECT_EQ(vp_select_driver(error, sizeof error), 1) << error;
    EXPECT_EQ(vp_restore_driver(error, sizeof error), 1) << error;
    EXPECT_TRUE(exists(L"Software\\Tarnwick", L"Mine")) << "a key of the host's own is gone";
    EXPECT_FALSE(exists(L"Software\\Wine\\Drivers", nullptr)) << "a key it made stays";
    // A selection that never kept the earlier value leaves Audio alone.
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\Drivers", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &drivers, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(drivers, L"Audio", 0, REG_SZ, reinterpret_cast<const BYTE *>(L"alsa"), 10);
    HKEY cut = nullptr;
    RegCreateKeyExW(own, L"VirtualPeripheral", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &cut,
                    nullptr);
    RegCloseKey(cut);
    EXPECT_EQ(vp_restore_driver(error, sizeof error), -1);
    EXPECT_NE(std::string(error).find("did not finish"), std::string::npos) << error;
    EXPECT_TRUE(exists(L"Software\\Wine\\Drivers", L"Audio"));
    RegCloseKey(own);
    RegCloseKey(drivers);
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegCloseKey(scratch);
    RegDeleteTreeW(HKEY_CURRENT_USER, scratch_path);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Tarnwick");
}

} // namespace
