#pragma once
// Running memtool.exe from tests: its command line, its journal lines, and a run with a token
// that lacks a privilege.
#include <windows.h>

#include <optional>
#include <string>

#include "test_support.h"

namespace memtool_process {

inline std::string memtool_command(const std::string& arguments) {
    return test_support::command_line(test_support::bin_path("memtool.exe"), arguments);
}

// The journal line of an option that a memtool of `bits` bits performed with success.
inline std::string done_line(const std::string& option, int bits = test_support::build_bits) {
    return option + " " + std::to_string(bits) + " 0x00000000";
}

// Runs memtool with our token minus one privilege, as a user who does not hold it;
// its exit code, or nullopt when it could not be started or did not end.
inline std::optional<DWORD> run_without_privilege(const char* privilege,
                                                  const std::string& arguments) {
    return test_support::wait_exit(
        test_support::start_process_without_privilege(privilege, memtool_command(arguments)));
}

}  // namespace memtool_process
