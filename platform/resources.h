#pragma once
// Constant data a program carries as RCDATA resources.
#include <windows.h>

#include <cstddef>

namespace ramclean {

struct resource_data {
    const unsigned char* bytes = nullptr;
    std::size_t size = 0;  // 0: no such resource
};

// The bytes of the RCDATA resource `name` of `module` (null: the running executable, whose
// resources stay mapped for the life of the process).
[[nodiscard]] resource_data rcdata_resource(const char* name, HMODULE module = nullptr) noexcept;

}  // namespace ramclean
