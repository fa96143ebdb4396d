// Staging on the tree's C: drive: the two blocks, the three file operations and stage_tools.
#include "staging.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "test_support.h"

using namespace ramclean;
using test_support::bytes_of;
using test_support::cleaning_script;
using test_support::remove_entry;

namespace {

// The file the build embedded as the tool image.
std::string tool_image_source() {
#ifdef RAMCLEAN_TOOL_IMAGE_SOURCE
    return RAMCLEAN_TOOL_IMAGE_SOURCE;
#else
    return test_support::bin_path("memtool.exe");
#endif
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
    EXPECT_EQ(bytes_of(script), cleaning_script);
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
        const auto image = test_support::resource_of(test_support::bin_path(program), RT_RCDATA,
                                                     tool_image_resource);
        ASSERT_TRUE(image);
        EXPECT_TRUE(*image == *source);
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
    const entry script_written{entry::file, cleaning_script, 0};
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

TEST_F(StagingTest, PlaceFileMovesTheWholeBlockIntoPlaceAndLeavesNothingElse) {
    const byte_block script = cleaning_script_block();
    const auto before = test_support::folder_entries("C:\\");
    ASSERT_TRUE(place_file(scratch.c_str(), script, false));
    EXPECT_EQ(test_support::read_file(scratch), cleaning_script);

    // Without replace, whatever is there wins; with it, ours does.
    ASSERT_TRUE(test_support::write_file(scratch, "theirs"));
    EXPECT_FALSE(place_file(scratch.c_str(), script, false));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(test_support::read_file(scratch), "theirs");
    ASSERT_TRUE(place_file(scratch.c_str(), script, true));
    EXPECT_EQ(test_support::read_file(scratch), cleaning_script);

    // No temporary file stays behind, whatever happened.
    auto after = test_support::folder_entries("C:\\");
    std::erase(after, "ramclean-staging-test.bin");
    EXPECT_EQ(after, before);
}

TEST_F(StagingTest, PlaceFileFailsWithoutTouchingWhatIsThere) {
    const byte_block script = cleaning_script_block();
    const auto before = test_support::folder_entries("C:\\");
    EXPECT_FALSE(place_file("", script, true));
    EXPECT_FALSE(place_file(nullptr, script, true));
    EXPECT_FALSE(place_file("C:\\ramclean-no-such-folder\\x.bin", script, true));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    // An empty block would pass for the real file: nothing is written.
    for (std::int32_t count : {0, -5}) {
        EXPECT_FALSE(place_file(scratch.c_str(), {count, script.bytes}, true));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_DATA));
    }
    EXPECT_EQ(test_support::folder_entries("C:\\"), before);

    // Held open without sharing: the move fails and the temporary file goes again.
    ASSERT_TRUE(test_support::write_file(scratch, "kept"));
    {
        file_handle holder(CreateFileA(scratch.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_FALSE(place_file(scratch.c_str(), script, true));
        EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    }
    EXPECT_EQ(test_support::read_file(scratch), "kept");
    auto after = test_support::folder_entries("C:\\");
    std::erase(after, "ramclean-staging-test.bin");
    EXPECT_EQ(after, before);
}

TEST_F(StagingTest, HeldFileLetsOthersOnlyReadItUntilReleased) {
    ASSERT_TRUE(test_support::write_file(scratch, cleaning_script));
    held_file held(scratch.c_str());
    ASSERT_TRUE(held);
    const auto open = [&](DWORD access, DWORD sharing) {
        return file_handle(CreateFileA(scratch.c_str(), access, sharing, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    EXPECT_TRUE(open(GENERIC_READ, all));
    EXPECT_FALSE(open(GENERIC_WRITE, all));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(open(DELETE, all));
    EXPECT_FALSE(DeleteFileA(scratch.c_str()));
    EXPECT_FALSE(MoveFileExA(scratch.c_str(), "C:\\ramclean-staging-moved.bin", 0));
    EXPECT_FALSE(place_file(scratch.c_str(), cleaning_script_block(), true));
    EXPECT_TRUE(held.holds_exactly(cleaning_script_block()));

    held.release();
    EXPECT_TRUE(DeleteFileA(scratch.c_str()));
    EXPECT_FALSE(held_file(scratch.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(held_file("C:\\windows")) << "a directory is no file to hold";
}

TEST_F(StagingTest, HeldFileHoldsExactlyTheBlockOnly) {
    const byte_block script = cleaning_script_block();
    std::string other = cleaning_script;
    other[40] ^= 1;
    for (const std::string& content :
         {other, cleaning_script + "\r\n", cleaning_script.substr(0, 71), std::string()}) {
        ASSERT_TRUE(test_support::write_file(scratch, content));
        EXPECT_FALSE(held_file(scratch.c_str()).holds_exactly(script)) << content;
    }
    ASSERT_TRUE(test_support::write_file(scratch, cleaning_script));
    held_file held(scratch.c_str());
    // Reads from the start each time, wherever an earlier read left the file.
    EXPECT_TRUE(held.holds_exactly(script));
    EXPECT_TRUE(held.holds_exactly(script));
}

namespace {

// Identifies a file, so that a test can tell a re-created one from the one it put there.
std::optional<std::uint64_t> file_id(const std::string& path) {
    file_handle file(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file || !GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
    return (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
}

bool others_may_change(HANDLE) { return true; }
bool only_we_may_change(HANDLE) { return false; }

// What a case finds at its path; `ours` stands for the bytes of the file the case is about.
const std::string ours_marker = "<ours>";
const entry nothing{};
const entry ours{entry::file, ours_marker};
const entry other_tool{entry::file, "MZ other tool"};
const entry other_script{entry::file, "echo other\r\n"};
const entry empty_file{entry::file, ""};
const entry a_directory{entry::directory, ""};

enum held_path { the_tool, the_script };
enum outcome { ours_written, ours_kept, as_found };

// What hold_tool_image or hold_cleaning_script finds, how the file's security is judged, and
// what it leaves.
struct hold_case {
    const char* name;
    held_path which;
    entry before;
    security_judge judge;
    DWORD result;
    outcome after;
};

void PrintTo(const hold_case& c, std::ostream* os) { *os << c.name; }

class HoldToolFile : public StagingTest, public ::testing::WithParamInterface<hold_case> {};

}  // namespace

TEST_P(HoldToolFile, UsesOnlyFilesOthersCannotChangeAndHoldsWhatItUses) {
    const hold_case& c = GetParam();
    const bool tool = c.which == the_tool;
    const char* path = tool ? tool_image_path : cleaning_script_path;
    const std::string our_bytes = tool ? bytes_of(tool_image_block()) : cleaning_script;
    prepare(path, c.before == ours ? entry{entry::file, our_bytes} : c.before);
    const entry found = observe(path);
    const auto id_before = file_id(path);

    held_file held;
    EXPECT_EQ(tool ? hold_tool_image(held, c.judge) : hold_cleaning_script(held, c.judge),
              c.result);
    EXPECT_EQ(static_cast<bool>(held), c.result == ERROR_SUCCESS);
    if (held) {
        file_handle writer(CreateFileA(path, GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_FALSE(writer) << "held against writers";
        EXPECT_TRUE(held.holds_exactly(tool ? tool_image_block() : cleaning_script_block()) ||
                    c.after == as_found);
    }
    held.release();
    switch (c.after) {
        case ours_written:
            EXPECT_EQ(observe(path), (entry{entry::file, our_bytes}));
            EXPECT_NE(file_id(path), id_before) << "a file of its own";
            break;
        case ours_kept:
            EXPECT_EQ(observe(path), (entry{entry::file, our_bytes}));
            EXPECT_EQ(file_id(path), id_before);
            break;
        case as_found: EXPECT_EQ(observe(path), found); break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HoldToolFile,
    ::testing::ValuesIn(std::vector<hold_case>{
        {"ToolAbsent", the_tool, nothing, only_we_may_change, 0, ours_written},
        {"ToolOfOtherContent", the_tool, other_tool, only_we_may_change, 0, as_found},
        {"ToolOfOtherContentOthersMayChange", the_tool, other_tool, others_may_change,
         ERROR_INVALID_SECURITY_DESCR, as_found},
        {"EmptyToolOthersMayChange", the_tool, empty_file, others_may_change,
         ERROR_INVALID_SECURITY_DESCR, as_found},
        {"OurToolOthersMayChange", the_tool, ours, others_may_change, 0, ours_written},
        {"ToolDirectory", the_tool, a_directory, only_we_may_change, ERROR_DIRECTORY, as_found},
        {"ScriptAbsent", the_script, nothing, only_we_may_change, 0, ours_written},
        {"OurScript", the_script, ours, only_we_may_change, 0, ours_kept},
        {"ScriptOfOtherContent", the_script, other_script, only_we_may_change, 0, ours_written},
        {"OurScriptOthersMayChange", the_script, ours, others_may_change, 0, ours_written},
        {"ScriptDirectory", the_script, a_directory, only_we_may_change, ERROR_DIRECTORY, as_found},
    }),
    [](const auto& info) { return std::string(info.param.name); });

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
