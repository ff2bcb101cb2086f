// log.dll against the plainest way to put the same lines in a file: a buffered fwrite of
// ready-made lines. Our side also formats each record (time, thread, module, printf) and takes
// the library's lock; the ratio shows what that costs.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchRegistry.h"
#include "bench/ScratchFolder.h"
#include "logging/LogApi.h"
#include "sdk/ProcAddress.h"

namespace devicescan::bench {

namespace {

// A copy of the shipped log.dll in a scratch folder with its own settings.
class ScratchLogLibrary {
  public:
    ScratchLogLibrary() {
        scratch.CopyShipped(L"log.dll");
        scratch.Write(L"log.ini",
                      "path = bench.log\nmax_size = 16 MB\nbackups = 1\nflush = buffered\n");
        module = LoadLibraryW(scratch.Path(L"log.dll").c_str());
        if (module == nullptr) {
            return;
        }
        write = qv::GetProcAddressAs<LogWriteFunction>(module, "LogWrite");
        setMode = qv::GetProcAddressAs<LogSetModeFunction>(module, "LogSetMode");
        qv::GetProcAddressAs<LogInitFunction>(module, "LogInit")();
    }
    ~ScratchLogLibrary() {
        if (module != nullptr) {
            qv::GetProcAddressAs<LogDeinitFunction>(module, "LogDeinit")();
            FreeLibrary(module);
        }
    }
    ScratchLogLibrary(const ScratchLogLibrary&) = delete;
    ScratchLogLibrary& operator=(const ScratchLogLibrary&) = delete;

    bool Loaded() const { return write != nullptr && setMode != nullptr; }
    std::wstring PeerPath() const { return scratch.Path(L"peer.log"); }

    // One typical record of the module: a device mount.
    void WriteRecord(std::size_t number) const {
        Write(L"Device Mounted [path = %s] [remote = %s] [type = %d] [fullSize = %llu MB]", L"E:\\",
              L"", 2, static_cast<unsigned long long>(number));
    }

    LogSetModeFunction setMode = nullptr;

  private:
    void Write(const wchar_t* format, ...) const {
        const std::uint32_t severity = LOG_SEVERITY_INFO;
        va_list args;
        va_start(args, format);
        write(LOG_DEPTH_MESSAGE, &severity, GetModuleHandleW(nullptr),
              L"DeviceScanSP::OnDeviceArrival", format, args);
        va_end(args);
    }

    bench::ScratchFolder scratch{
        L"devicescan-bench-log",
        {L"log.dll", L"log.ini", L"bench.log", L"bench.log.1", L"peer.log"}};
    HMODULE module = nullptr;
    LogWriteFunction write = nullptr;
};

// The line log.dll writes for WriteRecord, ready-made.
const char kPeerLine[] =
    "2024-05-01 12:34:56.789  1234 INFO    devicescan-bench.exe DeviceScanSP::OnDeviceArrival: "
    "Device Mounted [path = E:\\] [remote = ] [type = 2] [fullSize = 123456 MB]\r\n";

// Records are timed in batches, so that starting the threads is a small part of each run.
constexpr std::size_t kBatch = 4096;

// Runs each of threads with its share of n batches of records and waits for all.
void OnThreads(int threads, std::size_t n, const std::function<void(std::size_t)>& body) {
    n *= kBatch;
    if (threads == 1) {
        body(n);
        return;
    }
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back(body, n / static_cast<std::size_t>(threads));
    }
    for (auto& worker : workers) {
        worker.join();
    }
}

void CompareRecords(bench::Context& context, const ScratchLogLibrary& log, int threads,
                    bool flushEachLine) {
    FILE* peer = _wfopen(log.PeerPath().c_str(), L"wb");
    if (peer == nullptr) {
        return;
    }
    log.setMode(flushEachLine ? LOG_MODE_FLUSH_EACH_LINE : LOG_MODE_BUFFERED);
    double ours = context.NsPerOp([&](std::size_t n) {
        OnThreads(threads, n, [&](std::size_t count) {
            for (std::size_t i = 0; i < count; ++i) {
                log.WriteRecord(i);
            }
        });
    });
    double plain = context.NsPerOp([&](std::size_t n) {
        std::fseek(peer, 0, SEEK_SET);
        OnThreads(threads, n, [&](std::size_t count) {
            for (std::size_t i = 0; i < count; ++i) {
                std::fwrite(kPeerLine, 1, sizeof(kPeerLine) - 1, peer);
                if (flushEachLine) {
                    std::fflush(peer);
                }
            }
        });
    });
    std::fclose(peer);
    ours /= kBatch;
    plain /= kBatch;
    const std::string what = std::string("records, ") + (threads == 1 ? "1 thread" : "2 threads") +
                             (flushEachLine ? ", flush each line" : ", buffered");
    context.Compare(what, "LogWrite", ours, flushEachLine ? "fwrite+fflush" : "fwrite", plain);
    std::printf("  %-44s %10.0f records/s vs %10.0f records/s\n", "", 1e9 / ours, 1e9 / plain);
}

}  // namespace

BENCHMARK_GROUP(LogWriteThroughput) {
    const ScratchLogLibrary log;
    if (!log.Loaded()) {
        std::printf("  log.dll not found beside the benchmark program\n");
        return;
    }
    for (const bool flushEachLine : {false, true}) {
        for (const int threads : {1, 2}) {
            CompareRecords(context, log, threads, flushEachLine);
        }
    }
}

}  // namespace devicescan::bench
