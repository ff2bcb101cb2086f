#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace devicescan::host {

// Builds one JSON object on one line, fields in the order they are added. The text is plain
// ASCII: every character outside printable ASCII is written as a \uXXXX escape (an unpaired
// surrogate of a Windows path too), so the line survives any console code page.
class JsonLine {
  public:
    JsonLine& Add(std::string_view name, std::wstring_view value);
    JsonLine& Add(std::string_view name, std::uint64_t value);

    // The object, without a line break.
    std::string Text() const { return text + "}"; }

    // The JSON string literal for value, quotes included.
    static std::string Quote(std::wstring_view value);

  private:
    void Name(std::string_view name);

    std::string text = "{";
};

}  // namespace devicescan::host
