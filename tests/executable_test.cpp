// The shipped executables as files: PE form, imports, and the resources they carry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"
#include "version.h"

namespace {

const char* const programs[] = {"ramclean.exe", "ramclean-auto.exe"};

class ExecutableTest : public ::testing::TestWithParam<const char*> {
protected:
    std::string path() const { return test_support::bin_path(GetParam()); }
};

using test_support::load_as_data;
using test_support::resource_bytes;

BOOL CALLBACK count_resource(HMODULE, LPCSTR, LPSTR, LONG_PTR count) noexcept {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

}  // namespace

TEST_P(ExecutableTest, IsAGuiProgramOfTheBuildsArchitectureImportingSystemDllsOnly) {
    const auto pe = test_support::read_pe_file(path());
    ASSERT_TRUE(pe);
    EXPECT_EQ(pe->form, test_support::build_gui_program);
    const std::vector<std::string> system = {"kernel32.dll", "user32.dll",   "gdi32.dll",
                                             "advapi32.dll", "msvcrt.dll",   "ntdll.dll",
                                             "shell32.dll",  "comctl32.dll", "version.dll"};
    const auto& dlls = pe->imported_dlls;
    EXPECT_FALSE(dlls.empty());
    for (const auto& dll : dlls)
        EXPECT_NE(std::find(system.begin(), system.end(), dll), system.end())
            << dll << " is not a system DLL";
}

TEST_P(ExecutableTest, CarriesTheManifestForCommonControls6WithoutAnExecutionLevel) {
    const std::string manifest =
        test_support::resource_of(path(), MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1)).value_or("");
    ASSERT_FALSE(manifest.empty());
    const std::string architecture =
        std::string("processorArchitecture=\"") + test_support::build_manifest_arch + "\"";
    for (const std::string& part :
         {std::string("standalone=\"yes\""), std::string("manifestVersion=\"1.0\""), architecture,
          std::string("name=\"Microsoft.Windows.Common-Controls\""),
          std::string("version=\"6.0.0.0\""), std::string("publicKeyToken=\"6595b64144ccf1df\""),
          std::string("language=\"*\"")})
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
    // Both the program's identity and the dependency name the build's architecture.
    EXPECT_NE(manifest.find(architecture, manifest.find(architecture) + 1), std::string::npos);
    EXPECT_EQ(manifest.find("trustInfo"), std::string::npos);
    EXPECT_EQ(manifest.find("requestedExecutionLevel"), std::string::npos);
}

TEST_P(ExecutableTest, CarriesTheElevenImageIconGroup) {
    const ramclean::module_handle module = load_as_data(path());
    ASSERT_TRUE(module);
    int groups = 0;
    EnumResourceNamesA(module.get(), MAKEINTRESOURCEA(14), count_resource,  // RT_GROUP_ICON
                       reinterpret_cast<LONG_PTR>(&groups));
    EXPECT_EQ(groups, 1);
    const std::string group =
        resource_bytes(module.get(), MAKEINTRESOURCEA(14), "DEFAULT_ICON").value_or("");
    ASSERT_GE(group.size(), 6u);
#pragma pack(push, 2)
    struct group_entry {
        BYTE width, height, colours, reserved;
        WORD planes, bit_count;
        DWORD bytes;
        WORD id;
    };
#pragma pack(pop)
    WORD count = 0;
    memcpy(&count, group.data() + 4, 2);
    ASSERT_EQ(count, 11);
    ASSERT_EQ(group.size(), 6 + 11 * sizeof(group_entry));
    const struct {
        int size, bits;
    } expected[] = {{16, 4},  {32, 4},  {48, 4},  {16, 8},   {32, 8},  {48, 8},
                    {16, 32}, {32, 32}, {48, 32}, {128, 32}, {256, 32}};
    for (int i = 0; i < 11; ++i) {
        group_entry e;
        memcpy(&e, group.data() + 6 + i * sizeof e, sizeof e);
        SCOPED_TRACE(i);
        EXPECT_EQ(e.width == 0 ? 256 : e.width, expected[i].size);
        EXPECT_EQ(e.height == 0 ? 256 : e.height, expected[i].size);
        EXPECT_EQ(e.bit_count, expected[i].bits);
        const auto image =
            resource_bytes(module.get(), MAKEINTRESOURCEA(3), MAKEINTRESOURCEA(e.id));
        ASSERT_TRUE(image);
        ASSERT_EQ(image->size(), e.bytes);
        const bool png = image->compare(0, 8, "\x89PNG\r\n\x1a\n") == 0;
        EXPECT_EQ(png, expected[i].size == 256);
    }
}

TEST_P(ExecutableTest, CarriesTheChineseVersionBlock) {
    const std::string file = path();
    DWORD ignored = 0;
    std::vector<char> block(GetFileVersionInfoSizeA(file.c_str(), &ignored));
    ASSERT_FALSE(block.empty());
    ASSERT_TRUE(
        GetFileVersionInfoA(file.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    constexpr DWORD version_ms = MAKELONG(RAMCLEAN_VERSION_MINOR, RAMCLEAN_VERSION_MAJOR);
    constexpr DWORD version_ls = MAKELONG(RAMCLEAN_VERSION_BUILD, RAMCLEAN_VERSION_PATCH);
    EXPECT_EQ(fixed->dwFileVersionMS, version_ms);
    EXPECT_EQ(fixed->dwFileVersionLS, version_ls);
    EXPECT_EQ(fixed->dwProductVersionMS, version_ms);
    EXPECT_EQ(fixed->dwProductVersionLS, version_ls);
    EXPECT_EQ(fixed->dwFileFlags, 0u);
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0804);
    EXPECT_EQ(translation[1], 1200);

    const struct {
        const char* key;
        std::string value;
    } strings[] = {{"FileDescription", "\xD4\xCB\xB4\xE6\xC7\xE5\xC0\xED"},  // 运存清理
                   {"FileVersion", RAMCLEAN_VERSION_TEXT},
                   {"ProductVersion", RAMCLEAN_VERSION_TEXT}};
    for (const auto& s : strings)
        EXPECT_EQ(test_support::version_string(file, s.key), s.value) << s.key;

    const ramclean::module_handle module = load_as_data(file);
    EXPECT_TRUE(resource_bytes(module.get(), MAKEINTRESOURCEA(16), MAKEINTRESOURCEA(1),
                               MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)))
        << "version block in language 2052";
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, ExecutableTest, ::testing::ValuesIn(programs),
                         [](const auto& info) {
                             return std::string(info.param) == "ramclean.exe" ? "ramclean"
                                                                              : "ramclean_auto";
                         });
