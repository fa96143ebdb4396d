#pragma once
// Who may change the files we place in C:\, a folder every user can reach: the security
// descriptor we give them, and whether a file found there is open to changes by other users.
#include <windows.h>

#include <vector>

namespace ramclean {

// A self-relative security descriptor whose DACL gives full control to Administrators and
// SYSTEM and read and execute to Users, protected from inheritance. Empty when it could not
// be built. For SECURITY_ATTRIBUTES::lpSecurityDescriptor at CreateFile.
std::vector<unsigned char> protected_file_security();

// True when the descriptor lets another user change the file or its security: its DACL is
// absent (everyone may do anything), or grants Everyone, Users, Authenticated Users,
// Interactive or Guests the right to write or append data, delete, change the DACL or take
// ownership (generic rights mapped as for files; ACEs in order, so an earlier deny ACE for
// the same group, or for Everyone, takes such a right back); or its owner, who may always
// change the DACL, is someone other than Administrators, SYSTEM, TrustedInstaller or
// `our_user`. A descriptor without an owner is judged by its DACL alone.
[[nodiscard]] bool writable_by_others(PSECURITY_DESCRIPTOR descriptor, PSID our_user);

// The same for an open file (its handle needs READ_CONTROL), with the user of this process's
// token as `our_user`. True as well when the descriptor or the owner cannot be read.
[[nodiscard]] bool file_writable_by_others(HANDLE file);

}  // namespace ramclean
