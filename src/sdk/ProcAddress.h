#pragma once

#include <windows.h>

namespace qv {

// GetProcAddress typed as the function the caller expects; null when the export is missing.
template <typename FunctionPointer>
FunctionPointer GetProcAddressAs(HMODULE module, const char* name) noexcept {
    return reinterpret_cast<FunctionPointer>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace qv
