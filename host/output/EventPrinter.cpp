#include "host/output/EventPrinter.h"

#include <utility>

#include "host/output/JsonLine.h"
#include "host/output/ScanEventLines.h"
#include "sdk/SystemMessage.h"
#include "sdk/Utf8.h"

namespace devicescan::host {

using qv::DescribeError;

namespace {

using Stream = OutputQueue::Stream;

const wchar_t* SourceName(EventPrinter::Source source) {
    return source == EventPrinter::Source::kProducer ? L"producer" : L"listener";
}

const wchar_t* StateName(ScanReport::State state) {
    switch (state) {
        case ScanReport::State::kStarted:
            return L"started";
        case ScanReport::State::kProgress:
            return L"progress";
        case ScanReport::State::kFinished:
            return L"finished";
        case ScanReport::State::kCancelled:
            return L"cancelled";
        case ScanReport::State::kFailed:
            return L"failed";
    }
    return L"unknown";
}

const wchar_t* ReasonName(ScanReport::CancelReason reason) {
    return reason == ScanReport::CancelReason::kUnmounted ? L"unmounted" : L"shutdown";
}

std::wstring Counts(const ScanReport& report) {
    return L" files=" + std::to_wstring(report.counts.files) + L" directories=" +
           std::to_wstring(report.counts.directories) + L" bytes=" +
           std::to_wstring(report.counts.bytes) + L" errors=" +
           std::to_wstring(report.counts.errors) + L" threats=" +
           std::to_wstring(report.counts.threats) + L" hashed=" +
           std::to_wstring(report.counts.hashedBytes) + L" archives=" +
           std::to_wstring(report.counts.archives) + L" members=" +
           std::to_wstring(report.counts.members) + L" damaged=" +
           std::to_wstring(report.counts.damaged) + L" limited=" +
           std::to_wstring(report.counts.limited) + L" encrypted=" +
           std::to_wstring(report.counts.encrypted) + L" excluded=" +
           std::to_wstring(report.counts.excluded);
}

std::wstring ScanText(const ScanReport& report) {
    std::wstring text = L"scan " + std::wstring(StateName(report.state)) + L" " + report.path;
    switch (report.state) {
        case ScanReport::State::kStarted:
            return text;
        case ScanReport::State::kCancelled:
            return text + Counts(report) +
                   (report.reason == ScanReport::CancelReason::kUnmounted ? L" (volume removed)"
                                                                          : L" (host stopping)");
        case ScanReport::State::kFailed:
            return text + L" error=" + DescribeError(report.error);
        default:
            return text + Counts(report);
    }
}

std::string ScanJson(const ScanReport& report) {
    JsonLine json;
    json.Add("event", L"scan").Add("state", StateName(report.state)).Add("path", report.path);
    json.Add("files", report.counts.files)
        .Add("directories", report.counts.directories)
        .Add("bytes", report.counts.bytes)
        .Add("errors", report.counts.errors)
        .Add("threats", report.counts.threats)
        .Add("hashedBytes", report.counts.hashedBytes)
        .Add("archives", report.counts.archives)
        .Add("members", report.counts.members)
        .Add("damaged", report.counts.damaged)
        .Add("limited", report.counts.limited)
        .Add("encrypted", report.counts.encrypted)
        .Add("excluded", report.counts.excluded);
    if (report.state == ScanReport::State::kCancelled) {
        json.Add("reason", ReasonName(report.reason));
    }
    if (report.state == ScanReport::State::kFailed) {
        json.Add("error", report.error);
    }
    return json.Text();
}

}  // namespace

EventPrinter::EventPrinter(std::shared_ptr<OutputQueue> queue, Format format, bool verbose,
                           Level level)
    : queue(std::move(queue)), format(format), verbose(verbose), level(level) {}

bool EventPrinter::Prints(Level level, Importance importance) noexcept {
    switch (level) {
        case Level::kAll:
            return true;
        case Level::kInfected:
            return importance != Importance::kInfo;
        case Level::kQuiet:
            return importance == Importance::kError;
    }
    return true;
}

void EventPrinter::Push(Importance importance, Stream stream, std::string line) const {
    if (Prints(level, importance)) {
        queue->Push(stream, std::move(line));
    }
}

const wchar_t* EventPrinter::TypeName(std::int32_t type) {
    switch (type) {
        case qv::rnsdk::FileScan::IDeviceScanSP::kDeviceTypeLocal:
            return L"local";
        case qv::rnsdk::FileScan::IDeviceScanSP::kDeviceTypeRemote:
            return L"remote";
        case qv::rnsdk::FileScan::IDeviceScanSP::kDeviceTypeCdRom:
            return L"cdrom";
        default:
            return L"unknown";
    }
}

std::string EventPrinter::StartedLine(Format format, std::wstring_view objectName,
                                      std::wstring_view modulePath, const Signatures& signatures) {
    if (format == Format::kJson) {
        return JsonLine()
            .Add("event", L"started")
            .Add("object", objectName)
            .Add("module", modulePath)
            .Add("signatures", signatures.count)
            .Add("databases", signatures.databases)
            .Add("allowlisted", signatures.allowlisted)
            .Add("ignored", signatures.ignored)
            .Add("skipped", signatures.skipped)
            .Text();
    }
    std::wstring skipped;
    for (const auto& [kind, count] : signatures.skipped) {
        skipped += (skipped.empty() ? L" skipped=" : L",") + qv::FromUtf8(kind) + L":" +
                   std::to_wstring(count);
    }
    return qv::ToUtf8(L"started " + std::wstring(objectName) + L" (" + std::wstring(modulePath) +
                      L") signatures=" + std::to_wstring(signatures.count) + L" databases=" +
                      std::to_wstring(signatures.databases) + L" allowlisted=" +
                      std::to_wstring(signatures.allowlisted) + L" ignored=" +
                      std::to_wstring(signatures.ignored) + skipped);
}

std::string EventPrinter::StoppedLine(Format format, std::wstring_view reason) {
    if (format == Format::kJson) {
        return JsonLine().Add("event", L"stopped").Add("reason", reason).Text();
    }
    return qv::ToUtf8(L"stopped (" + std::wstring(reason) + L")");
}

std::string EventPrinter::DeviceLine(Format format, bool mounted, Source source,
                                     const DeviceRecord& device) {
    const wchar_t* event = mounted ? L"mounted" : L"unmounted";
    if (format == Format::kJson) {
        return JsonLine()
            .Add("event", event)
            .Add("source", SourceName(source))
            .Add("path", device.path)
            .Add("type", TypeName(device.type))
            .Add("remote", device.remote)
            .Add("fullSize", device.fullSize)
            .Add("storedSize", device.storedSize)
            .Add("sessionId", device.sessionId)
            .Text();
    }
    std::wstring text =
        std::wstring(event) + L" " + device.path + L" type=" + TypeName(device.type);
    if (!device.remote.empty()) {
        text += L" remote=" + device.remote;
    }
    text += L" fullSize=" + std::to_wstring(device.fullSize) + L" storedSize=" +
            std::to_wstring(device.storedSize) + L" sessionId=" +
            std::to_wstring(device.sessionId) + L" [" + SourceName(source) + L"]";
    return qv::ToUtf8(text);
}

std::string EventPrinter::ScanLine(Format format, const ScanReport& report) {
    if (format == Format::kJson) {
        return ScanJson(report);
    }
    return qv::ToUtf8(ScanText(report));
}

std::string EventPrinter::NoticeLine(Format format, std::wstring_view event,
                                     std::wstring_view reason, std::wstring_view message) {
    if (format == Format::kJson) {
        JsonLine json;
        json.Add("event", event).Add("reason", reason);
        if (!message.empty()) {
            json.Add("message", message);
        }
        return json.Text();
    }
    std::wstring text = std::wstring(event) + L" (" + std::wstring(reason) + L")";
    if (!message.empty()) {
        text += L": " + std::wstring(message);
    }
    return qv::ToUtf8(text);
}

std::string EventPrinter::PresentLine(Format format, const std::wstring& path, std::int32_t type) {
    if (format == Format::kJson) {
        return JsonLine()
            .Add("event", L"present")
            .Add("path", path)
            .Add("type", TypeName(type))
            .Text();
    }
    return qv::ToUtf8(L"present " + path + L" type=" + TypeName(type));
}

void EventPrinter::Notice(std::wstring_view event, std::wstring_view reason,
                          std::wstring_view message) const {
    const Importance importance = event == L"error"     ? Importance::kError
                                  : event == L"warning" ? Importance::kWarning
                                                        : Importance::kInfo;
    Push(importance, Stream::kOut, NoticeLine(format, event, reason, message));
}

void EventPrinter::Present(const std::wstring& path, std::int32_t type) const {
    Push(Importance::kInfo, Stream::kOut, PresentLine(format, path, type));
}

void EventPrinter::Started(std::wstring_view objectName, std::wstring_view modulePath,
                           const Signatures& signatures) const {
    Push(Importance::kInfo, Stream::kOut, StartedLine(format, objectName, modulePath, signatures));
}

void EventPrinter::Stopped(std::wstring_view reason) const {
    Push(Importance::kInfo, Stream::kOut, StoppedLine(format, reason));
}

void EventPrinter::Device(bool mounted, Source source, const DeviceRecord& device) const {
    Push(Importance::kInfo, Stream::kOut, DeviceLine(format, mounted, source, device));
}

void EventPrinter::Scan(const ScanReport& report) const {
    const Importance importance =
        report.state == ScanReport::State::kFailed ? Importance::kError : Importance::kInfo;
    Push(importance, Stream::kOut, ScanLine(format, report));
}

void EventPrinter::Detection(const scan::Detection& detection, std::wstring_view quarantine) const {
    Push(Importance::kDetection, Stream::kOut,
         ScanEventLines::Detection(format, detection, quarantine));
}

void EventPrinter::Quarantined(std::wstring_view path, bool moved, std::wstring_view file,
                               std::wstring_view id) const {
    Push(Importance::kDetection, Stream::kOut,
         ScanEventLines::Quarantined(format, path, moved, file, id));
}

void EventPrinter::QuarantineFailed(std::wstring_view path, std::wstring_view reason,
                                    std::uint32_t error) const {
    Push(Importance::kError, Stream::kOut,
         ScanEventLines::QuarantineFailed(format, path, reason, error));
}

void EventPrinter::ReadOnlyVolume(std::wstring_view path) const {
    Push(Importance::kWarning, Stream::kOut, ScanEventLines::ReadOnlyVolume(format, path));
}

void EventPrinter::Limit(const scan::ScanLimit& limit) const {
    Push(Importance::kInfo, Stream::kOut, ScanEventLines::Limit(format, limit));
}

void EventPrinter::Summary(const SummaryReport& summary) const {
    Push(Importance::kInfo, Stream::kOut, ScanEventLines::Summary(format, summary));
}

void EventPrinter::RemovalNotConfirmed(std::wstring_view path) const {
    Push(Importance::kWarning, Stream::kOut, ScanEventLines::RemovalNotConfirmed(format, path));
}

void EventPrinter::Warning(std::wstring_view text) const {
    Push(Importance::kWarning, Stream::kError,
         qv::ToUtf8(L"devicescan-host: warning: " + std::wstring(text)));
}

void EventPrinter::Trace(std::wstring_view text) const {
    if (verbose) {
        queue->Push(Stream::kError, qv::ToUtf8(L"devicescan-host: " + std::wstring(text)));
    }
}

}  // namespace devicescan::host
