#include "file_security.h"

#include <aclapi.h>

#include <initializer_list>

#include "handles.h"
#include "token.h"

namespace ramclean {
namespace {

// Room for any SID.
struct sid_buffer {
    alignas(DWORD) BYTE bytes[SECURITY_MAX_SID_SIZE] = {};
    PSID get() { return bytes; }
};

sid_buffer well_known(WELL_KNOWN_SID_TYPE type) {
    sid_buffer sid;
    DWORD size = sizeof sid.bytes;
    if (!CreateWellKnownSid(type, nullptr, sid.bytes, &size)) sid = {};
    return sid;
}

// NT SERVICE\TrustedInstaller, which owns the system's own files.
sid_buffer trusted_installer() {
    static constexpr DWORD parts[] = {80,         956008885,  3418522649,
                                      1831038044, 1853292631, 2271478464};
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    sid_buffer sid;
    if (!InitializeSid(sid.get(), &nt, static_cast<BYTE>(std::size(parts)))) return {};
    for (DWORD i = 0; i < std::size(parts); ++i) *GetSidSubAuthority(sid.get(), i) = parts[i];
    return sid;
}

bool same_sid(PSID a, PSID b) { return IsValidSid(a) && IsValidSid(b) && EqualSid(a, b); }

// What lets a user put other bytes where ours were expected, or keep the door open for that.
constexpr ACCESS_MASK change_rights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER;

ACCESS_MASK as_file_rights(ACCESS_MASK mask) {
    GENERIC_MAPPING files = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                             FILE_ALL_ACCESS};
    MapGenericMask(&mask, &files);
    return mask;
}

// True when an ACE of `dacl` grants `group` a change right that no earlier deny ACE for that
// group or for Everyone (which every member of a group also is) has taken back.
bool grants_change(PACL dacl, PSID group, PSID everyone) {
    ACCESS_MASK denied = 0;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) return true;  // unreadable: assume the worst
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceFlags & INHERIT_ONLY_ACE) continue;  // for children only
        // Every ACE kind starts with its header and its mask; these kinds then hold the SID.
        const auto* simple = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        const ACCESS_MASK rights = as_file_rights(simple->Mask);
        PSID sid = const_cast<DWORD*>(&simple->SidStart);
        switch (header->AceType) {
            case ACCESS_ALLOWED_ACE_TYPE:
            case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:  // its condition may hold
                if (same_sid(sid, group) && (rights & change_rights & ~denied)) return true;
                break;
            case ACCESS_DENIED_ACE_TYPE:
                if (same_sid(sid, group) || same_sid(sid, everyone)) denied |= rights;
                break;
            case ACCESS_DENIED_CALLBACK_ACE_TYPE:  // its condition may not hold
            case ACCESS_DENIED_OBJECT_ACE_TYPE:
            case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE: break;
            default:
                // An allowing kind not read here may grant anyone anything.
                if (rights & change_rights & ~denied) return true;
        }
    }
    return false;
}

bool trusted_owner(PSID owner, PSID our_user) {
    for (sid_buffer trusted : {well_known(WinBuiltinAdministratorsSid),
                               well_known(WinLocalSystemSid), trusted_installer()}) {
        if (same_sid(owner, trusted.get())) return true;
    }
    return our_user != nullptr && same_sid(owner, our_user);
}

}  // namespace

std::vector<unsigned char> protected_file_security() {
    sid_buffer administrators = well_known(WinBuiltinAdministratorsSid);
    sid_buffer system = well_known(WinLocalSystemSid);
    sid_buffer users = well_known(WinBuiltinUsersSid);
    struct grant {
        PSID sid;
        ACCESS_MASK rights;
    };
    const grant grants[] = {{administrators.get(), FILE_ALL_ACCESS},
                            {system.get(), FILE_ALL_ACCESS},
                            {users.get(), FILE_GENERIC_READ | FILE_GENERIC_EXECUTE}};

    DWORD acl_size = sizeof(ACL);
    for (const grant& g : grants) {
        if (!IsValidSid(g.sid)) return {};
        acl_size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(g.sid);
    }
    std::vector<DWORD> acl_buffer((acl_size + sizeof(DWORD) - 1) / sizeof(DWORD));
    auto* acl = reinterpret_cast<PACL>(acl_buffer.data());
    if (!InitializeAcl(acl, acl_size, ACL_REVISION)) return {};
    for (const grant& g : grants) {
        if (!AddAccessAllowedAce(acl, ACL_REVISION, g.rights, g.sid)) return {};
    }

    SECURITY_DESCRIPTOR absolute;
    if (!InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&absolute, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(&absolute, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        return {};
    DWORD size = 0;
    MakeSelfRelativeSD(&absolute, nullptr, &size);
    std::vector<unsigned char> descriptor(size);
    if (size == 0 || !MakeSelfRelativeSD(&absolute, descriptor.data(), &size)) return {};
    return descriptor;
}

bool writable_by_others(PSECURITY_DESCRIPTOR descriptor, PSID our_user) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) return true;
    if (!present || dacl == nullptr) return true;  // no DACL: nothing is refused to anyone
    PSID owner = nullptr;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted)) return true;
    if (owner != nullptr && !trusted_owner(owner, our_user)) return true;

    sid_buffer everyone = well_known(WinWorldSid);
    for (WELL_KNOWN_SID_TYPE others : {WinWorldSid, WinBuiltinUsersSid, WinAuthenticatedUserSid,
                                       WinInteractiveSid, WinBuiltinGuestsSid}) {
        if (grants_change(dacl, well_known(others).get(), everyone.get())) return true;
    }
    return false;
}

bool file_writable_by_others(HANDLE file) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(file, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return true;
    local_memory keep(descriptor);
    if (owner == nullptr) return true;

    std::vector<DWORD> user = token_information(TokenUser);
    if (user.empty()) return true;
    return writable_by_others(descriptor, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid);
}

}  // namespace ramclean
