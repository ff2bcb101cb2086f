#pragma once

#include <cstdint>

namespace qv {

// The Win32 error numbers the module produces itself. Any other non-zero result is a platform
// error passed on as GetLastError gave it.
inline constexpr std::uint32_t kResultSuccess = 0;               // ERROR_SUCCESS
inline constexpr std::uint32_t kResultInvalidParameter = 87;     // ERROR_INVALID_PARAMETER
inline constexpr std::uint32_t kResultAlreadyExists = 183;       // ERROR_ALREADY_EXISTS
inline constexpr std::uint32_t kResultNotFound = 1168;           // ERROR_NOT_FOUND
inline constexpr std::uint32_t kResultNotInitialized = 1300;     // ERROR_NOT_ALL_ASSIGNED
inline constexpr std::uint32_t kResultFunctionFailed = 1627;     // ERROR_FUNCTION_FAILED
inline constexpr std::uint32_t kResultDependencyMissing = 5002;  // ERROR_DEPENDENCY_NOT_FOUND

}  // namespace qv
