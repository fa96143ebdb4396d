#include "memtool.h"

#include <cstdio>

#include "text.h"

namespace memtool {

namespace {

// Information classes and memory list commands of NtSetSystemInformation.
constexpr ULONG system_file_cache_information_ex = 81;
constexpr ULONG system_memory_list_information = 80;
enum memory_list_command : int {
    memory_empty_working_sets = 2,
    memory_flush_modified_list = 3,
    memory_purge_standby_list = 4,
    memory_purge_low_priority_standby_list = 5,
};

// SYSTEM_FILECACHE_INFORMATION; minimum and maximum both all-ones empty the system working set.
struct file_cache_information {
    SIZE_T current_size;
    SIZE_T peak_size;
    ULONG page_fault_count;
    SIZE_T minimum_working_set;
    SIZE_T maximum_working_set;
    SIZE_T current_size_including_transition_in_pages;
    SIZE_T peak_size_including_transition_in_pages;
    ULONG transition_repurpose_count;
    ULONG flags;
};

constexpr LONG status_privilege_not_held = static_cast<LONG>(0xC0000061);
constexpr LONG status_invalid_parameter = static_cast<LONG>(0xC000000D);

struct option_entry {
    const char* name;
    operation op;
};
constexpr option_entry options[] = {
    {"-ew", operation::empty_working_sets},
    {"-es", operation::empty_system_working_set},
    {"-em", operation::flush_modified_list},
    {"-et", operation::purge_standby_list},
    {"-e0", operation::purge_low_priority_standby_list},
};

LONG set_memory_list(memory_list_command command, set_information_function set_information) {
    int value = command;
    return set_information(system_memory_list_information, &value, sizeof value);
}

}  // namespace

const char* option_name(operation op) {
    for (const option_entry& entry : options)
        if (entry.op == op) return entry.name;
    return "";
}

const char* required_privilege(operation op) {
    return op == operation::empty_system_working_set ? SE_INCREASE_QUOTA_NAME
                                                     : SE_PROF_SINGLE_PROCESS_NAME;
}

std::optional<std::vector<operation>> parse_arguments(int argc, const char* const* argv) {
    std::vector<operation> result;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (ramclean::equal_ignoring_ascii_case(argument, "-accepteula")) continue;
        bool known = false;
        for (const option_entry& entry : options) {
            if (ramclean::equal_ignoring_ascii_case(argument, entry.name)) {
                result.push_back(entry.op);
                known = true;
            }
        }
        if (!known) return std::nullopt;
    }
    if (result.empty()) return std::nullopt;
    return result;
}

LONG perform(operation op, set_information_function set_information) {
    switch (op) {
        case operation::empty_working_sets:
            return set_memory_list(memory_empty_working_sets, set_information);
        case operation::empty_system_working_set: {
            file_cache_information info{};
            info.minimum_working_set = static_cast<SIZE_T>(-1);
            info.maximum_working_set = static_cast<SIZE_T>(-1);
            return set_information(system_file_cache_information_ex, &info, sizeof info);
        }
        case operation::flush_modified_list:
            return set_memory_list(memory_flush_modified_list, set_information);
        case operation::purge_standby_list:
            return set_memory_list(memory_purge_standby_list, set_information);
        case operation::purge_low_priority_standby_list:
            return set_memory_list(memory_purge_low_priority_standby_list, set_information);
    }
    return status_invalid_parameter;
}

int perform_all(const std::vector<operation>& operations, set_information_function set_information,
                const std::function<void(operation, LONG status)>& after_each) {
    int result = done;
    for (operation op : operations) {
        const LONG status = perform(op, set_information);
        if (after_each) after_each(op, status);
        if (status < 0 && result == done)
            result = status == status_privilege_not_held ? not_elevated : refused;
    }
    return result;
}

std::string journal_line(operation op, int bits, LONG status) {
    char line[48];
    std::snprintf(line, sizeof line, "%s %d 0x%08lX\r\n", option_name(op), bits,
                  static_cast<unsigned long>(status));
    return line;
}

std::string private_folder_sddl(const std::string& user_sid) {
    // P: protected from inheritance; OICI: files and folders inside get the same entries.
    return "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + user_sid + ")";
}

}  // namespace memtool
