// memtool under WoW64 (under Wine: a 64-bit prefix): the 32-bit tool writes its 64-bit twin
// to %TEMP%\RAMMap64.exe and lets it do the work with the same arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "memtool_process.h"
#include "test_support.h"

using memtool_process::environment_setting;
using memtool_process::journal_lines;
using memtool_process::memtool_command;
using memtool_process::scratch_folder;

namespace {

// The twin as memtool.exe carries it.
std::string twin_image() {
    HMODULE module = LoadLibraryExA(test_support::bin_path("memtool.exe").c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) return {};
    std::string bytes;
    if (HRSRC info = FindResourceA(module, "TWIN_IMAGE", RT_RCDATA)) {
        const auto* data = static_cast<const char*>(LockResource(LoadResource(module, info)));
        bytes.assign(data, SizeofResource(module, info));
    }
    FreeLibrary(module);
    return bytes;
}

FILETIME write_time(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

// A 64-bit memtool does the work itself: only the 32-bit build carries a twin.
constexpr char no_twin_in_this_build[] = "the 64-bit build has no twin: memtool runs natively";

class MemtoolTwin : public ::testing::Test {
protected:
    void SetUp() override {
        if (test_support::build_bits != 32) GTEST_SKIP() << no_twin_in_this_build;
        BOOL wow64 = FALSE;
        if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64)
            GTEST_SKIP() << "needs WoW64 (under Wine: the 64-bit prefix)";
        twin = twin_image();
        ASSERT_FALSE(twin.empty());
    }

    std::optional<DWORD> run(const std::string& arguments) {
        return test_support::run(memtool_command(arguments));
    }
    std::vector<std::string> journal() const { return journal_lines(journal_path); }

    scratch_folder temp;  // the tool's %TEMP%
    scratch_folder other;
    const std::string journal_path = other / "journal.txt";
    const std::string twin_path = temp / "RAMMap64.exe";
    environment_setting tmp{"TMP", temp.path()};
    environment_setting temp_variable{"TEMP", temp.path()};
    environment_setting journal_variable{"RAMCLEAN_TOOL_JOURNAL", journal_path};
    std::string twin;
};

}  // namespace

TEST(MemtoolTwinImage, IsA64BitGuiBuild) {
    if (test_support::build_bits != 32) GTEST_SKIP() << no_twin_in_this_build;
    const auto pe = test_support::read_pe(twin_image());
    ASSERT_TRUE(pe);
    EXPECT_EQ(pe->machine, IMAGE_FILE_MACHINE_AMD64);
    EXPECT_EQ(pe->magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC);
    EXPECT_EQ(pe->subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
}

TEST_F(MemtoolTwin, TwinIsWrittenToTempAndDoesTheWork) {
    EXPECT_EQ(run("-ew -es -em -et -e0"), 0u);
    EXPECT_EQ(test_support::read_file(twin_path), twin);
    EXPECT_EQ(journal(), (std::vector<std::string>{"-ew 64 0x00000000", "-es 64 0x00000000",
                                                   "-em 64 0x00000000", "-et 64 0x00000000",
                                                   "-e0 64 0x00000000"}));
    EXPECT_EQ(temp.files(), std::vector<std::string>{"RAMMap64.exe"});
}

TEST_F(MemtoolTwin, SecondRunUsesTheTwinAsItIs) {
    ASSERT_EQ(run("-ew"), 0u);
    // Dated back, so that a rewrite would show even within the clock's resolution.
    const FILETIME old{0x12345678, 0x01C00000};
    {
        ramclean::file_handle file(CreateFileA(twin_path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file);
        ASSERT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &old));
    }
    ASSERT_EQ(run("-et"), 0u);
    const FILETIME after = write_time(twin_path);
    EXPECT_EQ(CompareFileTime(&after, &old), 0);
    EXPECT_EQ(journal(), (std::vector<std::string>{"-ew 64 0x00000000", "-et 64 0x00000000"}));
}

TEST_F(MemtoolTwin, DamagedTwinIsReplaced) {
    struct damage {
        const char* name;
        std::string content;
    };
    std::string flipped = twin;
    flipped[flipped.size() / 2] ^= 0x5A;
    for (const damage& d : {damage{"cut short", twin.substr(0, twin.size() / 3)},
                            damage{"one byte changed", flipped}, damage{"empty", ""}}) {
        SCOPED_TRACE(d.name);
        ASSERT_TRUE(test_support::write_file(twin_path, d.content));
        EXPECT_EQ(run("-e0"), 0u);
        EXPECT_TRUE(test_support::read_file(twin_path) == twin);
        EXPECT_EQ(journal().back(), "-e0 64 0x00000000");
        // Written under another name first; nothing of that is left.
        EXPECT_EQ(temp.files(), std::vector<std::string>{"RAMMap64.exe"});
    }
}

TEST_F(MemtoolTwin, ExitsFourWhenTheTwinCannotBeWritten) {
    environment_setting missing_tmp{"TMP", temp / "no-such-folder"};
    environment_setting missing_temp{"TEMP", temp / "no-such-folder"};
    EXPECT_EQ(run("-ew"), 4u);
    EXPECT_TRUE(journal().empty());
}

TEST_F(MemtoolTwin, UsageErrorIsAnsweredWithoutTheTwin) {
    EXPECT_EQ(run("-ew -bogus"), 1u);
    EXPECT_TRUE(temp.files().empty());
    EXPECT_TRUE(journal().empty());
}

TEST_F(MemtoolTwin, TwinsExitCodeIsPassedOn) {
    // The twin runs with our token: without the privilege it exits 2, and so does the tool.
    EXPECT_EQ(memtool_process::run_without_privilege(SE_PROF_SINGLE_PROCESS_NAME, "-ew"), 2u);
    EXPECT_TRUE(test_support::exists(twin_path));
    EXPECT_TRUE(journal().empty());
}
