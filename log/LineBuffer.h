#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace devicescan::logdll {

// The bytes of one log line while it is put together: on the stack, unless the line is long.
class LineBuffer {
  public:
    LineBuffer() = default;
    LineBuffer(const LineBuffer&) = delete;
    LineBuffer& operator=(const LineBuffer&) = delete;

    void Append(std::string_view bytes);
    void Append(char c) { Append(std::string_view(&c, 1)); }
    // Appends text encoded as UTF-8. A line break inside the text becomes a space, so that a
    // record stays one line; a lone surrogate becomes U+FFFD.
    void AppendUtf8(std::wstring_view text);

    std::string_view View() const {
        return onHeap ? std::string_view(heap) : std::string_view(inlineBytes, size);
    }

  private:
    static constexpr std::size_t kInlineCapacity = 2048;

    char inlineBytes[kInlineCapacity];
    std::size_t size = 0;
    bool onHeap = false;
    std::string heap;
};

}  // namespace devicescan::logdll
