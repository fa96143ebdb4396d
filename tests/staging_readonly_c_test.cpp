// Staging where C:\ takes no new file: C: is a read-only mount (see fixtures/c-drive-mounts.sh).
#include <gtest/gtest.h>

#include "staging.h"
#include "test_support.h"

using namespace ramclean;

namespace {

class StagingOnReadOnlyC : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test_support::c_drive_is("readonly"))
            GTEST_SKIP() << "C: is not the read-only mount (mount refused?)";
    }
};

}  // namespace

TEST_F(StagingOnReadOnlyC, CreatesNothingAndReturns) {
    ASSERT_FALSE(file_exists(tool_image_path));
    ASSERT_FALSE(file_exists(cleaning_script_path));

    // Returns (shows no message box, which would hold it here) and leaves C:\ as it was.
    stage_tools();

    EXPECT_FALSE(file_exists(tool_image_path));
    EXPECT_FALSE(file_exists(cleaning_script_path));
}

TEST_F(StagingOnReadOnlyC, PlaceFileFailsWithAccessDenied) {
    EXPECT_FALSE(place_file(cleaning_script_path, cleaning_script_block(), true));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(file_exists(cleaning_script_path));
}
