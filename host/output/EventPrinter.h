#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/output/DeviceRecord.h"
#include "host/output/OutputQueue.h"
#include "host/output/ScanReport.h"
#include "host/output/SummaryReport.h"
#include "host/scan/Detection.h"
#include "host/scan/ScanLimit.h"

namespace devicescan::host {

// Turns what the host sees into output lines: readable text or one JSON object per line on
// stdout, diagnostics on stderr. Formatting is all it does; the finished line goes to the
// OutputQueue, which the main thread writes, so a caller on the module's window thread never
// waits for a pipe.
//
// Threads: any. The printer is an immutable value; copies share the queue.
class EventPrinter {
  public:
    enum class Format { kText, kJson };
    enum class Source { kProducer, kListener };
    // What is printed. kAll: every event. kInfected: detections, warnings (stdout and stderr),
    // errors (an "error" notice, a scan that failed) and the summary. kQuiet: errors only.
    // Traces (--verbose) are printed whenever asked for.
    enum class Level { kAll, kInfected, kQuiet };
    // What an event is, for the level to decide on.
    enum class Importance { kInfo, kDetection, kWarning, kError };
    static bool Prints(Level level, Importance importance) noexcept;

    EventPrinter(std::shared_ptr<OutputQueue> queue, Format format, bool verbose,
                 Level level = Level::kAll);

    // What the scans look for: signatures loaded from how many database files.
    struct Signatures {
        std::uint64_t count = 0;
        std::uint64_t databases = 0;
        std::uint64_t allowlisted = 0;  // entries of .fp and .sfp files
        std::uint64_t ignored = 0;      // names of .ign2 files
        // Files of containers in a format the host does not read, by kind ("ndb", ...).
        std::vector<std::pair<std::string, std::uint64_t>> skipped;
    };

    // stdout: the service runs / the host has shut it down (reason: "quit", "timeout", ...).
    void Started(std::wstring_view objectName, std::wstring_view modulePath,
                 const Signatures& signatures) const;
    void Stopped(std::wstring_view reason) const;
    // stdout: a mount or removal, as the producer or a listener heard of it.
    void Device(bool mounted, Source source, const DeviceRecord& device) const;
    // stdout: a step of a volume scan.
    void Scan(const ScanReport& report) const;
    // stdout: a file, or a member of an archive in it, that matches a signature.
    // quarantine: where the file went, when it was taken into a quarantine.
    void Detection(const scan::Detection& detection, std::wstring_view quarantine = {}) const;
    // stdout: a file taken into the quarantine folder (moved, or copied with the original kept),
    // or left where it was because a step failed (reason, and the Win32 code when a call failed).
    void Quarantined(std::wstring_view path, bool moved, std::wstring_view file,
                     std::wstring_view id) const;
    void QuarantineFailed(std::wstring_view path, std::wstring_view reason,
                          std::uint32_t error) const;
    // stdout: a move asked on a volume that takes no writes; the file was copied.
    void ReadOnlyVolume(std::wstring_view path) const;
    // stdout: a file or member that a scan limit kept from being checked whole.
    void Limit(const scan::ScanLimit& limit) const;
    // stdout: what a --scan run did, at its end.
    void Summary(const SummaryReport& summary) const;
    // stdout: a removal of path was heard but the volume still answers, so its scan goes on.
    void RemovalNotConfirmed(std::wstring_view path) const;
    // stdout: something the host noticed and acted on, with a reason a script can match
    // ("warning" service-window-lost, "restarted", "error" restart-failed).
    void Notice(std::wstring_view event, std::wstring_view reason, std::wstring_view message) const;
    // stdout: a volume that was there before the service could announce it, queued for a scan.
    void Present(const std::wstring& path, std::int32_t type) const;
    // stderr: something the module did that it should not have; the run goes on.
    void Warning(std::wstring_view text) const;
    // stderr, only with --verbose: one call between host and module and its result.
    void Trace(std::wstring_view text) const;

    static std::string StartedLine(Format format, std::wstring_view objectName,
                                   std::wstring_view modulePath, const Signatures& signatures);
    static std::string StoppedLine(Format format, std::wstring_view reason);
    static std::string DeviceLine(Format format, bool mounted, Source source,
                                  const DeviceRecord& device);
    static std::string ScanLine(Format format, const ScanReport& report);
    static std::string NoticeLine(Format format, std::wstring_view event, std::wstring_view reason,
                                  std::wstring_view message);
    static std::string PresentLine(Format format, const std::wstring& path, std::int32_t type);
    // "local", "remote", "cdrom" or "unknown".
    static const wchar_t* TypeName(std::int32_t type);

  private:
    void Push(Importance importance, OutputQueue::Stream stream, std::string line) const;

    std::shared_ptr<OutputQueue> queue;
    Format format;
    bool verbose;
    Level level;
};

}  // namespace devicescan::host
