// memtool under WoW64 (under Wine: a 64-bit prefix): the 32-bit tool writes its 64-bit twin
// as RAMMap64.exe into a new folder of a random name in %TEMP%, lets it do the work with the
// same arguments, and removes both again.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "memtool_process.h"
#include "test_support.h"

using memtool_process::done_line;
using memtool_process::memtool_command;
using test_support::environment_setting;
using test_support::temp_folder;

namespace {

// The twin as memtool.exe carries it.
std::optional<std::string> twin_image() {
    return test_support::resource_of(test_support::bin_path("memtool.exe"), RT_RCDATA,
                                     "TWIN_IMAGE");
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
        ASSERT_FALSE(twin_image().value_or("").empty());
    }

    std::optional<DWORD> run(const std::string& arguments) {
        return test_support::run(memtool_command(arguments));
    }
    std::vector<std::string> journal() const { return test_support::file_lines(journal_path); }

    temp_folder temp;  // the tool's %TEMP%
    temp_folder other;
    const std::string journal_path = other.file("journal.txt");
    environment_setting tmp{"TMP", temp.path()};
    environment_setting temp_variable{"TEMP", temp.path()};
    environment_setting journal_variable{"RAMCLEAN_TOOL_JOURNAL", journal_path};
};

}  // namespace

TEST(MemtoolTwinImage, IsA64BitGuiBuild) {
    if (test_support::build_bits != 32) GTEST_SKIP() << no_twin_in_this_build;
    const auto image = twin_image();
    ASSERT_TRUE(image);
    const auto pe = test_support::read_pe(*image);
    ASSERT_TRUE(pe);
    EXPECT_EQ(pe->form,
              (test_support::pe_form{IMAGE_FILE_MACHINE_AMD64, IMAGE_NT_OPTIONAL_HDR64_MAGIC,
                                     IMAGE_SUBSYSTEM_WINDOWS_GUI}));
}

TEST_F(MemtoolTwin, TwinDoesTheWorkAndLeavesNothingInTemp) {
    // A file at the name the twin once had in %TEMP% itself is neither run nor touched.
    const std::string planted = temp.file("RAMMap64.exe");
    ASSERT_TRUE(test_support::write_file(planted, "planted"));
    EXPECT_EQ(run("-ew -es -em -et -e0"), 0u);
    EXPECT_EQ(journal(), (std::vector<std::string>{done_line("-ew", 64), done_line("-es", 64),
                                                   done_line("-em", 64), done_line("-et", 64),
                                                   done_line("-e0", 64)}));
    EXPECT_EQ(temp.entries(), std::vector<std::string>{"RAMMap64.exe"});
    EXPECT_EQ(test_support::read_file(planted), "planted");
}

TEST_F(MemtoolTwin, ExitsFourWhenTheTwinCannotBeWritten) {
    environment_setting missing_tmp{"TMP", temp.file("no-such-folder")};
    environment_setting missing_temp{"TEMP", temp.file("no-such-folder")};
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
    const std::string planted = other.file("planted.exe");
    ASSERT_TRUE(CopyFileA(test_support::bin_path("sleeper.exe").c_str(), planted.c_str(), FALSE));
    environment_setting planted_journal{"RAMCLEAN_SLEEPER_JOURNAL", journal_path};
    const std::string stop_name = "rc_twin_rewriter_" + std::to_string(GetCurrentProcessId());
    ramclean::handle stop(CreateEventA(nullptr, TRUE, FALSE, stop_name.c_str()));
    ASSERT_TRUE(stop);
    test_support::started_process rewriter = test_support::start_process(
        test_support::command_line(test_support::bin_path("twin_rewriter.exe"),
                                   "\"" + temp.path() + "\" \"" + planted + "\" " + stop_name));
    ASSERT_TRUE(rewriter.process);

    const std::vector<std::string> work = {done_line("-ew", 64), done_line("-et", 64)};
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
