// memtool: its command line, the system calls behind each option, and the program as the
// cleaning script runs it (in this 32-bit prefix, without WoW64, so it does the work itself).
//
// Under Wine, as root: the token holds and enables both privileges (AdjustTokenPrivileges
// succeeds with ERROR_SUCCESS), and NtSetSystemInformation returns success for both classes
// without doing anything. So "not held" is shown with a token that lacks the privilege, and a
// refusal through a stand-in for NtSetSystemInformation.
#include "memtool.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <cstring>
#include <string>
#include <vector>

#include "memtool_process.h"
#include "test_support.h"

using memtool::operation;
using memtool_process::done_line;
using memtool_process::memtool_command;
using test_support::environment_setting;
using test_support::file_lines;

namespace {

struct arguments_case {
    const char* name;
    std::vector<const char*> arguments;
    std::optional<std::vector<operation>> expected;
};

void PrintTo(const arguments_case& c, std::ostream* os) { *os << c.name; }

class ParseArguments : public ::testing::TestWithParam<arguments_case> {};

const std::vector<operation> all_five = {
    operation::empty_working_sets, operation::empty_system_working_set,
    operation::flush_modified_list, operation::purge_standby_list,
    operation::purge_low_priority_standby_list};

}  // namespace

TEST_P(ParseArguments, TakesTheFiveOptionsInOrderAndNothingElse) {
    const arguments_case& c = GetParam();
    std::vector<const char*> argv = {"RAMMap.exe"};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    EXPECT_EQ(memtool::parse_arguments(static_cast<int>(argv.size()), argv.data()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseArguments,
    ::testing::Values(arguments_case{"ScriptOrder", {"-ew", "-es", "-em", "-et", "-e0"}, all_five},
                      arguments_case{"AnyCase", {"-EW", "-Es", "-eM", "-ET", "-E0"}, all_five},
                      arguments_case{"GivenOrderAndRepeats",
                                     {"-e0", "-ew", "-e0"},
                                     std::vector{operation::purge_low_priority_standby_list,
                                                 operation::empty_working_sets,
                                                 operation::purge_low_priority_standby_list}},
                      arguments_case{"EulaIgnored",
                                     {"-AcceptEula", "-et", "-ACCEPTEULA"},
                                     std::vector{operation::purge_standby_list}},
                      arguments_case{"Nothing", {}, std::nullopt},
                      arguments_case{"OnlyEula", {"-accepteula"}, std::nullopt},
                      arguments_case{"UnknownAfterGood", {"-ew", "-ex"}, std::nullopt},
                      arguments_case{"LetterOInsteadOfZero", {"-eO"}, std::nullopt},
                      arguments_case{"SlashForm", {"/ew"}, std::nullopt},
                      arguments_case{"Joined", {"-ew-es"}, std::nullopt},
                      arguments_case{"Empty", {""}, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

namespace {

// Stands in for NtSetSystemInformation: records each call, answers with `answers` in turn.
struct recorded_call {
    ULONG information_class;
    std::vector<unsigned char> information;
    bool operator==(const recorded_call&) const = default;
};
void PrintTo(const recorded_call& call, std::ostream* os) {
    *os << "class " << call.information_class << " with "
        << ::testing::PrintToString(call.information);
}
std::vector<recorded_call> calls;
std::vector<LONG> answers;

LONG NTAPI fake_set_information(ULONG information_class, PVOID information, ULONG length) {
    const auto* bytes = static_cast<const unsigned char*>(information);
    calls.push_back({information_class, std::vector<unsigned char>(bytes, bytes + length)});
    if (answers.empty()) return 0;
    const LONG answer = answers.front();
    answers.erase(answers.begin());
    return answer;
}

std::vector<unsigned char> command_bytes(int command) {
    std::vector<unsigned char> bytes(sizeof command);
    std::memcpy(bytes.data(), &command, sizeof command);
    return bytes;
}

// SYSTEM_FILECACHE_INFORMATION (this build's layout) with minimum and maximum all ones.
std::vector<unsigned char> file_cache_bytes() {
    struct {
        SIZE_T current_size, peak_size;
        ULONG page_fault_count;
        SIZE_T minimum_working_set, maximum_working_set, current_with_transition,
            peak_with_transition;
        ULONG transition_repurpose_count, flags;
    } info{};
    static_assert(sizeof info == (sizeof(void*) == 4 ? 36 : 64));
    info.minimum_working_set = static_cast<SIZE_T>(-1);
    info.maximum_working_set = static_cast<SIZE_T>(-1);
    std::vector<unsigned char> bytes(sizeof info);
    std::memcpy(bytes.data(), &info, sizeof info);
    return bytes;
}

class Perform : public ::testing::Test {
protected:
    void SetUp() override {
        calls.clear();
        answers.clear();
    }
};

}  // namespace

TEST_F(Perform, CallsTheInformationClassAndCommandOfEachOption) {
    EXPECT_EQ(memtool::perform_all(all_five, fake_set_information, nullptr), memtool::done);
    const std::vector<recorded_call> expected = {
        {80, command_bytes(2)},    // empty working sets
        {81, file_cache_bytes()},  // empty the system working set
        {80, command_bytes(3)},    // flush the modified list
        {80, command_bytes(4)},    // purge the standby list
        {80, command_bytes(5)},    // purge the priority-0 standby list
    };
    EXPECT_EQ(calls, expected);
}

TEST_F(Perform, ExitCodeTellsTheFirstRefusalAndEveryOptionIsStillTried) {
    struct exit_case {
        std::vector<LONG> answers;
        int exit_code;
    };
    const LONG access_denied = static_cast<LONG>(0xC0000022);
    const LONG privilege_not_held = static_cast<LONG>(0xC0000061);
    for (const exit_case& c : std::vector<exit_case>{
             {{0, 0, 0, 0, 0}, memtool::done},
             {{0, 0x40000000, 0, 0, 0}, memtool::done},  // informational status: success
             {{0, access_denied, 0, 0, 0}, memtool::refused},
             {{0, 0, 0, 0, privilege_not_held}, memtool::not_elevated},
             {{access_denied, privilege_not_held, 0, 0, 0}, memtool::refused},
             {{privilege_not_held, access_denied, 0, 0, 0}, memtool::not_elevated}}) {
        calls.clear();
        answers = c.answers;
        std::vector<LONG> reported;
        EXPECT_EQ(memtool::perform_all(all_five, fake_set_information,
                                       [&](operation, LONG status) { reported.push_back(status); }),
                  c.exit_code);
        EXPECT_EQ(calls.size(), 5u);
        EXPECT_EQ(reported, c.answers);
    }
}

TEST(JournalLine, IsOptionBitsAndStatusInHex) {
    EXPECT_EQ(memtool::journal_line(operation::empty_working_sets, 32, 0), "-ew 32 0x00000000\r\n");
    EXPECT_EQ(memtool::journal_line(operation::purge_low_priority_standby_list, 64,
                                    static_cast<LONG>(0xC0000061)),
              "-e0 64 0xC0000061\r\n");
}

// Wine keeps no DACL it is given, so the twin's folder descriptor is checked as data.
TEST(PrivateFolderDescriptor, GivesFullControlToSystemAdministratorsAndTheUserOnlyAndIsProtected) {
    const std::string user = "S-1-5-21-1004336348-1177238915-682003330-1001";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        memtool::private_folder_sddl(user).c_str(), SDDL_REVISION_1, &descriptor, nullptr));
    const ramclean::local_memory owned(descriptor);

    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing inherited from the folder around it";
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    ASSERT_TRUE(present && dacl != nullptr) << "a null DACL would let everybody in";

    std::vector<std::string> allowed;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, &entry));
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        SCOPED_TRACE(i);
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        EXPECT_EQ(ace->Mask, static_cast<DWORD>(FILE_ALL_ACCESS));
        char* sid = nullptr;
        ASSERT_TRUE(ConvertSidToStringSidA(const_cast<DWORD*>(&ace->SidStart), &sid));
        const ramclean::local_memory owned_sid(sid);
        allowed.push_back(sid);
    }
    EXPECT_EQ(allowed, (std::vector<std::string>{"S-1-5-18", "S-1-5-32-544", user}));
}

namespace {

// A run of memtool, with our token or without one privilege, and what it leaves.
struct memtool_run {
    const char* without_privilege;  // null: with our token
    const char* arguments;
    DWORD exit_code;
    std::vector<std::string> journal;  // the whole journal after the run; none: no file
};

class MemtoolProgram : public ::testing::Test {
protected:
    test_support::temp_folder folder;
    const std::string journal = folder.file("journal.txt");
    environment_setting journal_variable{"RAMCLEAN_TOOL_JOURNAL", journal};

    std::optional<DWORD> run(const std::string& arguments) {
        return test_support::run(memtool_command(arguments));
    }
    void expect_runs(const std::vector<memtool_run>& runs) {
        for (const memtool_run& r : runs) {
            SCOPED_TRACE(std::string(r.without_privilege ? r.without_privilege : "our token") +
                         ": " + r.arguments);
            EXPECT_EQ(r.without_privilege
                          ? memtool_process::run_without_privilege(r.without_privilege, r.arguments)
                          : run(r.arguments),
                      r.exit_code);
            EXPECT_EQ(file_lines(journal), r.journal);
            if (r.journal.empty()) {
                EXPECT_FALSE(test_support::exists(journal));
            }
        }
    }
};

}  // namespace

TEST_F(MemtoolProgram, JournalsTheFiveOptionsInScriptOrder) {
    const std::vector<std::string> five = {done_line("-ew"), done_line("-es"), done_line("-em"),
                                           done_line("-et"), done_line("-e0")};
    std::vector<std::string> then_et = five;
    then_et.push_back(done_line("-et"));
    // One run per option, as the script does, appends in order.
    expect_runs(
        {{nullptr, "-ew -es -em -et -e0", 0, five}, {nullptr, "-AcceptEula -Et", 0, then_et}});
}

TEST_F(MemtoolProgram, UsageErrorsDoNothing) {
    for (const char* arguments : {"", "-AcceptEula", "-ew -bogus", "-bogus -ew", "ew"}) {
        SCOPED_TRACE(arguments);
        EXPECT_EQ(run(arguments), static_cast<DWORD>(memtool::usage));
    }
    EXPECT_FALSE(test_support::exists(journal));
}

TEST_F(MemtoolProgram, WithoutAPrivilegeDoesNothingAndExitsTwo) {
    const DWORD not_elevated = memtool::not_elevated;
    const std::vector<std::string> es_done = {done_line("-es")};
    expect_runs({
        // The memory list options need SeProfileSingleProcessPrivilege; all or nothing.
        {SE_PROF_SINGLE_PROCESS_NAME, "-es -ew", not_elevated, {}},
        // -es needs only SeIncreaseQuotaPrivilege.
        {SE_PROF_SINGLE_PROCESS_NAME, "-es", 0, es_done},
        {SE_INCREASE_QUOTA_NAME, "-es", not_elevated, es_done},
    });
}

TEST(MemtoolImage, IsAGuiProgramOfTheBuildsArchitectureWithItsOwnVersionBlock) {
    const std::string path = test_support::bin_path("memtool.exe");
    const auto pe = test_support::read_pe_file(path);
    ASSERT_TRUE(pe);
    EXPECT_EQ(pe->form, test_support::build_gui_program);

    // "ramclean 内存工具" in code page 936.
    EXPECT_EQ(test_support::version_string(path, "FileDescription"),
              "ramclean \xC4\xDA\xB4\xE6\xB9\xA4\xBE\xDF");
}
