#pragma once
// What memtool does, apart from the process around it (privileges, console, journal, twin):
// the command line it accepts and the system calls behind each option.
#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace memtool {

// Exit codes, also documented in README.
enum exit_code : int {
    done = 0,          // every operation done
    usage = 1,         // no option, or an argument that is not one
    not_elevated = 2,  // a needed privilege is not held
    refused = 3,       // the system refused an operation
    no_twin = 4,       // the 64-bit twin could not be written or started
};

enum class operation {
    empty_working_sets,              // -ew
    empty_system_working_set,        // -es
    flush_modified_list,             // -em
    purge_standby_list,              // -et
    purge_low_priority_standby_list  // -e0
};

// The option in lower case, as the journal spells it ("-ew").
const char* option_name(operation op);
// The privilege the system wants for the operation (SE_..._NAME).
const char* required_privilege(operation op);

// The operations in command-line order; nullopt when there is none or an argument is unknown.
// "-AcceptEula" (any case) is accepted and ignored.
std::optional<std::vector<operation>> parse_arguments(int argc, const char* const* argv);

// NtSetSystemInformation.
using set_information_function = LONG(NTAPI*)(ULONG information_class, PVOID information,
                                              ULONG length);

// One operation through the system; its NTSTATUS.
LONG perform(operation op, set_information_function set_information);

// Performs every operation in order, also after one has failed, calling `after_each` with the
// status of each; the exit code: done, or for the first failure not_elevated when the system
// said the privilege is not held and refused otherwise.
int perform_all(const std::vector<operation>& operations, set_information_function set_information,
                const std::function<void(operation, LONG status)>& after_each);

// One journal line: the option in lower case, the bitness, the NTSTATUS in hex, CR LF;
// e.g. "-ew 32 0x00000000\r\n".
std::string journal_line(operation op, int bits, LONG status);

// Security descriptor (SDDL) of the folder the 64-bit twin is written into: full control for
// SYSTEM, Administrators and the user `user_sid` names, passed on to what the folder holds,
// and nothing inherited from the folder around it.
std::string private_folder_sddl(const std::string& user_sid);

}  // namespace memtool
