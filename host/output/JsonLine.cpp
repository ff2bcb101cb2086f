#include "host/output/JsonLine.h"

#include <cstdio>

#include "sdk/Utf8.h"

namespace devicescan::host {

namespace {

void AppendEscaped(std::string& out, wchar_t c) {
    switch (c) {
        case L'"':
            out += "\\\"";
            return;
        case L'\\':
            out += "\\\\";
            return;
        case L'\n':
            out += "\\n";
            return;
        case L'\r':
            out += "\\r";
            return;
        case L'\t':
            out += "\\t";
            return;
        default:
            break;
    }
    if (c >= 0x20 && c < 0x7F) {
        out += static_cast<char>(c);
        return;
    }
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
    out += escape;
}

}  // namespace

std::string JsonLine::Quote(std::wstring_view value) {
    std::string out = "\"";
    for (const wchar_t c : value) {
        AppendEscaped(out, c);
    }
    out += '"';
    return out;
}

std::string JsonLine::Array(const std::vector<std::string>& values) {
    std::string out = "[";
    for (const std::string& value : values) {
        out += (out.size() > 1 ? "," : "") + Quote(qv::FromUtf8(value));
    }
    return out + "]";
}

void JsonLine::Name(std::string_view name) {
    if (text.size() > 1) {
        text += ',';
    }
    text += '"';
    text += name;
    text += "\":";
}

JsonLine& JsonLine::Add(std::string_view name, std::wstring_view value) {
    Name(name);
    text += Quote(value);
    return *this;
}

JsonLine& JsonLine::Add(std::string_view name, std::uint64_t value) {
    Name(name);
    text += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::Add(std::string_view name, const std::vector<std::string>& values) {
    Name(name);
    text += Array(values);
    return *this;
}

JsonLine& JsonLine::Add(std::string_view name,
                        const std::vector<std::pair<std::string, std::uint64_t>>& counts) {
    Name(name);
    text += '{';
    for (const auto& [key, count] : counts) {
        text += (text.back() == '{' ? "" : ",") + Quote(qv::FromUtf8(key)) + ":" +
                std::to_string(count);
    }
    text += '}';
    return *this;
}

}  // namespace devicescan::host
