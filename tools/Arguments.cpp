// tools/ is devicescan-volume.exe, which plugs and unplugs volumes under Wine and broadcasts the
// notifications (README.md, main.cpp). This file: reading its command line.
#include "tools/Arguments.h"

#include <dbt.h>

namespace devicescan::tools {

namespace {

struct NamedType {
    std::wstring_view name;
    UINT type;
};

constexpr NamedType kDriveTypes[] = {
    {L"removable", DRIVE_REMOVABLE}, {L"fixed", DRIVE_FIXED}, {L"network", DRIVE_REMOTE},
    {L"remote", DRIVE_REMOTE},       {L"cdrom", DRIVE_CDROM}, {L"ramdisk", DRIVE_RAMDISK},
};

// 0-15 for a hexadecimal digit, else -1.
int DigitValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

bool StartsWithDigit(std::wstring_view text) {
    return !text.empty() && text[0] >= L'0' && text[0] <= L'9';
}

bool IsLetter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

wchar_t UpperLetter(wchar_t letter) {
    return letter >= L'a' ? static_cast<wchar_t>(letter - L'a' + L'A') : letter;
}

std::optional<DWORD> ParseLetters(std::wstring_view text) {
    if (text.size() == 2 && text[1] == L':') {
        text.remove_suffix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    DWORD mask = 0;
    for (const wchar_t c : text) {
        if (!IsLetter(c)) {
            return std::nullopt;
        }
        mask |= UnitMaskOf(UpperLetter(c));
    }
    return mask;
}

}  // namespace

std::optional<wchar_t> ParseDriveLetter(std::wstring_view text) {
    if (text.size() == 2 && text[1] == L':') {
        text.remove_suffix(1);
    }
    if (text.size() != 1 || !IsLetter(text[0])) {
        return std::nullopt;
    }
    return UpperLetter(text[0]);
}

std::optional<UINT> ParseDriveType(std::wstring_view name) {
    for (const NamedType& known : kDriveTypes) {
        if (known.name == name) {
            return known.type;
        }
    }
    return std::nullopt;
}

const char* DriveTypeName(UINT type) {
    switch (type) {
        case DRIVE_UNKNOWN:
            return "unknown";
        case DRIVE_NO_ROOT_DIR:
            return "none";
        case DRIVE_REMOVABLE:
            return "removable";
        case DRIVE_FIXED:
            return "fixed";
        case DRIVE_REMOTE:
            return "network";
        case DRIVE_CDROM:
            return "cdrom";
        case DRIVE_RAMDISK:
            return "ramdisk";
        default:
            return "?";
    }
}

std::optional<DWORD> ParseNumber(std::wstring_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    unsigned long long value = 0;
    for (const wchar_t c : text) {
        const int digit = DigitValue(c);
        if (digit < 0 || digit >= base) {
            return std::nullopt;
        }
        value = value * base + digit;
    }
    if (value > 0xFFFFFFFFull) {
        return std::nullopt;
    }
    return static_cast<DWORD>(value);
}

std::optional<DWORD> ParseUnitMask(std::wstring_view text) {
    if (StartsWithDigit(text)) {
        return ParseNumber(text);
    }
    return ParseLetters(text);
}

std::optional<WPARAM> ParseDeviceEvent(std::wstring_view text) {
    if (text == L"arrival") {
        return DBT_DEVICEARRIVAL;
    }
    if (text == L"removal") {
        return DBT_DEVICEREMOVECOMPLETE;
    }
    if (!StartsWithDigit(text)) {
        return std::nullopt;
    }
    return ParseNumber(text);
}

}  // namespace devicescan::tools
