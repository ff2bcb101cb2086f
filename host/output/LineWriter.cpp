#include "host/output/LineWriter.h"

#include <string>

#include "sdk/Utf8.h"

namespace devicescan::host {

LineWriter::LineWriter(DWORD standardHandle) noexcept
    : handle(GetStdHandle(standardHandle)), console(false) {
    DWORD mode = 0;
    console = handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

void LineWriter::Write(std::string_view utf8Line) const {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    if (console) {
        const std::wstring wide = qv::FromUtf8(utf8Line) + L"\n";
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    std::string line(utf8Line);
    line += '\n';
    WriteFile(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace devicescan::host
