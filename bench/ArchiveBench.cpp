// The scanning engine's archives and signature containers against what bounds them: members
// that all need hashing against zlib inflating and BCrypt hashing the same members in memory;
// small zips whose member sizes no signature lists against the same tree scanned with archives
// left closed; a million signatures in a .cvd against the same signatures loose. The zips and
// databases are made with zlib (ArchiveBytes) into temporary folders first, from fixed seeds,
// and removed at the end; they are read from the file cache.
#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "bench/ArchiveBytes.h"
#include "bench/BenchRegistry.h"
#include "bench/ScanBenchSupport.h"
#include "bench/ScratchTree.h"
#include "host/scan/CancelFlag.h"
#include "host/scan/DatabaseLoader.h"
#include "host/scan/FolderScanner.h"
#include "host/scan/SignatureDatabase.h"

namespace devicescan::bench {

namespace {

// How much each measurement handles; the quick run only checks that everything works.
struct Workload {
    int members;             // in the zip of large members
    std::size_t memberSize;  // bytes, inflated
    int smallZips;
    int signatures;
};

Workload WorkloadFor(Mode mode) {
    if (mode == Mode::kQuick) {
        return {2, 4u << 20, 200, 20000};
    }
    return {8, 64u << 20, 2000, 1000000};
}

// Single runs of two sides in turn, rounds times (at least five in a full run), in
// nanoseconds: for operations of a second or more, too long to repeat in slices.
SideBySide AlternateRuns(const Context& context, int rounds, const std::function<double()>& ours,
                         const std::function<double()>& peer) {
    if (context.GetMode() == Mode::kQuick) {
        rounds = 1;
    }
    std::vector<double> oursNs;
    std::vector<double> peerNs;
    for (int round = 0; round < rounds; ++round) {
        oursNs.push_back(ours() * 1e9);
        peerNs.push_back(peer() * 1e9);
    }
    const auto spread = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return Spread{values.front(), values[values.size() / 2]};
    };
    return {spread(oursNs), spread(peerNs)};
}

double ProcessCpuSeconds() {
    FILETIME created;
    FILETIME exited;
    FILETIME kernel;
    FILETIME user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto seconds = [](const FILETIME& time) {
        return static_cast<double>(std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime) /
               1e7;
    };
    return seconds(kernel) + seconds(user);
}

// The signatures as a scanner's database lists them: SHA-256, a size of 16 MiB and up (which no
// member or file here has) and a name each.
std::string NamedSignatures(int count) {
    std::mt19937_64 random(42);
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += RandomSha256Hex(random) + ":" + std::to_string((16u << 20) + i) +
                ":Win.Trojan.Bench-" + std::to_string(i) + "-0\n";
    }
    return text;
}

struct Loaded {
    double seconds = 0;
    std::size_t signatures = 0;  // 0 when the load failed
};

// Loads and seals the database at path, as the host does at start; the time of that alone.
Loaded LoadDatabase(const std::wstring& path, std::unique_ptr<scan::SignatureDatabase>* keep) {
    auto database = std::make_unique<scan::SignatureDatabase>();
    std::optional<scan::DatabaseError> error;
    Loaded loaded;
    loaded.seconds = SecondsOf([&] { error = scan::DatabaseLoader(*database).LoadAll({path}); });
    loaded.signatures = error ? 0 : database->Count();
    if (keep != nullptr) {
        *keep = std::move(database);
    }
    return loaded;
}

// A million signatures in a .cvd (gzip'd at the highest level, as published) against the same
// .hsb loose. Leaves the loose database loaded in loose, for the scans after it.
void MeasureContainerLoad(const Context& context, const Workload& load, const ScratchTree& folder,
                          std::unique_ptr<scan::SignatureDatabase>& loose) {
    const std::string signatures = NamedSignatures(load.signatures);
    folder.Write(L"loose\\daily.hsb", signatures);
    folder.Write(L"packed\\daily.cvd",
                 SignatureContainer("daily", {{"daily.hsb", signatures}}, load.signatures));
    Loaded packed;
    Loaded plain;
    // Processor times, the least of the rounds: the whole process's, and the loading thread's.
    struct Cpu {
        double process = 1e30;
        double thread = 1e30;
    };
    Cpu packedCpu;
    Cpu plainCpu;
    const auto timed = [](Loaded& loaded, Cpu& cpu, const std::wstring& path) {
        const double processBefore = ProcessCpuSeconds();
        const double threadBefore = ThreadCpuSeconds();
        loaded = LoadDatabase(path, nullptr);
        cpu.process = std::min(cpu.process, ProcessCpuSeconds() - processBefore);
        cpu.thread = std::min(cpu.thread, ThreadCpuSeconds() - threadBefore);
        return loaded.seconds;
    };
    const SideBySide times = AlternateRuns(
        context, 5, [&] { return timed(packed, packedCpu, folder.Path(L"packed")); },
        [&] { return timed(plain, plainCpu, folder.Path(L"loose")); });
    const auto expected = static_cast<std::size_t>(load.signatures);
    if (packed.signatures != expected || plain.signatures != expected) {
        context.Note("container", Printed("%llu and %llu signatures loaded of %llu",
                                          static_cast<unsigned long long>(packed.signatures),
                                          static_cast<unsigned long long>(plain.signatures),
                                          static_cast<unsigned long long>(expected)));
        return;
    }
    context.Goal(std::to_string(load.signatures) + " SHA-256 signatures: .cvd vs .hsb, load",
                 "daily.cvd", "daily.hsb", times, 1.3);
    context.Note(".cvd vs .hsb: processor time of the process",
                 Printed("%.3f s vs %.3f s, ratio %.2f", packedCpu.process, plainCpu.process,
                         packedCpu.process / plainCpu.process));
    context.Note(".cvd vs .hsb: processor time of the loading thread",
                 Printed("%.3f s vs %.3f s, ratio %.2f (inflating and hashing run on two others)",
                         packedCpu.thread, plainCpu.thread, packedCpu.thread / plainCpu.thread));
    LoadDatabase(folder.Path(L"loose"), &loose);
}

// Scans root once with options.
scan::ScanCounts ScanOnce(const scan::SignatureDatabase& database, const std::wstring& root,
                          const scan::FolderScanner::Options& options) {
    scan::CancelFlag cancel;
    IgnoringObserver observer;
    scan::FolderScanner scanner(database, options);
    return scanner.Scan(root, cancel, observer).counts;
}

// The least a scan that opens every file of a tree can cost: the tree listed, and each file
// opened, read to its end and closed, with nothing else done. The bytes read.
std::uint64_t ReadEachFile(const std::wstring& folder, std::vector<std::uint8_t>& block) {
    std::uint64_t bytes = 0;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &entry,
                                   FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &entry)) {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        const std::wstring path = folder + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            bytes += ReadEachFile(path, block);
            continue;
        }
        const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        DWORD got = 0;
        while (file != INVALID_HANDLE_VALUE &&
               ReadFile(file, block.data(), static_cast<DWORD>(block.size()), &got, nullptr) &&
               got != 0) {
            bytes += got;
        }
        CloseHandle(file);
    }
    FindClose(find);
    return bytes;
}

// Small zips of three members each, none of a listed size (nor of the built-in check's 68 to
// 128 bytes): the scan with archives opened against the same scan with archives left closed.
void MeasureSmallZips(const Context& context, const Workload& load,
                      const scan::SignatureDatabase& database) {
    const std::string text = PseudoText(1 << 20, 5);
    std::mt19937 random(5);
    ScratchTree tree;
    for (int i = 0; i < load.smallZips; ++i) {
        std::vector<DeflatedContent> contents;
        for (int member = 0; member < 3; ++member) {
            const std::size_t size = 200 + random() % 4000;
            contents.push_back(Deflated(text.substr(random() % (text.size() - size), size)));
        }
        tree.Write(L"d" + std::to_wstring(i % 20) + L"\\z" + std::to_wstring(i) + L".zip",
                   ZipOf({{"readme.txt", &contents[0]},
                          {"data/list.csv", &contents[1]},
                          {"data/notes.txt", &contents[2]}}));
    }
    scan::FolderScanner::Options closed;
    closed.openArchives = false;
    scan::ScanCounts opened;
    scan::ScanCounts listed;
    const SideBySide times = context.Repeat(
        [&](std::size_t n) {
            for (std::size_t i = 0; i < n; ++i) {
                opened = ScanOnce(database, tree.Root(), {});
            }
        },
        [&](std::size_t n) {
            for (std::size_t i = 0; i < n; ++i) {
                listed = ScanOnce(database, tree.Root(), closed);
            }
        });
    const auto zips = static_cast<std::uint64_t>(load.smallZips);
    if (opened.archives != zips || opened.members != 3 * zips || opened.hashedBytes != 0 ||
        listed.archives != 0 || listed.files != zips) {
        context.Note("small zips", Printed("%llu archives and %llu members opened",
                                           static_cast<unsigned long long>(opened.archives),
                                           static_cast<unsigned long long>(opened.members)));
        return;
    }
    const std::string what = std::to_string(load.smallZips) + " zips of 3 small members";
    context.Goal(what + ", no size listed", "opened", "closed", times, 1.5);
    // Opening a file at all has its price, which the goal's peer does not pay.
    std::vector<std::uint8_t> block(std::size_t{1} << 20);
    std::uint64_t read = 0;
    const SideBySide floor = context.Repeat(
        [&](std::size_t n) {
            for (std::size_t i = 0; i < n; ++i) {
                opened = ScanOnce(database, tree.Root(), {});
            }
        },
        [&](std::size_t n) {
            for (std::size_t i = 0; i < n; ++i) {
                read = ReadEachFile(tree.Root(), block);
            }
        });
    context.Compare(what + ": against reading each file", "opened", floor.ours.minimum,
                    "listed+read+closed", floor.peer.minimum);
    context.Note(what + ": bytes",
                 Printed("%llu read from disk in all", static_cast<unsigned long long>(read)));
}

// Inflates a raw deflate stream a block at a time and hashes each block as it comes: the least
// the scan of a member can cost. The bytes inflated.
std::uint64_t InflateAndHash(const std::string& deflated, std::vector<std::uint8_t>& block,
                             MemorySha256& hash) {
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK) {
        return 0;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
    stream.avail_in = static_cast<uInt>(deflated.size());
    std::uint64_t total = 0;
    hash.Begin();
    for (int status = Z_OK; status == Z_OK;) {
        stream.next_out = block.data();
        stream.avail_out = static_cast<uInt>(block.size());
        status = inflate(&stream, Z_NO_FLUSH);
        const std::size_t produced = block.size() - stream.avail_out;
        hash.Add(block.data(), produced);
        total += produced;
    }
    hash.Finish();
    inflateEnd(&stream);
    return total;
}

// One zip of large deflated members whose size is listed (with a digest none of them has), so
// that every member is inflated and hashed: the scan against inflating and hashing the same
// members in memory.
void MeasureLargeMembers(const Context& context, const Workload& load) {
    const DeflatedContent member = Deflated(PseudoText(load.memberSize, 3));
    std::vector<std::pair<std::string, const DeflatedContent*>> members;
    for (int i = 0; i < load.members; ++i) {
        members.push_back({"logs/part" + std::to_string(i) + ".txt", &member});
    }
    ScratchTree tree;
    tree.Write(L"stick\\logs.zip", ZipOf(members));
    std::mt19937_64 random(9);
    tree.Write(L"db\\member.hsb",
               RandomSha256Hex(random) + ":" + std::to_string(load.memberSize) + ":Bench.Member\n");
    scan::SignatureDatabase database;
    scan::DatabaseLoader(database).LoadAll({tree.Path(L"db")});
    // The zip (about 160 MB in a full run) is past the default max-filesize of 100 MiB, and its
    // members add up to more than the default max-scansize of 400 MiB: both lifted.
    scan::FolderScanner::Options options;
    options.maxFileSize = 0;
    options.maxScanSize = 0;
    MemorySha256 peer;
    std::vector<std::uint8_t> block(std::size_t{1} << 20);
    scan::ScanCounts counts;
    std::uint64_t inflated = 0;
    double scanCpu = 1e30;
    double peerCpu = 1e30;
    const SideBySide times = AlternateRuns(
        context, 5,
        [&] {
            const double before = ThreadCpuSeconds();
            const double seconds =
                SecondsOf([&] { counts = ScanOnce(database, tree.Path(L"stick"), options); });
            scanCpu = std::min(scanCpu, ThreadCpuSeconds() - before);
            return seconds;
        },
        [&] {
            const double before = ThreadCpuSeconds();
            const double seconds = SecondsOf([&] {
                inflated = 0;
                for (int i = 0; i < load.members; ++i) {
                    inflated += InflateAndHash(member.deflated, block, peer);
                }
            });
            peerCpu = std::min(peerCpu, ThreadCpuSeconds() - before);
            return seconds;
        });
    const auto expected = static_cast<std::uint64_t>(load.members);
    if (!peer.IsValid() || inflated != expected * load.memberSize || counts.archives != 1 ||
        counts.members != expected || counts.limited != 0 || counts.damaged != 0 ||
        counts.errors != 0) {
        context.Note("large members",
                     Printed("%llu members scanned (%llu limited, %llu damaged), %llu bytes "
                             "inflated in memory",
                             static_cast<unsigned long long>(counts.members),
                             static_cast<unsigned long long>(counts.limited),
                             static_cast<unsigned long long>(counts.damaged),
                             static_cast<unsigned long long>(inflated)));
        return;
    }
    const std::string what = "zip of " + std::to_string(load.members) + " x " +
                             std::to_string(load.memberSize >> 20) + " MiB deflated members";
    context.Goal(what + ", all hashed", "scan", "zlib+SHA-256", times, 1.15);
    context.Note(what + ": processor time", Printed("%.3f s vs %.3f s in memory, ratio %.2f",
                                                    scanCpu, peerCpu, scanCpu / peerCpu));
    context.Note(what + ": sizes",
                 Printed("%.1f MiB compressed, %.0f MB/s inflated and hashed in memory",
                         static_cast<double>(member.deflated.size()) * load.members / (1 << 20),
                         static_cast<double>(inflated) / (times.peer.minimum / 1e9) / 1e6));
}

}  // namespace

BENCHMARK_GROUP(ScanArchives) {
    const Workload load = WorkloadFor(context.GetMode());
    std::unique_ptr<scan::SignatureDatabase> loose;
    {
        ScratchTree databases;
        MeasureContainerLoad(context, load, databases, loose);
    }
    if (loose) {
        MeasureSmallZips(context, load, *loose);
    }
    MeasureLargeMembers(context, load);
}

}  // namespace devicescan::bench
