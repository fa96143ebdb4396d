#pragma once
// Running memtool.exe from tests: a scratch folder, the journal, and a token without a privilege.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "handles.h"
#include "test_support.h"

namespace memtool_process {

// A fresh folder in the test's temp folder, removed with everything in it at the end.
class scratch_folder {
public:
    scratch_folder() {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        static int serial = 0;
        path_ = std::string(temp) + "ramclean-memtool-" + std::to_string(GetCurrentProcessId()) +
                "-" + std::to_string(++serial);
        CreateDirectoryA(path_.c_str(), nullptr);
    }
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;
    ~scratch_folder() { remove(path_); }
    [[nodiscard]] const std::string& path() const { return path_; }
    [[nodiscard]] std::string operator/(const std::string& name) const {
        return path_ + "\\" + name;
    }
    // Names of the files and folders in the folder.
    [[nodiscard]] std::vector<std::string> entries() const { return names(path_); }

private:
    static std::vector<std::string> names(const std::string& folder) {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found;
        ramclean::find_handle search(FindFirstFileA((folder + "\\*").c_str(), &found));
        if (!search) return names;
        do {
            const std::string name = found.cFileName;
            if (name != "." && name != "..") names.push_back(name);
        } while (FindNextFileA(search.get(), &found));
        return names;
    }
    static void remove(const std::string& folder) {
        for (const std::string& name : names(folder)) {
            const std::string path = folder + "\\" + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!DeleteFileA(path.c_str())) remove(path);
        }
        RemoveDirectoryA(folder.c_str());
    }

    std::string path_;
};

// Sets an environment variable for the processes this test starts, restoring it at the end.
class environment_setting {
public:
    environment_setting(const char* name, const std::string& value) : name_(name) {
        char old[MAX_PATH * 2];
        const DWORD length = GetEnvironmentVariableA(name, old, sizeof old);
        if (length > 0 && length < sizeof old) old_ = std::string(old);
        SetEnvironmentVariableA(name, value.c_str());
    }
    environment_setting(const environment_setting&) = delete;
    environment_setting& operator=(const environment_setting&) = delete;
    ~environment_setting() { SetEnvironmentVariableA(name_, old_ ? old_->c_str() : nullptr); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// The journal's lines without their line ends.
inline std::vector<std::string> journal_lines(const std::string& path) {
    std::vector<std::string> lines;
    const std::string text = test_support::read_file(path).value_or("");
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

inline std::string memtool_command(const std::string& arguments) {
    return "\"" + test_support::bin_path("memtool.exe") + "\"" +
           (arguments.empty() ? "" : " " + arguments);
}

// Runs memtool with our token minus one privilege, as a user who does not hold it;
// its exit code, or nullopt when it could not be started or did not end.
inline std::optional<DWORD> run_without_privilege(const char* privilege,
                                                  const std::string& arguments) {
    return test_support::wait_exit(
        test_support::start_process_without_privilege(privilege, memtool_command(arguments)));
}

}  // namespace memtool_process
