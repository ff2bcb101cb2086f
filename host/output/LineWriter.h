#pragma once

#include <windows.h>

#include <string_view>

namespace devicescan::host {

// Writes whole lines to one of the process's standard handles, each with a single write, so that
// a reader on a pipe sees every line as soon as it is written (nothing is buffered). A console
// gets the text as UTF-16 (WriteConsoleW); a pipe or a file gets UTF-8. Lines end in "\n".
//
// Threads: any; one line is one write, so lines of different threads never mix. Write errors
// (a reader that went away) are ignored.
class LineWriter {
  public:
    explicit LineWriter(DWORD standardHandle) noexcept;

    void Write(std::string_view utf8Line) const;

  private:
    HANDLE handle;
    bool console;
};

}  // namespace devicescan::host
