// terminate_by_name: which process a name picks (a window title first, else the first
// image name that matches as a whole, regardless of case), that exactly one is ended with
// exit code 0, and that nothing stays open. The processes are copies of small helpers.
#include <gtest/gtest.h>
#include <windows.h>
// Needs the types of windows.h.
#include <tlhelp32.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "terminate_by_name.h"
#include "test_support.h"

using ramclean::terminate_by_name;

namespace {

class TerminateByNameTest : public ::testing::Test {
protected:
    // Ends what a test left running, so that the folder can go with the copies in it.
    void TearDown() override {
        for (auto& p : started)
            if (p.process && WaitForSingleObject(p.process.get(), 0) == WAIT_TIMEOUT) {
                TerminateProcess(p.process.get(), 1);
                WaitForSingleObject(p.process.get(), 5000);
            }
        started.clear();
    }

    // Starts a copy of a helper under another image name (arguments after a blank), in a
    // folder of its own when asked (a file of a process just ended may not yet be free).
    test_support::started_process& start_copy(const char* helper, const std::string& image,
                                              const std::string& arguments = "",
                                              const std::string& subfolder = "") {
        const std::string copy_folder = subfolder.empty() ? folder.path() : folder.file(subfolder);
        CreateDirectoryA(copy_folder.c_str(), nullptr);
        const std::string path = copy_folder + "\\" + image;
        if (!test_support::exists(path)) {  // a second process of one image runs the same copy
            EXPECT_TRUE(CopyFileA(test_support::bin_path(helper).c_str(), path.c_str(), TRUE));
        }
        started.push_back(test_support::start_process(test_support::command_line(path, arguments)));
        EXPECT_TRUE(started.back().process) << image;
        return started.back();
    }
    test_support::started_process& start_sleeper(const std::string& image) {
        return start_copy("sleeper.exe", image);
    }
    test_support::started_process& start_titled_window(const std::string& title) {
        started.push_back(test_support::start_process(
            test_support::command_line(test_support::bin_path("titled_window.exe"), title)));
        EXPECT_TRUE(test_support::wait_until(
            [&] { return FindWindowA(nullptr, title.c_str()) != nullptr; }));
        return started.back();
    }

    static bool running(const test_support::started_process& p) {
        return WaitForSingleObject(p.process.get(), 0) == WAIT_TIMEOUT;
    }

    const std::string id = std::to_string(GetCurrentProcessId());
    test_support::temp_folder folder;
    std::deque<test_support::started_process> started;  // references stay valid
};

}  // namespace

TEST_F(TerminateByNameTest, AnEmptyNameEndsNothingEvenWithAWindowOfEmptyTitle) {
    auto& untitled = start_copy("titled_window.exe", "rc_untitled.exe", "\"\"");
    ASSERT_EQ(WaitForInputIdle(untitled.process.get(), 10000), 0u);  // its window exists
    EXPECT_FALSE(terminate_by_name(""));
    EXPECT_FALSE(terminate_by_name(nullptr));
    EXPECT_TRUE(running(untitled));
}

TEST(SameImageName, ComparesWholeNamesIgnoringTheCaseOfLettersAndDoubleByteCharacters) {
    ASSERT_EQ(GetACP(), 936u) << "the double-byte cases need code page 936";
    // An image name, the names that are the same as it and those that are not.
    struct name_case {
        const char* image;
        std::vector<const char*> same;
        std::vector<const char*> different;
    };
    const name_case cases[] = {
        {"RAMMap.exe", {"RAMMap.exe", "rammap.EXE"}, {"RAMMap", "C:\\RAMMap.exe", "RAMMap64.exe"}},
        {"RAMMap", {}, {"RAMMap.exe"}},
        {"{`@[.exe", {}, {"[@`{.exe"}},  // neighbours of the letters are not letters
        {"", {""}, {}},
        // "清理.exe" in two cases.
        {"\xC7\xE5\xC0\xED.EXE", {"\xC7\xE5\xC0\xED.exe"}, {}},
        // Full-width "Ａ" against "ａ": one character in two cases.
        {"\xA3\xC1.exe", {"\xA3\xE1.exe"}, {}},
        // Two different characters whose trail bytes happen to be the letters 'A' and 'a'.
        {"\x81\x41.exe", {}, {"\x81\x61.exe"}},
        // A lead byte is not a letter of its own either.
        {"\x81\x61", {"\x81\x61"}, {}},
        {"\xC7\xE6", {}, {"\xC7\xE5"}},
    };
    for (const name_case& c : cases) {
        for (const char* name : c.same)
            EXPECT_TRUE(ramclean::same_image_name(name, c.image)) << name << " / " << c.image;
        for (const char* name : c.different)
            EXPECT_FALSE(ramclean::same_image_name(name, c.image)) << name << " / " << c.image;
    }
}

TEST_F(TerminateByNameTest, TheWholeImageNameMatchesWithoutRegardToCase) {
    const std::string image = "RcTerm_" + id + ".exe";
    struct name_case {
        std::string name;
        bool ends;
    };
    const name_case cases[] = {
        {image, true},
        {"RCTERM_" + id + ".EXE", true},
        {"rcterm_" + id + ".exe", true},
        {"RcTerm_" + id, false},              // no extension added
        {"RcTerm_" + id + ".ex", false},      // no prefix match
        {folder.file("0\\" + image), false},  // no path stripped
        {"Nothing_" + id + ".exe", false},
    };
    int index = 0;
    for (const name_case& c : cases) {
        SCOPED_TRACE(c.name);
        auto& target = start_copy("sleeper.exe", image, "", std::to_string(index++));
        ASSERT_EQ(test_support::processes_named(image).size(), 1u) << "image name as listed";
        EXPECT_EQ(terminate_by_name(c.name.c_str()), c.ends);
        if (c.ends)
            EXPECT_EQ(test_support::wait_exit(target, 10000), std::optional<DWORD>(0));
        else
            EXPECT_TRUE(running(target));
        TerminateProcess(target.process.get(), 1);
        WaitForSingleObject(target.process.get(), 5000);
    }
}

TEST_F(TerminateByNameTest, OfTwoProcessesOfOneNameOneCallEndsTheFirstInSnapshotOrder) {
    const std::string image = "RcTwin_" + id + ".exe";
    auto& one = start_sleeper(image);
    auto& two = start_sleeper(image);
    const std::vector<DWORD> order = test_support::processes_named(image);
    ASSERT_EQ(order.size(), 2u);
    auto& first = order[0] == one.id ? one : two;
    auto& second = order[0] == one.id ? two : one;

    EXPECT_TRUE(terminate_by_name(image.c_str()));
    EXPECT_EQ(test_support::wait_exit(first, 10000), std::optional<DWORD>(0));
    EXPECT_TRUE(running(second));

    EXPECT_TRUE(terminate_by_name(image.c_str()));
    EXPECT_EQ(test_support::wait_exit(second, 10000), std::optional<DWORD>(0));
    EXPECT_FALSE(terminate_by_name(image.c_str()));
}

TEST_F(TerminateByNameTest, AWindowTitledWithTheNameMakesItsOwnerTheTargetOverTheImageName) {
    const std::string name = "RcTitled_" + id + ".exe";
    auto& by_image = start_sleeper(name);
    auto& by_title = start_titled_window(name);  // its image is titled_window.exe

    EXPECT_TRUE(terminate_by_name(name.c_str()));
    EXPECT_EQ(test_support::wait_exit(by_title, 10000), std::optional<DWORD>(0));
    EXPECT_TRUE(running(by_image));
}

TEST_F(TerminateByNameTest, TheProgramsOwnImageNameOrWindowTitleEndsItselfWithExitCodeZero) {
    // The helpers exit with 3 or 4 should the call return to them.
    auto& by_image = start_copy("sleeper.exe", "RcSelf_" + id + ".exe", "--end-self");
    auto& by_title =
        start_copy("titled_window.exe", "RcSelfTitled.exe", "RcSelfTitle_" + id + " --end-self");
    EXPECT_EQ(test_support::wait_exit(by_image, 10000), std::optional<DWORD>(0));
    EXPECT_EQ(test_support::wait_exit(by_title, 10000), std::optional<DWORD>(0));
}

TEST_F(TerminateByNameTest, LeavesNoHandleOpen) {
    const std::string image = "RcHandles_" + id + ".exe", title = "RcHandlesTitle_" + id;
    auto& by_image = start_sleeper(image);
    auto& by_title = start_titled_window(title);
    EXPECT_FALSE(terminate_by_name(("Nothing_" + id + ".exe").c_str()));  // warms up the system

    const int handles_before = test_support::count_handles(GetCurrentProcessId());
    EXPECT_TRUE(terminate_by_name(image.c_str()));
    EXPECT_TRUE(terminate_by_name(title.c_str()));
    EXPECT_FALSE(terminate_by_name(("Nothing_" + id + ".exe").c_str()));
    EXPECT_EQ(test_support::count_handles(GetCurrentProcessId()), handles_before);
    EXPECT_EQ(test_support::wait_exit(by_image, 10000), std::optional<DWORD>(0));
    EXPECT_EQ(test_support::wait_exit(by_title, 10000), std::optional<DWORD>(0));
}
