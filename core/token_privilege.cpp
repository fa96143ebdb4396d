#include "token_privilege.h"

#include <windows.h>

#include <vector>

#include "handles.h"

namespace ramclean {

bool token_holds_privilege(const char* name) {
    LUID wanted{};
    if (!LookupPrivilegeValueA(nullptr, name, &wanted)) return false;
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) return false;
    handle token(opened);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &size);
    std::vector<DWORD> buffer((size + sizeof(DWORD) - 1) / sizeof(DWORD));
    if (size == 0 || !GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), size, &size))
        return false;
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID& held = privileges->Privileges[i].Luid;
        if (held.LowPart == wanted.LowPart && held.HighPart == wanted.HighPart) return true;
    }
    return false;
}

}  // namespace ramclean
