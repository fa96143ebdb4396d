// memtool under WoW64 (under Wine: a 64-bit prefix): the 32-bit tool writes its 64-bit twin
// as RAMMap64.exe into a new folder of a random name in %TEMP%, lets it do the work with the
// same arguments, and removes both again.
#include <gtest/gtest.h>

#include <cstdio>
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

TEST_F(MemtoolTwin, TwinDoesTheWorkAndLeavesNothingInTemp) {
    // A file at the name the twin once had in %TEMP% itself is neither run nor touched.
    const std::string planted = temp / "RAMMap64.exe";
    ASSERT_TRUE(test_support::write_file(planted, "planted"));
    EXPECT_EQ(run("-ew -es -em -et -e0"), 0u);
    EXPECT_EQ(journal(), (std::vector<std::string>{"-ew 64 0x00000000", "-es 64 0x00000000",
                                                   "-em 64 0x00000000", "-et 64 0x00000000",
                                                   "-e0 64 0x00000000"}));
    EXPECT_EQ(temp.entries(), std::vector<std::string>{"RAMMap64.exe"});
    EXPECT_EQ(test_support::read_file(planted), "planted");
}

TEST_F(MemtoolTwin, ExitsFourWhenTheTwinCannotBeWritten) {
    environment_setting missing_tmp{"TMP", temp / "no-such-folder"};
    environment_setting missing_temp{"TEMP", temp / "no-such-folder"};
    EXPECT_EQ(run("-ew"), 4u);
    EXPECT_TRUE(journal().empty());
    EXPECT_TRUE(temp.entries().empty());
}

TEST_F(MemtoolTwin, UsageErrorIsAnsweredWithoutTheTwin) {
    EXPECT_EQ(run("-ew -bogus"), 1u);
    EXPECT_TRUE(temp.entries().empty());
    EXPECT_TRUE(journal().empty());
}

TEST_F(MemtoolTwin, TwinsExitCodeIsPassedOn) {
    // The twin runs with our token: without the privilege it exits 2, and so does the tool.
    EXPECT_EQ(memtool_process::run_without_privilege(SE_PROF_SINGLE_PROCESS_NAME, "-ew"), 2u);
    EXPECT_TRUE(journal().empty());
    EXPECT_TRUE(temp.entries().empty());
}

// Another program of ours keeps putting its own bytes (a program that records its start in
// the journal) into every twin it finds: by writing over it and by moving a copy over its
// name. Each run either has the real twin do the work or refuses with 4.
TEST_F(MemtoolTwin, AProgramRewritingTheTwinMeanwhileNeverGetsItsBytesRun) {
    const std::string planted = other / "planted.exe";
    ASSERT_TRUE(CopyFileA(test_support::bin_path("sleeper.exe").c_str(), planted.c_str(), FALSE));
    environment_setting planted_journal{"RAMCLEAN_SLEEPER_JOURNAL", journal_path};
    const std::string stop_name = "rc_twin_rewriter_" + std::to_string(GetCurrentProcessId());
    ramclean::handle stop(CreateEventA(nullptr, TRUE, FALSE, stop_name.c_str()));
    ASSERT_TRUE(stop);
    test_support::started_process rewriter =
        test_support::start_process("\"" + test_support::bin_path("twin_rewriter.exe") + "\" \"" +
                                    temp.path() + "\" \"" + planted + "\" " + stop_name);
    ASSERT_TRUE(rewriter.process);

    const std::vector<std::string> work = {"-ew 64 0x00000000", "-et 64 0x00000000"};
    int worked = 0;
    constexpr int runs = 10;
    for (int i = 0; i < runs; ++i) {
        SCOPED_TRACE(i);
        const std::vector<std::string> before = journal();
        const std::optional<DWORD> code = test_support::run(memtool_command("-ew -et"), 20000);
        ASSERT_TRUE(code == 0u || code == 4u) << (code ? static_cast<long>(*code) : -1L);
        std::vector<std::string> expected = before;
        if (code == 0u) {
            ++worked;
            expected.insert(expected.end(), work.begin(), work.end());
        }
        EXPECT_EQ(journal(), expected);
    }
    SetEvent(stop.get());
    const std::optional<DWORD> rewriter_result = test_support::wait_exit(rewriter);
    ASSERT_TRUE(rewriter_result.has_value());
    EXPECT_TRUE(*rewriter_result & 1) << "the rewriter got at a twin";
    std::printf("%d of %d runs had the twin do the work; rewriter result %lu\n", worked, runs,
                static_cast<unsigned long>(*rewriter_result));
}
