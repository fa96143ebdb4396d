#include "resources.h"

namespace ramclean {

resource_data rcdata_resource(const char* name, HMODULE module) noexcept {
    HRSRC info = FindResourceA(module, name, RT_RCDATA);
    if (info == nullptr) return {};
    HGLOBAL loaded = LoadResource(module, info);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) return {};
    return {static_cast<const unsigned char*>(bytes), SizeofResource(module, info)};
}

}  // namespace ramclean
