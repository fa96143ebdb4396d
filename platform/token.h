#pragma once
// What this process's token says: its user and its privileges.
#include <windows.h>

#include <string>
#include <vector>

namespace ramclean {

// GetTokenInformation of this process's token, in a buffer aligned for the record it holds;
// empty when the token cannot be read.
[[nodiscard]] std::vector<DWORD> token_information(TOKEN_INFORMATION_CLASS kind);

// The user's SID as text ("S-1-5-..."); empty when it cannot be read.
[[nodiscard]] std::string token_user_sid_text();

// True when this process's token holds the named privilege, enabled or not: enabling it is
// the business of whoever uses it. False when it is absent or the token cannot be read.
[[nodiscard]] bool token_holds_privilege(const char* name);

}  // namespace ramclean
