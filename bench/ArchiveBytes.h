// bench/ is the benchmark program, devicescan-bench: each group runs our implementation and its
// standard or platform peer side by side in one run and prints their ratio (main.cpp, the
// harness in BenchHarness.h). This file: the zip, tar, gzip and signature-container bytes the
// archive benchmarks scan and load, made with zlib. Only well-formed ones: the benchmark
// measures the readers' ordinary path.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace devicescan::bench {

// size bytes of text: words from a fixed vocabulary in a pseudo-random order, which deflate
// about as well as prose does. A block of a mebibyte is repeated; deflate's window is 32 KiB,
// so the repetition does not make the text compress any better.
std::string PseudoText(std::size_t size, std::uint32_t seed);

// A member's content, deflated once (raw deflate, zlib's default level) so that several members
// can share it.
struct DeflatedContent {
    std::string deflated;
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
};
DeflatedContent Deflated(const std::string& content);

// A zip of deflated members as archivers write them: local headers with sizes and CRC, the
// central directory, its end.
std::string ZipOf(const std::vector<std::pair<std::string, const DeflatedContent*>>& members);

// A .cvd holding files (name, content) as the publisher's tool builds one: the 512-byte header
// with the MD5 of everything after it, then a gzip'd ustar archive (zlib's highest level, as
// that tool uses) of COPYING, NAME.info listing each file's size and SHA-256, and the files.
std::string SignatureContainer(const std::string& name,
                               const std::vector<std::pair<std::string, std::string>>& files,
                               std::uint64_t signatures);

}  // namespace devicescan::bench
