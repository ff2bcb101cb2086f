#pragma once

#include <cstdint>

namespace devicescan::logging {

// Writes one message of severity for function, formatted from format (wide printf rules of
// Windows: %s is a wide string) and the arguments, while some reference on the shared log
// instance is held; otherwise does nothing, so a message never loads the library.
void LogMessage(std::uint32_t severity, const wchar_t* function, const wchar_t* format,
                ...) noexcept;

}  // namespace devicescan::logging
