#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace devicescan::host {

// Builds one JSON object on one line, fields in the order they are added. The text is plain
// ASCII: every character outside printable ASCII is written as a \uXXXX escape (an unpaired
// surrogate of a Windows path too), so the line survives any console code page.
class JsonLine {
  public:
    JsonLine& Add(std::string_view name, std::wstring_view value);
    JsonLine& Add(std::string_view name, std::uint64_t value);
    // An array of strings given as UTF-8.
    JsonLine& Add(std::string_view name, const std::vector<std::string>& values);
    // An object of counts by name (UTF-8): {"a":1,"b":2}.
    JsonLine& Add(std::string_view name,
                  const std::vector<std::pair<std::string, std::uint64_t>>& counts);

    // The object, without a line break.
    std::string Text() const { return text + "}"; }

    // The JSON string literal for value, quotes included.
    static std::string Quote(std::wstring_view value);
    // The JSON array of values (UTF-8), as Add writes it: ["a","b"].
    static std::string Array(const std::vector<std::string>& values);

  private:
    void Name(std::string_view name);

    std::string text = "{";
};

}  // namespace devicescan::host
