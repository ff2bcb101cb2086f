#include "log/LineFormat.h"

#include <algorithm>

#include "logging/LogApi.h"

namespace devicescan::logdll {
namespace {

constexpr std::uint32_t kIndentWidth = 2;
constexpr std::uint32_t kDeepestIndent = 64;  // deeper levels are drawn at this one
constexpr std::size_t kSeverityWidth = 7;
constexpr std::size_t kThreadIdWidth = 5;

// value in decimal, at least width digits (leading zeros).
void AppendNumber(LineBuffer& line, unsigned value, std::size_t width, char pad = '0') {
    char digits[10];
    std::size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (std::size_t i = count; i < width; ++i) {
        line.Append(pad);
    }
    while (count > 0) {
        line.Append(digits[--count]);
    }
}

void AppendTime(LineBuffer& line, const SYSTEMTIME& time) {
    AppendNumber(line, time.wYear, 4);
    line.Append('-');
    AppendNumber(line, time.wMonth, 2);
    line.Append('-');
    AppendNumber(line, time.wDay, 2);
    line.Append(' ');
    AppendNumber(line, time.wHour, 2);
    line.Append(':');
    AppendNumber(line, time.wMinute, 2);
    line.Append(':');
    AppendNumber(line, time.wSecond, 2);
    line.Append('.');
    AppendNumber(line, time.wMilliseconds, 3);
}

void AppendPadded(LineBuffer& line, std::string_view text, std::size_t width) {
    line.Append(text);
    for (std::size_t i = text.size(); i < width; ++i) {
        line.Append(' ');
    }
}

}  // namespace

std::string_view SeverityName(std::uint32_t severity, char (&buffer)[11]) {
    switch (severity) {
        case LOG_SEVERITY_ERROR:
            return "ERROR";
        case LOG_SEVERITY_WARNING:
            return "WARNING";
        case LOG_SEVERITY_INFO:
            return "INFO";
        case LOG_SEVERITY_DEBUG:
            return "DEBUG";
        default:
            break;
    }
    constexpr char kHex[] = "0123456789ABCDEF";
    char digits[8];
    std::size_t count = 0;
    do {
        digits[count++] = kHex[severity & 0xF];
        severity >>= 4;
    } while (severity != 0);
    buffer[0] = '0';
    buffer[1] = 'x';
    for (std::size_t i = 0; i < count; ++i) {
        buffer[2 + i] = digits[count - 1 - i];
    }
    return std::string_view(buffer, 2 + count);
}

void FormatLine(LineBuffer& line, const LineFields& fields) {
    AppendTime(line, fields.localTime);
    line.Append(' ');
    AppendNumber(line, fields.threadId, kThreadIdWidth, ' ');
    line.Append(' ');
    char severityBuffer[11];
    AppendPadded(line, SeverityName(fields.severity, severityBuffer), kSeverityWidth);
    line.Append(' ');
    line.AppendUtf8(fields.module);
    line.Append(' ');
    line.AppendUtf8(fields.function.empty() ? std::wstring_view(L"-") : fields.function);
    line.Append(": ");
    const std::uint32_t spaces = std::min(fields.indent, kDeepestIndent) * kIndentWidth;
    for (std::uint32_t i = 0; i < spaces; ++i) {
        line.Append(' ');
    }
    line.AppendUtf8(fields.text);
    line.Append("\r\n");
}

}  // namespace devicescan::logdll
