// The descriptor we give files in C:\ and the judgement of descriptors found there, as data:
// Wine accepts a DACL at CreateFile but does not keep it, so their effect on files is checked
// on Windows (see RELIABILITY.md).
#include "file_security.h"

#include <gtest/gtest.h>
// Needs the types of windows.h.
#include <sddl.h>

#include <string>

#include "handles.h"
#include "test_support.h"

using namespace ramclean;

namespace {

local_memory descriptor_from(const char* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        return {};
    return local_memory(descriptor);
}

local_memory sid_from(const char* text) {
    PSID sid = nullptr;
    if (!ConvertStringSidToSidA(text, &sid)) return {};
    return local_memory(sid);
}

// The user the cases take as the one running the program.
const char our_user[] = "S-1-5-21-1-2-3-1001";

struct judgement_case {
    const char* name;
    const char* sddl;
    bool writable;
};

void PrintTo(const judgement_case& c, std::ostream* os) { *os << c.name; }

class WritableByOthers : public ::testing::TestWithParam<judgement_case> {};

}  // namespace

TEST(ProtectedFileSecurity, GivesAdministratorsAndSystemFullControlAndUsersReadAndExecuteOnly) {
    std::vector<unsigned char> descriptor = protected_file_security();
    ASSERT_FALSE(descriptor.empty());
    ASSERT_TRUE(IsValidSecurityDescriptor(descriptor.data()));
    char* text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(
        descriptor.data(), SDDL_REVISION_1,
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
        nullptr));
    local_memory keep(text);
    // P: nothing inherited from C:\; no inheritance flags on the entries; no owner given, so
    // Windows makes the creator's default owner the owner.
    EXPECT_STREQ(text, "D:P(A;;FA;;;BA)(A;;FA;;;SY)(A;;0x1200a9;;;BU)");
    EXPECT_FALSE(writable_by_others(descriptor.data(), nullptr));
}

TEST_P(WritableByOthers, JudgesOwnerAndDaclInOrder) {
    const judgement_case& c = GetParam();
    local_memory descriptor = descriptor_from(c.sddl);
    ASSERT_TRUE(descriptor) << "cannot parse " << c.sddl << ": " << GetLastError();
    local_memory user = sid_from(our_user);
    ASSERT_TRUE(user);
    EXPECT_EQ(writable_by_others(descriptor.get(), user.get()), c.writable);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WritableByOthers,
    ::testing::Values(
        judgement_case{"OursWithAdministratorsAsOwner",
                       "O:BAD:P(A;;FA;;;BA)(A;;FA;;;SY)(A;;0x1200a9;;;BU)", false},
        // What a file an administrator creates in C:\ inherits on a default installation.
        judgement_case{"InheritedFromTheRootOfC",
                       "O:BAD:AI(A;ID;FA;;;BA)(A;ID;FA;;;SY)(A;ID;0x1200a9;;;BU)"
                       "(A;ID;0x1301bf;;;AU)",
                       true},
        judgement_case{"NoDaclAtAll", "O:BA", true}, judgement_case{"EmptyDacl", "O:BAD:P", false},
        judgement_case{"EveryoneReadsAndExecutes", "D:(A;;FRFX;;;WD)", false},
        judgement_case{"AttributesAndExtendedAttributesOnly", "D:(A;;0x110;;;BU)", false},
        // Each change right alone, each group of others once.
        judgement_case{"EveryoneWritesData", "D:(A;;0x2;;;WD)", true},
        judgement_case{"UsersAppend", "D:(A;;0x4;;;BU)", true},
        judgement_case{"AuthenticatedUsersDelete", "D:(A;;SD;;;AU)", true},
        judgement_case{"InteractiveChangesTheDacl", "D:(A;;WD;;;IU)", true},
        judgement_case{"GuestsTakeOwnership", "D:(A;;WO;;;BG)", true},
        // Generic rights count as what they map to for files.
        judgement_case{"UsersGenericWrite", "D:(A;;GW;;;BU)", true},
        judgement_case{"UsersGenericAll", "D:(A;;GA;;;BU)", true},
        judgement_case{"UsersGenericReadAndExecute", "D:(A;;GRGX;;;BU)", false},
        // Deny entries take rights back only when they come first and cover them.
        judgement_case{"DenyAllBeforeAllowSameGroup", "D:(D;;GA;;;BU)(A;;FA;;;BU)", false},
        judgement_case{"DenyEveryoneBeforeAllowUsers", "D:(D;;GA;;;WD)(A;;FA;;;BU)", false},
        judgement_case{"DenyWriteOnlyLeavesDelete", "D:(D;;FW;;;BU)(A;;FA;;;BU)", true},
        judgement_case{"DenyAfterAllow", "D:(A;;FA;;;BU)(D;;GA;;;BU)", true},
        judgement_case{"DenyForAnotherGroup", "D:(D;;GA;;;AU)(A;;FA;;;BU)", true},
        judgement_case{"InheritOnlyEntryIsForChildren", "D:(A;OICIIO;FA;;;BU)", false},
        // The owner may always rewrite the DACL.
        judgement_case{"OwnedBySystem", "O:SYD:P(A;;FA;;;SY)", false},
        judgement_case{"OwnedByTrustedInstaller",
                       "O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
                       "D:P(A;;FA;;;SY)",
                       false},
        judgement_case{"OwnedByUs", "O:S-1-5-21-1-2-3-1001D:P(A;;FA;;;BA)", false},
        judgement_case{"OwnedByAnotherUser", "O:S-1-5-21-1-2-3-1002D:P(A;;FA;;;BA)", true},
        judgement_case{"OwnedByUsers", "O:BUD:P(A;;FA;;;BA)", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WritableByOthersDescriptor, NullDaclLetsEveryoneDoEverything) {
    // Built by hand: Wine reads "D:NO_ACCESS_CONTROL" as an empty DACL, the opposite.
    SECURITY_DESCRIPTOR descriptor;
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE));
    EXPECT_TRUE(writable_by_others(&descriptor, nullptr));
}

TEST(FileWritableByOthers, ReadsTheDescriptorThroughTheHandle) {
    test_support::temp_folder folder;
    const std::string path = folder.file("ours.bin");
    ASSERT_TRUE(test_support::write_file(path, "x"));
    // A file of our own in our temporary folder: ours alone (Wine: its default descriptor).
    file_handle readable(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(readable);
    EXPECT_FALSE(file_writable_by_others(readable.get()));
    // A descriptor that cannot be read is taken for the worst.
    file_handle blind(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(blind);
    EXPECT_TRUE(file_writable_by_others(blind.get()));
}
