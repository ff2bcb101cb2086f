#include "host/output/JsonLine.h"

#include <cstdio>

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

}  // namespace devicescan::host
