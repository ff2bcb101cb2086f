#pragma once

#include <cstdint>

namespace logging {

// Severity of a log record; LogWrite receives a pointer to one of these values.
inline constexpr std::uint32_t LOG_ERROR = 0x4;    // a failure
inline constexpr std::uint32_t LOG_WARNING = 0x8;  // unexpected, but handled
inline constexpr std::uint32_t LOG_INFO = 0x20;    // information and trace lines

}  // namespace logging
