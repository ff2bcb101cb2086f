#include "host/output/ScanEventLines.h"

#include <utility>

#include "host/output/JsonLine.h"
#include "sdk/SystemMessage.h"
#include "sdk/Utf8.h"

namespace devicescan::host {

namespace {

// " member=[..]" inside an archive, nothing for the file itself.
std::wstring MemberText(const std::vector<std::string>& members) {
    return members.empty() ? L"" : L" member=" + qv::FromUtf8(JsonLine::Array(members));
}

// The event's first fields: its name, the file on disk and, inside an archive, the member chain.
JsonLine JsonStart(const wchar_t* event, const std::wstring& path,
                   const std::vector<std::string>& members) {
    JsonLine json;
    json.Add("event", event).Add("path", path);
    if (!members.empty()) {
        json.Add("member", members);
    }
    return json;
}

// A warning about a path: its reason, and in the readable line what it means for the user.
std::string WarningLine(EventPrinter::Format format, std::wstring_view path, const wchar_t* reason,
                        const wchar_t* meaning) {
    if (format == EventPrinter::Format::kJson) {
        return JsonLine().Add("event", L"warning").Add("path", path).Add("reason", reason).Text();
    }
    return qv::ToUtf8(L"warning " + std::wstring(path) + L" " + reason + L" (" + meaning + L")");
}

}  // namespace

std::string ScanEventLines::Detection(EventPrinter::Format format, const scan::Detection& detection,
                                      std::wstring_view quarantine) {
    const std::wstring name = qv::FromUtf8(detection.name);
    const std::wstring hash = qv::FromUtf8(detection.digest.Hex());
    if (format == EventPrinter::Format::kJson) {
        JsonLine json = JsonStart(L"detection", detection.path, detection.members);
        json.Add("name", name)
            .Add("hashType", qv::FromUtf8(detection.HashTypeName()))
            .Add("hash", hash)
            .Add("size", detection.size);
        if (!quarantine.empty()) {
            json.Add("quarantine", quarantine);
        }
        return json.Text();
    }
    // The built-in check reports the file's SHA-256, and says so.
    std::wstring line = L"threat " + detection.path + MemberText(detection.members) + L" " + name +
                        L" " + qv::FromUtf8(scan::HashTypeName(detection.digest.type)) + L"=" +
                        hash;
    if (!quarantine.empty()) {
        line += L" quarantine=" + std::wstring(quarantine);
    }
    return qv::ToUtf8(line);
}

std::string ScanEventLines::Quarantined(EventPrinter::Format format, std::wstring_view path,
                                        bool moved, std::wstring_view file, std::wstring_view id) {
    const wchar_t* action = moved ? L"moved" : L"copied";
    if (format == EventPrinter::Format::kJson) {
        return JsonLine()
            .Add("event", L"quarantine")
            .Add("path", path)
            .Add("action", action)
            .Add("file", file)
            .Add("id", id)
            .Text();
    }
    return qv::ToUtf8(L"quarantine " + std::wstring(path) + L" " + action + L" " +
                      std::wstring(file) + L" id=" + std::wstring(id));
}

std::string ScanEventLines::QuarantineFailed(EventPrinter::Format format, std::wstring_view path,
                                             std::wstring_view reason, std::uint32_t error) {
    if (format == EventPrinter::Format::kJson) {
        return JsonLine()
            .Add("event", L"quarantine-failed")
            .Add("path", path)
            .Add("reason", reason)
            .Add("error", error)
            .Text();
    }
    return qv::ToUtf8(L"quarantine-failed " + std::wstring(path) + L" " + std::wstring(reason) +
                      (error != 0 ? L" error=" + qv::DescribeError(error) : L"") +
                      L" (the original stays)");
}

std::string ScanEventLines::ReadOnlyVolume(EventPrinter::Format format, std::wstring_view path) {
    return WarningLine(format, path, L"read-only-volume",
                       L"copied into the quarantine; the original stays");
}

std::string ScanEventLines::Limit(EventPrinter::Format format, const scan::ScanLimit& limit) {
    const std::wstring name = qv::FromUtf8(limit.limit);
    if (format == EventPrinter::Format::kJson) {
        return JsonStart(L"limit", limit.path, limit.members).Add("limit", name).Text();
    }
    return qv::ToUtf8(L"limit " + limit.path + MemberText(limit.members) + L" " + name);
}

std::string ScanEventLines::Summary(EventPrinter::Format format, const SummaryReport& summary) {
    const scan::ScanCounts& counts = summary.counts;
    // The same figures, in this order, in either format.
    const std::pair<const char*, std::uint64_t> figures[] = {
        {"signatures", summary.signatures},
        {"databases", summary.databases},
        {"files", counts.files},
        {"directories", counts.directories},
        {"archives", counts.archives},
        {"members", counts.members},
        {"threats", counts.threats},
        {"errors", counts.errors},
        {"damaged", counts.damaged},
        {"limited", counts.limited},
        {"encrypted", counts.encrypted},
        {"excluded", counts.excluded},
        {"bytes", counts.bytes},
        {"bytesRead", counts.hashedBytes},
    };
    if (format == EventPrinter::Format::kJson) {
        JsonLine json;
        json.Add("event", L"summary");
        for (const auto& [name, value] : figures) {
            json.Add(name, value);
        }
        return json.Add("elapsedMs", summary.elapsedMs).Text();
    }
    std::string text = "summary";
    for (const auto& [name, value] : figures) {
        text += std::string(" ") + name + "=" + std::to_string(value);
    }
    const std::string millis = std::to_string(1000 + summary.elapsedMs % 1000).substr(1);
    return text + " elapsed=" + std::to_string(summary.elapsedMs / 1000) + "." + millis + "s";
}

std::string ScanEventLines::RemovalNotConfirmed(EventPrinter::Format format,
                                                std::wstring_view path) {
    return WarningLine(format, path, L"removal-not-confirmed",
                       L"the volume still answers; its scan goes on");
}

}  // namespace devicescan::host
