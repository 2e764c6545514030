// The shipped module itself: its version resource agrees with the header.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tarnwick.h"

namespace {

std::string version_string(const std::vector<char> &info, const char *name)
{
    void *value = nullptr;
    UINT size = 0;
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(info.data(), path.c_str(), &value, &size) || size == 0)
        return "<missing>";
    return std::string(static_cast<const char *>(value));
}

TEST(Library, VersionResourceMatchesHeader)
{
    HMODULE dll = LoadLibraryA("tarnwick.dll");
    ASSERT_NE(dll, nullptr);
    char path[MAX_PATH];
    GetModuleFileNameA(dll, path, sizeof path);
    DWORD ignored = 0;
    std::vector<char> info(GetFileVersionInfoSizeA(path, &ignored));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, static_cast<DWORD>(info.size()), info.data()));

    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void **>(&fixed), &size));
    EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), TARNWICK_VERSION_MAJOR);
    EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), TARNWICK_VERSION_MINOR);
    EXPECT_EQ(HIWORD(fixed->dwFileVersionLS), TARNWICK_VERSION_PATCH);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    EXPECT_EQ(version_string(info, "FileVersion"), TARNWICK_VERSION_STRING);
    EXPECT_EQ(version_string(info, "ProductVersion"), TARNWICK_VERSION_STRING);
    EXPECT_EQ(version_string(info, "ProductName"), "tarnwick");
    EXPECT_EQ(version_string(info, "OriginalFilename"), "tarnwick.dll");
    EXPECT_NE(version_string(info, "FileDescription").find("tarnwick"), std::string::npos);
}

} // namespace
