#include "host/output/ScanEventLines.h"

#include "host/output/JsonLine.h"
#include "sdk/Utf8.h"

namespace devicescan::host {

std::string ScanEventLines::Detection(EventPrinter::Format format,
                                      const scan::Detection& detection) {
    const std::wstring name = qv::FromUtf8(detection.name);
    const std::wstring hash = qv::FromUtf8(detection.digest.Hex());
    if (format == EventPrinter::Format::kJson) {
        return JsonLine()
            .Add("event", L"detection")
            .Add("path", detection.path)
            .Add("name", name)
            .Add("hashType", qv::FromUtf8(detection.HashTypeName()))
            .Add("hash", hash)
            .Add("size", detection.size)
            .Text();
    }
    // The built-in check reports the file's SHA-256, and says so.
    return qv::ToUtf8(L"threat " + detection.path + L" " + name + L" " +
                      qv::FromUtf8(scan::HashTypeName(detection.digest.type)) + L"=" + hash);
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
