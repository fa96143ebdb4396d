// Staging where C:\ takes no new file: C: is a read-only mount (see fixtures/c-drive-mounts.sh).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "staging.h"
#include "test_support.h"

using namespace ramclean;

namespace {

bool on_readonly_c() {
    const char* drive = std::getenv("RAMCLEAN_TEST_C_DRIVE");
    return drive != nullptr && std::string(drive) == "readonly";
}

}  // namespace

TEST(StagingOnReadOnlyC, CreatesNothingAndReturns) {
    if (!on_readonly_c()) GTEST_SKIP() << "C: is not the read-only mount (mount refused?)";
    ASSERT_FALSE(file_exists(tool_image_path));
    ASSERT_FALSE(file_exists(cleaning_script_path));

    // Returns (shows no message box, which would hold it here) and leaves C:\ as it was.
    stage_tools();

    EXPECT_FALSE(file_exists(tool_image_path));
    EXPECT_FALSE(file_exists(cleaning_script_path));
}

TEST(StagingOnReadOnlyC, PlaceFileFailsWithAccessDenied) {
    if (!on_readonly_c()) GTEST_SKIP() << "C: is not the read-only mount (mount refused?)";
    EXPECT_FALSE(place_file(cleaning_script_path, cleaning_script_block(), true));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(file_exists(cleaning_script_path));
}
