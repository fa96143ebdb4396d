#include "token.h"

#include <sddl.h>

#include "handles.h"

namespace ramclean {

std::vector<DWORD> token_information(TOKEN_INFORMATION_CLASS kind) {
    handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
    DWORD size = 0;
    GetTokenInformation(token.get(), kind, nullptr, 0, &size);
    std::vector<DWORD> buffer((size + sizeof(DWORD) - 1) / sizeof(DWORD));
    if (size == 0 || !GetTokenInformation(token.get(), kind, buffer.data(), size, &size)) return {};
    return buffer;
}

std::string token_user_sid_text() {
    const std::vector<DWORD> user = token_information(TokenUser);
    char* text = nullptr;
    if (user.empty() ||
        !ConvertSidToStringSidA(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid, &text))
        return {};
    const local_memory owned(text);
    return text;
}

bool token_holds_privilege(const char* name) {
    LUID wanted{};
    if (!LookupPrivilegeValueA(nullptr, name, &wanted)) return false;
    const std::vector<DWORD> buffer = token_information(TokenPrivileges);
    if (buffer.empty()) return false;
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID& held = privileges->Privileges[i].Luid;
        if (held.LowPart == wanted.LowPart && held.HighPart == wanted.HighPart) return true;
    }
    return false;
}

}  // namespace ramclean
