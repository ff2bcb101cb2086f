#include "host/quarantine/ManifestRecord.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "host/output/JsonLine.h"
#include "sdk/Utf8.h"

namespace devicescan::quarantine {

namespace {

using host::JsonLine;

const wchar_t* KindName(ManifestRecord::Kind kind) {
    switch (kind) {
        case ManifestRecord::Kind::kQuarantined:
            return L"quarantined";
        case ManifestRecord::Kind::kRestored:
            return L"restored";
        case ManifestRecord::Kind::kWithdrawn:
            return L"withdrawn";
    }
    return L"";
}

// Reads the flat JSON objects the manifest holds: string, whole-number and string-array values.
// Anything else, or anything malformed, fails the whole line.
class FlatObjectReader {
  public:
    explicit FlatObjectReader(std::string_view text) : text(text) {}

    bool Read(ManifestRecord& record) {
        Space();
        if (!Take('{')) {
            return false;
        }
        Space();
        if (Take('}')) {
            return End();
        }
        do {
            std::wstring name;
            Space();
            if (!String(name) || (Space(), !Take(':'))) {
                return false;
            }
            Space();
            if (!Value(name, record)) {
                return false;
            }
            Space();
        } while (Take(','));
        return Take('}') && End();
    }

  private:
    bool Value(const std::wstring& name, ManifestRecord& record) {
        if (Peek() == '[') {
            return Strings(name == L"names" ? &record.names : nullptr);
        }
        if (Peek() >= '0' && Peek() <= '9') {
            std::uint64_t number = 0;
            if (!Number(number)) {
                return false;
            }
            if (name == L"size") {
                record.size = number;
            }
            return true;
        }
        std::wstring value;
        if (!String(value)) {
            return false;
        }
        if (name == L"record") {
            return KindOf(value, record.kind);
        }
        if (name == L"mode") {
            record.originalKept = value == L"copy";
        }
        std::wstring* field = name == L"id"         ? &record.id
                              : name == L"time"     ? &record.time
                              : name == L"original" ? &record.original
                              : name == L"file"     ? &record.file
                              : name == L"sha256"   ? &record.sha256
                              : name == L"reason"   ? &record.reason
                                                    : nullptr;
        if (field != nullptr) {
            *field = std::move(value);
        }
        return true;
    }

    static bool KindOf(const std::wstring& value, ManifestRecord::Kind& kind) {
        for (const auto candidate :
             {ManifestRecord::Kind::kQuarantined, ManifestRecord::Kind::kRestored,
              ManifestRecord::Kind::kWithdrawn}) {
            if (value == KindName(candidate)) {
                kind = candidate;
                return true;
            }
        }
        return false;
    }

    bool Strings(std::vector<std::string>* out) {
        Take('[');
        Space();
        if (Take(']')) {
            return true;
        }
        do {
            Space();
            std::wstring value;
            if (!String(value)) {
                return false;
            }
            if (out != nullptr) {
                out->push_back(qv::ToUtf8(value));
            }
            Space();
        } while (Take(','));
        return Take(']');
    }

    bool Number(std::uint64_t& value) {
        while (Peek() >= '0' && Peek() <= '9') {
            const auto digit = static_cast<std::uint64_t>(text[at++] - '0');
            if (value > (UINT64_MAX - digit) / 10) {
                return false;
            }
            value = value * 10 + digit;
        }
        return true;
    }

    bool String(std::wstring& value) {
        if (!Take('"')) {
            return false;
        }
        while (at < text.size()) {
            const char c = text[at++];
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
                return false;  // the writer escapes everything outside printable ASCII
            }
            if (c != '\\') {
                value += static_cast<wchar_t>(c);
                continue;
            }
            if (!Escape(value)) {
                return false;
            }
        }
        return false;
    }

    bool Escape(std::wstring& value) {
        if (at >= text.size()) {
            return false;
        }
        const char c = text[at++];
        switch (c) {
            case '"':
            case '\\':
            case '/':
                value += static_cast<wchar_t>(c);
                return true;
            case 'n':
                value += L'\n';
                return true;
            case 'r':
                value += L'\r';
                return true;
            case 't':
                value += L'\t';
                return true;
            case 'u':
                break;
            default:
                return false;
        }
        if (text.size() - at < 4) {
            return false;
        }
        unsigned unit = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = text[at++];
            const int digit = h >= '0' && h <= '9'   ? h - '0'
                              : h >= 'a' && h <= 'f' ? h - 'a' + 10
                              : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                                     : -1;
            if (digit < 0) {
                return false;
            }
            unit = unit << 4 | static_cast<unsigned>(digit);
        }
        value += static_cast<wchar_t>(unit);  // a UTF-16 unit, as a Windows path holds it
        return true;
    }

    char Peek() const { return at < text.size() ? text[at] : '\0'; }
    bool Take(char c) {
        if (Peek() != c) {
            return false;
        }
        ++at;
        return true;
    }
    void Space() {
        while (Peek() == ' ' || Peek() == '\t' || Peek() == '\r') {
            ++at;
        }
    }
    bool End() {
        Space();
        return at == text.size();
    }

    std::string_view text;
    std::size_t at = 0;
};

}  // namespace

std::string ManifestRecord::Line() const {
    JsonLine json;
    json.Add("record", KindName(kind)).Add("id", id);
    if (kind == Kind::kQuarantined) {
        json.Add("original", original)
            .Add("file", file)
            .Add("size", size)
            .Add("sha256", sha256)
            .Add("time", time)
            .Add("names", names)
            .Add("mode", originalKept ? L"copy" : L"move");
        return json.Text();
    }
    json.Add("time", time);
    if (kind == Kind::kWithdrawn) {
        json.Add("reason", reason);
    }
    return json.Text();
}

std::optional<ManifestRecord> ManifestRecord::Parse(std::string_view line) {
    ManifestRecord record;
    record.kind = static_cast<Kind>(-1);
    if (!FlatObjectReader(line).Read(record) || record.id.empty()) {
        return std::nullopt;
    }
    switch (record.kind) {
        case Kind::kQuarantined:
            if (record.file.empty() || record.original.empty()) {
                return std::nullopt;
            }
            return record;
        case Kind::kRestored:
        case Kind::kWithdrawn:
            return record;
    }
    return std::nullopt;  // no "record" field
}

std::wstring ManifestRecord::Now() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    wchar_t text[32];
    std::swprintf(text, 32, L"%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond);
    return text;
}

}  // namespace devicescan::quarantine
