// Staging when C: fills up: C: is a 64 KiB tmpfs (see fixtures/c-drive-mounts.sh), smaller
// than the tool image.
#include <gtest/gtest.h>

#include <string>

#include "staging.h"
#include "test_support.h"

using namespace ramclean;

namespace {

class StagingOnFullC : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test_support::c_drive_is("full"))
            GTEST_SKIP() << "C: is not the small tmpfs (mount refused?)";
        TearDown();
        ASSERT_GT(tool_image_block().count, 64 * 1024);
    }
    void TearDown() override {
        DeleteFileA(tool_image_path);
        DeleteFileA(cleaning_script_path);
    }
};

}  // namespace

TEST_F(StagingOnFullC, LeavesNoPartialToolImageAndStillWritesTheScript) {
    const auto before = test_support::folder_entries("C:\\");
    stage_tools();
    // No cut-short tool image stays behind, under its name or a temporary one, for later
    // starts to take as present.
    EXPECT_FALSE(file_exists(tool_image_path));
    EXPECT_EQ(test_support::read_file(cleaning_script_path), test_support::cleaning_script);
    ASSERT_TRUE(DeleteFileA(cleaning_script_path));
    EXPECT_EQ(test_support::folder_entries("C:\\"), before);

    // The next start tries again, with the same result.
    stage_tools();
    EXPECT_FALSE(file_exists(tool_image_path));
    EXPECT_TRUE(file_exists(cleaning_script_path));
}

TEST_F(StagingOnFullC, ToolImageThatDoesNotFitFailsWithDiskFullAndLeavesNothing) {
    const auto before = test_support::folder_entries("C:\\");
    // Wine reports the short write as a success with fewer bytes written.
    EXPECT_FALSE(place_file(tool_image_path, tool_image_block(), false));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_EQ(test_support::folder_entries("C:\\"), before);

    // A cleaning run's staging says so too, and holds nothing.
    held_file held;
    EXPECT_EQ(hold_tool_image(held), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_FALSE(held);
    EXPECT_EQ(test_support::folder_entries("C:\\"), before);
}
