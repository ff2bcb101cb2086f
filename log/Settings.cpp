#include "log/Settings.h"

#include <windows.h>

#include <cwctype>
#include <limits>
#include <optional>

#include "sdk/Utf8.h"

namespace devicescan::logdll {
namespace {

constexpr std::size_t kMaximumProblemsListed = 10;

std::wstring_view Trim(std::wstring_view text) {
    const auto isBlank = [](wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r'; };
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::wstring Lower(std::wstring_view text) {
    std::wstring lower(text);
    for (wchar_t& c : lower) {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    return lower;
}

std::wstring_view Unquote(std::wstring_view value) {
    if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"') {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

std::optional<bool> ParseBool(std::wstring_view value) {
    const std::wstring lower = Lower(value);
    if (lower == L"1" || lower == L"true" || lower == L"yes" || lower == L"on") {
        return true;
    }
    if (lower == L"0" || lower == L"false" || lower == L"no" || lower == L"off") {
        return false;
    }
    return std::nullopt;
}

// A decimal or 0x-prefixed hexadecimal number, times a K, M or G (optionally followed by B)
// multiplier of 1024 when allowed; nothing on overflow or stray characters.
std::optional<std::uint64_t> ParseNumber(std::wstring_view value, bool allowUnits) {
    std::uint64_t base = 10;
    if (value.size() > 2 && value[0] == L'0' && (value[1] == L'x' || value[1] == L'X')) {
        base = 16;
        value.remove_prefix(2);
        allowUnits = false;
    }
    std::uint64_t number = 0;
    std::size_t digits = 0;
    for (; digits < value.size(); ++digits) {
        const wchar_t c = value[digits];
        std::uint64_t digit = 0;
        if (c >= L'0' && c <= L'9') {
            digit = static_cast<std::uint64_t>(c - L'0');
        } else if (base == 16 && std::iswxdigit(c)) {
            digit = static_cast<std::uint64_t>(std::towlower(c) - L'a' + 10);
        } else {
            break;
        }
        if (number > (std::numeric_limits<std::uint64_t>::max() - digit) / base) {
            return std::nullopt;
        }
        number = number * base + digit;
    }
    if (digits == 0) {
        return std::nullopt;
    }
    const std::wstring unit = Lower(Trim(value.substr(digits)));
    std::uint64_t multiplier = 1;
    if (unit.empty() || unit == L"b") {
        multiplier = 1;
    } else if (allowUnits && (unit == L"k" || unit == L"kb")) {
        multiplier = std::uint64_t{1} << 10;
    } else if (allowUnits && (unit == L"m" || unit == L"mb")) {
        multiplier = std::uint64_t{1} << 20;
    } else if (allowUnits && (unit == L"g" || unit == L"gb")) {
        multiplier = std::uint64_t{1} << 30;
    } else {
        return std::nullopt;
    }
    if (number > std::numeric_limits<std::uint64_t>::max() / multiplier) {
        return std::nullopt;
    }
    return number * multiplier;
}

std::optional<std::uint32_t> ParseBounded(std::wstring_view value, std::uint32_t maximum) {
    const auto number = ParseNumber(value, false);
    if (!number || *number > maximum) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*number);
}

std::optional<std::uint32_t> ParseLevel(std::wstring_view value) {
    const std::wstring lower = Lower(value);
    if (lower == L"error") {
        return LOG_SEVERITY_ERROR;
    }
    if (lower == L"warning") {
        return LOG_SEVERITY_WARNING;
    }
    if (lower == L"info") {
        return LOG_SEVERITY_INFO;
    }
    if (lower == L"debug") {
        return LOG_SEVERITY_DEBUG;
    }
    if (lower == L"all") {
        return LOG_LEVEL_ALL;
    }
    return ParseBounded(value, std::numeric_limits<std::uint32_t>::max());
}

std::optional<std::uint32_t> ParseType(std::wstring_view value) {
    const std::wstring lower = Lower(value);
    if (lower == L"file") {
        return LOG_TYPE_FILE;
    }
    if (lower == L"debugger") {
        return LOG_TYPE_DEBUGGER;
    }
    if (lower == L"both") {
        return LOG_TYPE_FILE | LOG_TYPE_DEBUGGER;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> ParseMode(std::wstring_view value) {
    const std::wstring lower = Lower(value);
    if (lower == L"line") {
        return LOG_MODE_FLUSH_EACH_LINE;
    }
    if (lower == L"buffered") {
        return LOG_MODE_BUFFERED;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> ParseMaxSize(std::wstring_view value) {
    const auto size = ParseNumber(value, true);
    if (!size || (*size != 0 && *size < kMinimumMaxSize)) {
        return std::nullopt;
    }
    return size;
}

std::optional<std::wstring> ParsePath(std::wstring_view value) {
    if (value.size() >= 32767) {
        return std::nullopt;
    }
    return std::wstring(value);
}

// Stores a parsed value, or reports why the default stays.
template <typename T, typename Parser>
bool Assign(T& field, std::wstring_view value, Parser parse) {
    const auto parsed = parse(value);
    if (!parsed) {
        return false;
    }
    field = *parsed;
    return true;
}

// True when key names a setting; valid is false when its value is bad.
bool ApplySetting(Settings& settings, const std::wstring& key, std::wstring_view value,
                  bool& valid) {
    if (key == L"enabled") {
        valid = Assign(settings.enabled, value, ParseBool);
    } else if (key == L"path") {
        valid = Assign(settings.path, value, ParsePath);
    } else if (key == L"level") {
        valid = Assign(settings.level, value, ParseLevel);
    } else if (key == L"max_size") {
        valid = Assign(settings.maxSize, value, ParseMaxSize);
    } else if (key == L"backups") {
        valid = Assign(settings.backups, value,
                       [](std::wstring_view v) { return ParseBounded(v, kMaximumBackups); });
    } else if (key == L"type") {
        valid = Assign(settings.type, value, ParseType);
    } else if (key == L"flush") {
        valid = Assign(settings.mode, value, ParseMode);
    } else if (key == L"depth") {
        valid = Assign(settings.depth, value,
                       [](std::wstring_view v) { return ParseBounded(v, kMaximumDepth); });
    } else if (key == L"monitor") {
        valid = Assign(settings.monitor, value, ParseBool);
    } else {
        return false;
    }
    return true;
}

void Report(std::vector<std::wstring>& problems, std::size_t& count, std::size_t line,
            std::wstring_view what, std::wstring_view text) {
    if (++count > kMaximumProblemsListed) {
        return;
    }
    constexpr std::size_t kQuoted = 80;
    problems.push_back(L"line " + std::to_wstring(line) + L": " + std::wstring(what) + L" \"" +
                       std::wstring(text.substr(0, kQuoted)) + L"\"");
}

}  // namespace

Settings ParseSettings(std::wstring_view text, std::vector<std::wstring>& problems) {
    Settings settings;
    std::size_t problemCount = 0;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = std::min(text.find(L'\n'), text.size());
        const std::wstring_view line = Trim(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.empty() || line.front() == L';' || line.front() == L'#' || line.front() == L'[') {
            continue;
        }
        const std::size_t equals = line.find(L'=');
        if (equals == std::wstring_view::npos) {
            Report(problems, problemCount, lineNumber, L"not a setting:", line);
            continue;
        }
        const std::wstring key = Lower(Trim(line.substr(0, equals)));
        const std::wstring_view value = Unquote(Trim(line.substr(equals + 1)));
        bool valid = true;
        if (!ApplySetting(settings, key, value, valid)) {
            Report(problems, problemCount, lineNumber, L"unknown setting", key);
            continue;
        }
        if (!valid) {
            Report(problems, problemCount, lineNumber, L"bad value, the default is used:", line);
        }
    }
    if (problemCount > kMaximumProblemsListed) {
        problems.push_back(std::to_wstring(problemCount - kMaximumProblemsListed) +
                           L" more problems not listed");
    }
    return settings;
}

std::wstring DecodeSettingsText(std::string_view bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        bytes.remove_prefix(2);
        std::wstring text(bytes.size() / 2, L'\0');
        for (std::size_t i = 0; i < text.size(); ++i) {
            text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                           static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
        }
        return text;
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
    }
    return qv::FromUtf8(bytes);
}

}  // namespace devicescan::logdll
