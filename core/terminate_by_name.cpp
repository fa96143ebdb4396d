#include "terminate_by_name.h"

#include <windows.h>
// Needs the types of windows.h.
#include <tlhelp32.h>

#include "handles.h"
#include "text.h"

namespace ramclean {
namespace {

// Bytes of the character at `p`: a lead byte of a double-byte code page takes its trail.
int char_length(const char* p) {
    return IsDBCSLeadByte(static_cast<BYTE>(p[0])) && p[1] != '\0' ? 2 : 1;
}

}  // namespace

bool same_image_name(const char* a, const char* b) {
    while (*a != '\0' && *b != '\0') {
        const int length = char_length(a);
        if (char_length(b) != length) return false;
        if (length == 2) {
            char upper_a[2] = {a[0], a[1]};
            char upper_b[2] = {b[0], b[1]};
            CharUpperBuffA(upper_a, 2);
            CharUpperBuffA(upper_b, 2);
            if (upper_a[0] != upper_b[0] || upper_a[1] != upper_b[1]) return false;
        } else if (ascii_upper(*a) != ascii_upper(*b)) {
            return false;
        }
        a += length;
        b += length;
    }
    return *a == *b;
}

namespace {

DWORD first_process_named(const char* name) {
    file_handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry{};
    static_assert(sizeof entry == (sizeof(void*) == 4 ? 296 : 304),
                  "the process entry of the ANSI interface");
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.get(), &entry); more;
         more = Process32Next(snapshot.get(), &entry))
        if (same_image_name(name, entry.szExeFile)) return entry.th32ProcessID;
    return 0;
}

}  // namespace

bool terminate_by_name(const char* name) {
    if (name == nullptr || *name == '\0') return false;
    DWORD id = 0;
    if (HWND window = FindWindowA(nullptr, name))
        GetWindowThreadProcessId(window, &id);  // a titled window wins over the process list
    else
        id = first_process_named(name);
    if (id == 0) return false;
    handle process(OpenProcess(PROCESS_TERMINATE, FALSE, id));
    return process && TerminateProcess(process.get(), 0) != 0;
}

}  // namespace ramclean
