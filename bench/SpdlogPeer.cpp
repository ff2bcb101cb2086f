// The only file that includes spdlog: its header-only build needs the same settings everywhere,
// and they are set here, before its headers.
#define SPDLOG_HEADER_ONLY
#define FMT_HEADER_ONLY
#define SPDLOG_WCHAR_FILENAMES
#define SPDLOG_WCHAR_TO_UTF8_SUPPORT
#define SPDLOG_LEVEL_NAMES \
    { "TRACE", "DEBUG", "INFO", "WARNING", "ERROR", "CRITICAL", "OFF" }

#include "bench/SpdlogPeer.h"

#include <spdlog/logger.h>
#include <spdlog/sinks/basic_file_sink.h>

namespace devicescan::bench {

struct SpdlogPeer::State {
    std::shared_ptr<spdlog::logger> logger;
};

SpdlogPeer::SpdlogPeer(const std::wstring& path, bool flushEachRecord)
    : state(std::make_unique<State>()) {
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(path, true);
    state->logger = std::make_shared<spdlog::logger>("devicescan-bench.exe", std::move(sink));
    state->logger->set_pattern("%Y-%m-%d %H:%M:%S.%e %5t %-7l %n %!: %v");
    state->logger->flush_on(flushEachRecord ? spdlog::level::trace : spdlog::level::warn);
}

SpdlogPeer::~SpdlogPeer() = default;

void SpdlogPeer::WriteRecord(std::size_t number) const {
    state->logger->log(spdlog::source_loc{__FILE__, __LINE__, "DeviceScanSP::OnDeviceArrival"},
                       spdlog::level::info,
                       L"Device Mounted [path = {}] [remote = {}] [type = {}] [fullSize = {} MB]",
                       L"E:\\", L"", 2, static_cast<unsigned long long>(number));
}

}  // namespace devicescan::bench
