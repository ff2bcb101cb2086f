#include "bench/ArchiveBytes.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "host/scan/FileHasher.h"

namespace devicescan::bench {

namespace {

void PutLe(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

// Compresses data whole: raw deflate (windowBits -15) for zip members, gzip (31) for a file.
std::string Compress(const std::string& data, int level, int windowBits) {
    z_stream stream{};
    deflateInit2(&stream, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

std::string HexOf(scan::HashType type, const std::string& bytes) {
    scan::Digest digest;
    scan::FileHasher::HashBytes(type, bytes.data(), bytes.size(), digest);
    return digest.Hex();
}

std::string TarHeader(const std::string& name, std::uint64_t size) {
    std::string block(512, '\0');
    const auto put = [&](std::size_t at, const char* text, std::size_t length) {
        block.replace(at, length, text, length);
    };
    char field[16];
    put(0, name.data(), name.size());
    put(100, "0000644", 8);
    std::snprintf(field, sizeof field, "%011llo", static_cast<unsigned long long>(size));
    put(124, field, 12);
    put(136, "00000000000", 12);  // the time
    block[156] = '0';
    put(257,
        "ustar\0"
        "00",
        8);
    put(148, "        ", 8);
    unsigned sum = 0;
    for (const char c : block) {
        sum += static_cast<unsigned char>(c);
    }
    std::snprintf(field, sizeof field, "%06o", sum);
    put(148, field, 7);  // six digits and a NUL; the blank after stays
    return block;
}

std::string TarOf(const std::vector<std::pair<std::string, std::string>>& files) {
    std::string out;
    for (const auto& [name, content] : files) {
        out += TarHeader(name, content.size()) + content;
        out.append((512 - content.size() % 512) % 512, '\0');
    }
    return out + std::string(1024, '\0');
}

}  // namespace

std::string PseudoText(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<std::string> words(2000);
    for (std::string& word : words) {
        const std::size_t length = 2 + random() % 9;
        for (std::size_t i = 0; i < length; ++i) {
            word += static_cast<char>('a' + random() % 26);
        }
    }
    std::string block;
    while (block.size() < (std::size_t{1} << 20)) {
        block += words[random() % words.size()];
        block += random() % 12 == 0 ? ".\r\n" : " ";
    }
    block.resize(std::size_t{1} << 20);
    std::string text;
    text.reserve(size);
    while (text.size() < size) {
        text.append(block, 0, std::min(block.size(), size - text.size()));
    }
    return text;
}

DeflatedContent Deflated(const std::string& content) {
    return {Compress(content, Z_DEFAULT_COMPRESSION, -15), content.size(),
            static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(content.data()),
                                             static_cast<uInt>(content.size())))};
}

std::string ZipOf(const std::vector<std::pair<std::string, const DeflatedContent*>>& members) {
    std::string out;
    std::string directory;
    for (const auto& [name, content] : members) {
        // The fields local header and directory entry share, from the version needed on.
        std::string common;
        PutLe(common, 20, 2);
        PutLe(common, 0, 2);  // flags
        PutLe(common, 8, 2);  // deflate
        PutLe(common, 0x5A5A5A5A, 4);
        PutLe(common, content->crc, 4);
        PutLe(common, content->deflated.size(), 4);
        PutLe(common, content->size, 4);
        PutLe(common, name.size(), 2);
        PutLe(common, 0, 2);  // extra field
        directory += "PK\x01\x02";
        PutLe(directory, 20, 2);  // made by
        directory += common;
        PutLe(directory, 0, 2 + 2 + 2 + 4);  // comment, disk, internal and external attributes
        PutLe(directory, out.size(), 4);
        directory += name;
        out += "PK\x03\x04" + common + name + content->deflated;
    }
    const std::size_t directoryAt = out.size();
    out += directory + "PK\x05\x06";
    PutLe(out, 0, 4);  // disk numbers
    PutLe(out, members.size(), 2);
    PutLe(out, members.size(), 2);
    PutLe(out, directory.size(), 4);
    PutLe(out, directoryAt, 4);
    PutLe(out, 0, 2);  // comment
    return out;
}

std::string SignatureContainer(const std::string& name,
                               const std::vector<std::pair<std::string, std::string>>& files,
                               std::uint64_t signatures) {
    const std::string fields =
        "ClamAV-VDB:06 Dec 2026 21-28 +0000:1:" + std::to_string(signatures) + ":216:";
    const std::string tail = ":bench:1796592501";
    std::string info = fields + "X:X" + tail + "\n";
    for (const auto& [file, content] : files) {
        info += file + ":" + std::to_string(content.size()) + ":" +
                HexOf(scan::HashType::kSha256, content) + "\n";
    }
    std::vector<std::pair<std::string, std::string>> entries{
        {"COPYING", "Benchmark signatures, made up.\n"}, {name + ".info", info}};
    entries.insert(entries.end(), files.begin(), files.end());
    const std::string body = Compress(TarOf(entries), Z_BEST_COMPRESSION, 31);
    std::string header = fields + HexOf(scan::HashType::kMd5, body) + ":X" + tail;
    header.resize(512, ' ');
    return header + body;
}

}  // namespace devicescan::bench
