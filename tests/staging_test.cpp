// Staging on the tree's C: drive: the two blocks, the three file operations and stage_tools.
#include "staging.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

using namespace ramclean;

namespace {

const std::string expected_script =
    "cd C:\\\r\nRammap -ew\r\nRammap -es\r\nRammap -em\r\nRammap -et\r\nRammap -e0\r\nexit";

std::string bytes_of(byte_block block) {
    return std::string(reinterpret_cast<const char*>(block.bytes), block.count);
}

// The file the build embedded as the tool image.
std::string tool_image_source() {
#ifdef RAMCLEAN_TOOL_IMAGE_SOURCE
    return RAMCLEAN_TOOL_IMAGE_SOURCE;
#else
    return test_support::bin_path("memtool.exe");
#endif
}

// Removes whatever a test left under a path: a file of any attributes, or a directory.
void remove_entry(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveDirectoryA(path.c_str());
    else
        DeleteFileA(path.c_str());
}

// A directory entry as a test prepares it and later finds it.
struct entry {
    enum kind_type { absent, file, directory } kind = absent;
    std::string content;
    DWORD attributes = 0;  // added to a file's attributes

    bool operator==(const entry&) const = default;
};

void prepare(const std::string& path, const entry& e) {
    remove_entry(path);
    if (e.kind == entry::file) {
        ASSERT_TRUE(test_support::write_file(path, e.content));
        if (e.attributes != 0) {
            ASSERT_TRUE(SetFileAttributesA(path.c_str(), e.attributes));
        }
    } else if (e.kind == entry::directory) {
        ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
    }
}

entry observe(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return {};
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return {entry::directory, "", 0};
    const DWORD extra =
        attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);
    return {entry::file, test_support::read_file(path).value_or("<unreadable>"), extra};
}

class StagingTest : public ::testing::Test {
protected:
    void SetUp() override { TearDown(); }
    void TearDown() override {
        remove_entry(tool_image_path);
        remove_entry(cleaning_script_path);
        remove_entry(scratch);
    }
    const std::string scratch = "C:\\ramclean-staging-test.bin";
};

}  // namespace

TEST(ByteBlocks, CleaningScriptIsTheSevenLinesByteForByte) {
    const byte_block script = cleaning_script_block();
    ASSERT_EQ(script.count, 72);
    EXPECT_EQ(bytes_of(script), expected_script);
    EXPECT_EQ(script.bytes[71], 't');
}

TEST(ByteBlocks, ToolImageIsTheEmbeddedFileByteForByte) {
    const auto source = test_support::read_file(tool_image_source());
    ASSERT_TRUE(source) << tool_image_source();
    const byte_block image = tool_image_block();
    ASSERT_EQ(image.count, static_cast<std::int32_t>(source->size()));
    EXPECT_TRUE(bytes_of(image) == *source);
}

TEST(ByteBlocks, BothProgramsCarryTheToolImage) {
    const auto source = test_support::read_file(tool_image_source());
    ASSERT_TRUE(source);
    for (const char* program : {"ramclean.exe", "ramclean-auto.exe"}) {
        SCOPED_TRACE(program);
        HMODULE module = LoadLibraryExA(test_support::bin_path(program).c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr);
        HRSRC info = FindResourceA(module, tool_image_resource, RT_RCDATA);
        ASSERT_NE(info, nullptr);
        const auto* bytes = static_cast<const char*>(LockResource(LoadResource(module, info)));
        const std::string image(bytes, SizeofResource(module, info));
        EXPECT_TRUE(image == *source);
        FreeLibrary(module);
    }
}

// What stage_tools finds in C:\ and what it must leave there.
struct staging_case {
    const char* name;
    entry tool_before;
    entry script_before;
};

void PrintTo(const staging_case& c, std::ostream* os) { *os << c.name; }

class StageTools : public StagingTest, public ::testing::WithParamInterface<staging_case> {};

TEST_P(StageTools, WritesWhatIsAbsentAndLeavesWhatIsPresent) {
    const staging_case& c = GetParam();
    prepare(tool_image_path, c.tool_before);
    prepare(cleaning_script_path, c.script_before);
    // As the file system keeps them (it may not keep every attribute).
    const entry tool_found = observe(tool_image_path);
    const entry script_found = observe(cleaning_script_path);

    stage_tools();

    const entry tool_written{entry::file, bytes_of(tool_image_block()), 0};
    const entry script_written{entry::file, expected_script, 0};
    EXPECT_EQ(observe(tool_image_path),
              c.tool_before.kind == entry::absent ? tool_written : tool_found);
    EXPECT_EQ(observe(cleaning_script_path),
              c.script_before.kind == entry::absent ? script_written : script_found);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StageTools,
    ::testing::Values(
        staging_case{"NothingPresent", {}, {}},
        staging_case{"ToolWithOtherContent", {entry::file, "MZ other tool"}, {}},
        staging_case{"ScriptWithOtherContent", {}, {entry::file, "echo other\r\n"}},
        staging_case{"BothEmpty", {entry::file, ""}, {entry::file, ""}},
        staging_case{"BothDirectories", {entry::directory, ""}, {entry::directory, ""}},
        staging_case{"HiddenAndSystem",
                     {entry::file, "hidden", FILE_ATTRIBUTE_HIDDEN},
                     {entry::file, "system", FILE_ATTRIBUTE_SYSTEM}},
        staging_case{"BothReadOnly",
                     {entry::file, "read-only tool", FILE_ATTRIBUTE_READONLY},
                     {entry::file, "read-only script", FILE_ATTRIBUTE_READONLY}},
        staging_case{"ToolHiddenSystemReadOnly",
                     {entry::file, "all three",
                      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY},
                     {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StagingTest, FileExistsForFilesAndDirectoriesOnly) {
    EXPECT_FALSE(file_exists(scratch.c_str()));
    EXPECT_FALSE(file_exists("C:\\ramclean-no-such-folder\\x.bin"));
    EXPECT_FALSE(file_exists("Q:\\ramclean.bin"));  // no such drive
    EXPECT_TRUE(file_exists("C:\\windows"));
    ASSERT_TRUE(test_support::write_file(scratch, "x"));
    EXPECT_TRUE(file_exists(scratch.c_str()));
}

TEST_F(StagingTest, WholeFileWriteCreatesOrTruncatesToExactlyTheBlock) {
    const byte_block script = cleaning_script_block();
    ASSERT_TRUE(write_whole_file(scratch.c_str(), script));
    EXPECT_EQ(test_support::read_file(scratch), expected_script);

    ASSERT_TRUE(test_support::write_file(scratch, std::string(1000, 'x')));
    ASSERT_TRUE(write_whole_file(scratch.c_str(), script));
    EXPECT_EQ(test_support::read_file(scratch), expected_script);

    // A count of 0 or less writes nothing: an empty file.
    for (std::int32_t count : {0, -5}) {
        ASSERT_TRUE(write_whole_file(scratch.c_str(), {count, script.bytes}));
        EXPECT_EQ(test_support::read_file(scratch), "");
    }
}

TEST_F(StagingTest, WholeFileWriteFailsWithoutTouchingWhatItCouldNotOpen) {
    const byte_block script = cleaning_script_block();
    EXPECT_FALSE(write_whole_file("", script));
    EXPECT_FALSE(write_whole_file(nullptr, script));

    EXPECT_FALSE(write_whole_file("C:\\ramclean-no-such-folder\\x.bin", script));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    // Held open without sharing: the write cannot open it, and must not delete it either.
    ASSERT_TRUE(test_support::write_file(scratch, "kept"));
    {
        file_handle holder(CreateFileA(scratch.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_FALSE(write_whole_file(scratch.c_str(), script));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    EXPECT_EQ(test_support::read_file(scratch), "kept");
}

TEST(WholeFileWriteOnDevFull, FailsWithDiskFullAndKeepsThatError) {
#ifndef RAMCLEAN_DEV_FULL_LINK
    GTEST_SKIP() << "needs a link to /dev/full prepared by the test fixture (Wine only)";
#else
    // The write fails after the file was opened, so the cleanup runs: GetLastError() must
    // still tell the write's error afterwards. (Wine does not delete a link to a device; that
    // a partial file is deleted is shown on the full C: drive.)
    const char* link = RAMCLEAN_DEV_FULL_LINK;
    ASSERT_TRUE(file_exists(link)) << "fixture dev_full_link did not run";
    EXPECT_FALSE(write_whole_file(link, cleaning_script_block()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_TRUE(file_exists("Z:\\dev\\full"));
#endif
}

struct delete_case {
    const char* name;
    entry before;
    bool result;
    DWORD error;  // GetLastError() after a failure
};

void PrintTo(const delete_case& c, std::ostream* os) { *os << c.name; }

class FileDelete : public StagingTest, public ::testing::WithParamInterface<delete_case> {};

TEST_P(FileDelete, DeletesOnlyAPlainFile) {
    const delete_case& c = GetParam();
    prepare(cleaning_script_path, c.before);
    const entry found = observe(cleaning_script_path);
    EXPECT_EQ(delete_file(cleaning_script_path), c.result);
    if (c.result) {
        EXPECT_FALSE(test_support::exists(cleaning_script_path));
    } else {
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(observe(cleaning_script_path), found);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, FileDelete,
                         ::testing::Values(delete_case{"Present", {entry::file, "x"}, true, 0},
                                           delete_case{"Missing", {}, false, ERROR_FILE_NOT_FOUND},
                                           // Wine refuses this even as root, as Windows does.
                                           delete_case{"ReadOnly",
                                                       {entry::file, "x", FILE_ATTRIBUTE_READONLY},
                                                       false,
                                                       ERROR_ACCESS_DENIED}),
                         [](const auto& info) { return std::string(info.param.name); });
