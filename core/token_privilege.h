#pragma once
// What the process token allows, asked before work that needs it.

namespace ramclean {

// True when this process's token holds the named privilege, enabled or not: enabling it is
// the business of whoever uses it. False when it is absent or the token cannot be read.
[[nodiscard]] bool token_holds_privilege(const char* name);

}  // namespace ramclean
