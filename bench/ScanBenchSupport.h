// bench/ is the benchmark program, devicescan-bench: each group runs our implementation and its
// standard or platform peer side by side in one run and prints their ratio (main.cpp, the
// harness in BenchHarness.h). This file: what the scanner's benchmark groups share (timing,
// goal rows, the in-memory hash peer, an observer that ignores what it is told).
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchHarness.h"
#include "host/scan/ScanObserver.h"

namespace devicescan::bench {

inline double NowSeconds() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <typename Body>
double SecondsOf(Body&& body) {
    const double start = NowSeconds();
    body();
    return NowSeconds() - start;
}

// The processor time this thread has used, user and kernel. On a machine shared with other
// work it tells how long a step would take alone, where the wall time also counts the waits.
inline double ThreadCpuSeconds() {
    FILETIME created;
    FILETIME exited;
    FILETIME kernel;
    FILETIME user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    const auto seconds = [](const FILETIME& time) {
        return static_cast<double>(std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime) /
               1e7;
    };
    return seconds(kernel) + seconds(user);
}

inline std::string Printed(const char* format, auto... values) {
    char text[512];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

// A goal row through the harness: ours against the peer, the ratio, the goal for the ratio and
// whether it is met.
inline void RatioGoal(const Context& context, const std::string& what, double ours, double peer,
                      const char* unit, bool atMost, double goal) {
    const double ratio = ours / peer;
    context.Goal(what, Printed("%.3f %s vs %.3f %s, ratio %.2f", ours, unit, peer, unit, ratio),
                 Printed("%s %.2f", atMost ? "<=" : ">=", goal),
                 atMost ? ratio <= goal : ratio >= goal);
}

// The peer of a content scan: BCrypt's SHA-256 over bytes in memory, as plainly as it is called.
class MemorySha256 {
  public:
    MemorySha256() {
        if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
            algorithm = nullptr;
            return;
        }
        DWORD objectSize = 0;
        ULONG written = 0;
        BCryptGetProperty(algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectSize),
                          sizeof(objectSize), &written, 0);
        object.resize(objectSize);
    }
    ~MemorySha256() {
        if (algorithm != nullptr) {
            BCryptCloseAlgorithmProvider(algorithm, 0);
        }
    }
    MemorySha256(const MemorySha256&) = delete;
    MemorySha256& operator=(const MemorySha256&) = delete;

    bool IsValid() const { return algorithm != nullptr; }

    // The digest's first byte, so that the work cannot be skipped.
    std::uint8_t Hash(const std::string& bytes) {
        Begin();
        Add(bytes.data(), bytes.size());
        return Finish();
    }

    // The same over bytes given in pieces: Begin, Add each, Finish.
    void Begin() {
        if (BCryptCreateHash(algorithm, &hash, object.data(), static_cast<ULONG>(object.size()),
                             nullptr, 0, 0) != 0) {
            hash = nullptr;
        }
    }
    void Add(const void* bytes, std::size_t size) {
        if (hash != nullptr) {
            BCryptHashData(hash, static_cast<PUCHAR>(const_cast<void*>(bytes)),
                           static_cast<ULONG>(size), 0);
        }
    }
    std::uint8_t Finish() {
        UCHAR digest[32] = {};
        if (hash != nullptr) {
            BCryptFinishHash(hash, digest, sizeof(digest), 0);
            BCryptDestroyHash(hash);
            hash = nullptr;
        }
        return digest[0];
    }

  private:
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::vector<UCHAR> object;
};

// Told of detections and progress, and ignores them.
class IgnoringObserver final : public scan::ScanObserver {
  public:
    void OnDetection(const scan::Detection&) override {}
    void OnProgress(const scan::ScanCounts&) override {}
    void OnLimit(const scan::ScanLimit&) override {}
};

inline std::string RandomSha256Hex(std::mt19937_64& random) {
    static const char kHex[] = "0123456789abcdef";
    std::string hex(64, '0');
    for (std::size_t i = 0; i < hex.size(); i += 16) {
        std::uint64_t bits = random();
        for (std::size_t j = 0; j < 16; ++j, bits >>= 4) {
            hex[i + j] = kHex[bits & 15];
        }
    }
    return hex;
}

}  // namespace devicescan::bench
