#include "host/output/ScanEventLines.h"

#include <utility>

#include "host/output/JsonLine.h"
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

}  // namespace

std::string ScanEventLines::Detection(EventPrinter::Format format,
                                      const scan::Detection& detection) {
    const std::wstring name = qv::FromUtf8(detection.name);
    const std::wstring hash = qv::FromUtf8(detection.digest.Hex());
    if (format == EventPrinter::Format::kJson) {
        return JsonStart(L"detection", detection.path, detection.members)
            .Add("name", name)
            .Add("hashType", qv::FromUtf8(detection.HashTypeName()))
            .Add("hash", hash)
            .Add("size", detection.size)
            .Text();
    }
    // The built-in check reports the file's SHA-256, and says so.
    return qv::ToUtf8(L"threat " + detection.path + MemberText(detection.members) + L" " + name +
                      L" " + qv::FromUtf8(scan::HashTypeName(detection.digest.type)) + L"=" + hash);
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
    if (format == EventPrinter::Format::kJson) {
        return JsonLine()
            .Add("event", L"warning")
            .Add("path", path)
            .Add("reason", L"removal-not-confirmed")
            .Text();
    }
    return qv::ToUtf8(L"warning " + std::wstring(path) +
                      L" removal-not-confirmed (the volume still answers; its scan goes on)");
}

}  // namespace devicescan::host
