// The scanning engine against what bounds it on this machine: hashing the same bytes already in
// memory with the same system hash (large files), listing the same tree with nothing else done
// (small files whose sizes no signature has), and the load of a million signatures. Each goal
// row says whether its goal is met. The trees and databases are written to temporary folders
// first (from fixed seeds) and removed at the end; they are read from the file cache, as a scan
// of a recently written stick would be.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bench/Alternate.h"
#include "bench/BenchRegistry.h"
#include "bench/CommittedMemory.h"
#include "bench/ScanBenchSupport.h"
#include "bench/ScratchTree.h"
#include "host/scan/CancelFlag.h"
#include "host/scan/DatabaseLoader.h"
#include "host/scan/FolderScanner.h"
#include "host/scan/PathFilter.h"
#include "host/scan/SignatureDatabase.h"

namespace devicescan::bench {

namespace {

// How much each measurement handles; the quick run only checks that everything works.
struct Workload {
    int largeFiles;             // per volume
    std::size_t largeFileSize;  // bytes
    int smallFiles;
    int signatures;
};

Workload WorkloadFor(Mode mode) {
    if (mode == Mode::kQuick) {
        return {2, 4u << 20, 400, 20000};
    }
    return {8, 64u << 20, 20000, 1000000};
}

// A goal row through the harness for a value with a fixed upper bound.
void LimitGoal(const Context& context, const std::string& what, double value, const char* unit,
               double limit) {
    context.Goal(what, Printed("%.3f %s", value, unit), Printed("<= %g %s", limit, unit),
                 value <= limit);
}

// size bytes from a fixed seed.
std::string RandomBytes(std::size_t size, std::uint64_t seed) {
    std::string bytes(size, '\0');
    std::independent_bits_engine<std::mt19937, 8, unsigned> random(static_cast<unsigned>(seed));
    for (char& byte : bytes) {
        byte = static_cast<char>(random());
    }
    return bytes;
}

// The two forms a million signatures come in: hash signatures, each with a size (16 MiB and
// up, which no file here has) and a name of its own, as a scanner's database lists them; and a
// plain list of SHA-256 values without names, as public hash feeds publish them. Beside the
// named ones, one signature for the large files' size, so that those files are all hashed.
void WriteDatabases(const ScratchTree& folder, const Workload& load) {
    std::mt19937_64 random(42);
    std::string named;
    std::string plain;
    for (int i = 0; i < load.signatures; ++i) {
        named += RandomSha256Hex(random) + ":" + std::to_string((16u << 20) + i) +
                 ":Win.Trojan.Bench-" + std::to_string(i) + "-0\n";
        plain += RandomSha256Hex(random) + "\n";
    }
    folder.Write(L"named\\million.hsb", named);
    folder.Write(L"plain\\million.sha256", plain);
    folder.Write(L"large\\large.hsb", RandomSha256Hex(random) + ":" +
                                          std::to_string(load.largeFileSize) + ":Bench.Large\n");
}

// Loads the database folder into database, sealed, and prints its load time and its memory per
// signature (a goal row when boundedBytes); false (with the message printed) when it does not
// load.
bool MeasureLoad(const Context& context, const std::wstring& folder, const char* form,
                 bool boundedBytes, scan::SignatureDatabase& database) {
    const std::int64_t before = CommittedPrivateBytes();
    scan::DatabaseLoader loader(database);
    std::optional<scan::DatabaseError> error;
    const double cpuBefore = ThreadCpuSeconds();
    const double seconds = SecondsOf([&] {
        error = loader.Load(folder);
        database.Seal();
    });
    const double cpuSeconds = ThreadCpuSeconds() - cpuBefore;
    if (error) {
        context.Note("database", Printed("%ls", error->Message().c_str()));
        return false;
    }
    const double count = static_cast<double>(database.Count());
    const std::string what = "database: " + std::to_string(database.Count()) + " " + form;
    LimitGoal(context, what + ", load", seconds, "s", 2);
    context.Note(what + ", processor time of the load", Printed("%.3f s", cpuSeconds));
    const double bytesEach = static_cast<double>(CommittedPrivateBytes() - before) / count;
    if (boundedBytes) {
        LimitGoal(context, what + ", bytes each", bytesEach, "B", 64);
    } else {
        context.Note(what + ", bytes each", Printed("%.3f B (each name is stored too)", bytesEach));
    }
    return true;
}

// Scans root once; the bytes it hashed.
std::uint64_t ScanOnce(const scan::SignatureDatabase& database, const std::wstring& root,
                       std::shared_ptr<const scan::PathFilter> filter = nullptr) {
    scan::CancelFlag cancel;
    IgnoringObserver observer;
    scan::FolderScanner::Options options;
    options.filter = std::move(filter);
    scan::FolderScanner scanner(database, options);
    return scanner.Scan(root, cancel, observer).counts.hashedBytes;
}

// What a user leaves out of a stick's scan, none of which matches the tree: every entry's path
// is searched by every pattern of its kind.
std::shared_ptr<const scan::PathFilter> TypicalExclusions() {
    auto filter = std::make_shared<scan::PathFilter>();
    filter->Add(scan::PathFilter::Rule::kExcludeFile, L"\\.iso$");
    filter->Add(scan::PathFilter::Rule::kExcludeFile, L"\\(pagefile|hiberfil)\\.sys$");
    filter->Add(scan::PathFilter::Rule::kExcludeFile, L"^[a-z]:\\\\tools\\\\");
    filter->Add(scan::PathFilter::Rule::kExcludeFolder,
                L"\\\\(\\$recycle\\.bin|system volume information)$");
    return filter;
}

// One volume's scan on a native thread of its own.
struct VolumeScan {
    const scan::SignatureDatabase* database;
    std::wstring root;
    std::uint64_t hashedBytes = 0;
    double cpuSeconds = 0;

    static DWORD WINAPI Run(void* parameter) {
        auto* self = static_cast<VolumeScan*>(parameter);
        self->hashedBytes = ScanOnce(*self->database, self->root);
        self->cpuSeconds = ThreadCpuSeconds();
        return 0;
    }
};

// What scans at once on threads of their own did: the bytes hashed in all, and the most
// processor time one of them took (the same as one scan alone takes, when nothing in the
// process holds them up, so that they scale with the free cores).
struct ParallelScans {
    std::uint64_t hashedBytes = 0;
    double busiestCpuSeconds = 0;
};

ParallelScans ScanAtOnce(const scan::SignatureDatabase& database,
                         const std::vector<std::wstring>& roots) {
    std::vector<VolumeScan> scans;
    for (const std::wstring& root : roots) {
        scans.push_back({&database, root});
    }
    std::vector<HANDLE> threads;
    for (VolumeScan& volume : scans) {
        if (HANDLE thread = CreateThread(nullptr, 0, &VolumeScan::Run, &volume, 0, nullptr)) {
            threads.push_back(thread);
        }
    }
    WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE);
    ParallelScans done;
    for (std::size_t i = 0; i < threads.size(); ++i) {
        CloseHandle(threads[i]);
        done.hashedBytes += scans[i].hashedBytes;
        done.busiestCpuSeconds = std::max(done.busiestCpuSeconds, scans[i].cpuSeconds);
    }
    return done;
}

// Every entry of the tree listed the way a scan lists it, and nothing else done; the files.
std::uint64_t WalkTree(const std::wstring& root) {
    std::uint64_t files = 0;
    std::vector<std::wstring> pending{root + L"\\"};
    while (!pending.empty()) {
        const std::wstring folder = std::move(pending.back());
        pending.pop_back();
        WIN32_FIND_DATAW entry;
        HANDLE find = FindFirstFileExW((folder + L"*").c_str(), FindExInfoBasic, &entry,
                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
        for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &entry)) {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                pending.push_back(folder + name + L"\\");
            } else {
                ++files;
            }
        }
        FindClose(find);
    }
    return files;
}

// Two volumes of the same large files, which all need hashing (their size is listed): one
// volume against hashing the same bytes in memory, and both at once against one.
void MeasureLargeFiles(const Context& context, const Workload& load,
                       const scan::SignatureDatabase& database) {
    const std::string content = RandomBytes(load.largeFileSize, 7);
    ScratchTree volumes;
    for (const wchar_t* volume : {L"one", L"two"}) {
        for (int i = 0; i < load.largeFiles; ++i) {
            volumes.Write(std::wstring(volume) + L"\\dir" + std::to_wstring(i % 2) + L"\\file" +
                              std::to_wstring(i) + L".bin",
                          content);
        }
    }
    const std::vector<std::wstring> roots = {volumes.Path(L"one"), volumes.Path(L"two")};
    const double bytes = static_cast<double>(content.size()) * load.largeFiles;
    MemorySha256 peer;
    std::uint8_t sink = 0;
    ParallelScans one;
    ParallelScans two;
    double memoryCpu = 1e30;
    double oneCpu = 1e30;
    double twoCpu = 1e30;
    const std::vector<double> seconds = Alternate(
        context, {[&] {
                      const double cpuBefore = ThreadCpuSeconds();
                      const double wall = SecondsOf([&] {
                          for (int i = 0; i < load.largeFiles; ++i) {
                              sink ^= peer.Hash(content);
                          }
                      });
                      memoryCpu = std::min(memoryCpu, ThreadCpuSeconds() - cpuBefore);
                      return wall;
                  },
                  [&] {
                      const double wall =
                          SecondsOf([&] { one = ScanAtOnce(database, {roots[0]}); });
                      oneCpu = std::min(oneCpu, one.busiestCpuSeconds);
                      return wall;
                  },
                  [&] {
                      const double wall = SecondsOf([&] { two = ScanAtOnce(database, roots); });
                      twoCpu = std::min(twoCpu, two.busiestCpuSeconds);
                      return wall;
                  }});
    if (!peer.IsValid() || one.hashedBytes != bytes || two.hashedBytes != 2 * bytes) {
        context.Note("large files",
                     Printed("%llu and %llu bytes hashed of %.0f (in-memory peer %s)",
                             static_cast<unsigned long long>(one.hashedBytes),
                             static_cast<unsigned long long>(two.hashedBytes), bytes,
                             peer.IsValid() ? "ok" : "failed"));
        return;
    }
    const std::string files =
        std::to_string(load.largeFiles) + " x " + std::to_string(content.size() >> 20) + " MiB";
    RatioGoal(context, "large files (" + files + "), one volume: scan vs BCrypt SHA-256 in memory",
              seconds[1], seconds[0], "s", true, 1.15);
    RatioGoal(context, "large files, two volumes on two threads: MB/s vs one volume",
              2 * bytes / seconds[2] / 1e6, bytes / seconds[1] / 1e6, "MB/s", false, 1.7);
    // Processor times tell the same on a machine busy with other work, where the wall times
    // also count the waits for a core.
    RatioGoal(context, "large files, one volume: processor time, scan vs in memory", oneCpu,
              memoryCpu, "s", true, 1.15);
    context.Note("large files, two volumes at once: processor time of each scan",
                 Printed("%.3f s at most", twoCpu));
    context.Note("large files: SHA-256 in memory",
                 Printed("%.0f MB/s (digest byte %u)", bytes / seconds[0] / 1e6, sink));
}

// Small files, none of a listed size: the scan against the bare listing of the same tree.
// Their sizes also stay clear of the built-in check's (68 to 128 bytes), which reads such files.
void MeasureSmallFiles(const Context& context, const Workload& load,
                       const scan::SignatureDatabase& database) {
    const std::string content = RandomBytes(8200, 11);
    std::mt19937 random(11);
    ScratchTree tree;
    for (int i = 0; i < load.smallFiles; ++i) {
        tree.Write(L"d" + std::to_wstring(i % 50) + L"\\e" + std::to_wstring(i / 50 % 20) + L"\\f" +
                       std::to_wstring(i),
                   content.substr(0, 200 + random() % 8000));
    }
    std::uint64_t hashed = 1;
    std::uint64_t filtered = 1;
    std::uint64_t listed = 0;
    const auto exclusions = TypicalExclusions();
    const std::vector<double> seconds = Alternate(
        context,
        {[&] { return SecondsOf([&] { hashed = ScanOnce(database, tree.Root()); }); },
         [&] { return SecondsOf([&] { listed = WalkTree(tree.Root()); }); },
         [&] {
             return SecondsOf([&] { filtered = ScanOnce(database, tree.Root(), exclusions); });
         }});
    if (hashed != 0 || filtered != 0 || listed != static_cast<std::uint64_t>(load.smallFiles)) {
        context.Note("small files", Printed("%llu bytes hashed, %llu files listed",
                                            static_cast<unsigned long long>(hashed),
                                            static_cast<unsigned long long>(listed)));
        return;
    }
    RatioGoal(context,
              std::to_string(load.smallFiles) + " small files, no size listed: scan vs " +
                  "FindFirstFileExW",
              seconds[0], seconds[1], "s", true, 1.2);
    RatioGoal(context, "small files: scan with four exclusion patterns vs without", seconds[2],
              seconds[0], "s", true, 1.25);
}

}  // namespace

BENCHMARK_GROUP(ScanEngine) {
    const Workload load = WorkloadFor(context.GetMode());
    ScratchTree databases;
    WriteDatabases(databases, load);
    {
        scan::SignatureDatabase plain;
        MeasureLoad(context, databases.Path(L"plain"), "SHA-256 in a plain list", true, plain);
    }
    scan::SignatureDatabase named;
    if (!MeasureLoad(context, databases.Path(L"named"), "SHA-256 with a name each", false, named)) {
        return;
    }
    scan::SignatureDatabase large;
    scan::DatabaseLoader(large).Load(databases.Path(L"large"));
    large.Seal();
    MeasureLargeFiles(context, load, large);
    MeasureSmallFiles(context, load, named);
}

}  // namespace devicescan::bench
