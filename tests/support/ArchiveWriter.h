#pragma once

// Small writers of zip, tar and gzip files for the tests and fuzzers: every framing variant the
// readers take, plus ways to make each one wrong (a lying size, a bad check value), and streams
// that inflate to gigabytes from a few megabytes.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

namespace test_support {

// Raw deflate (no header) of data, or of data repeated times over, made without compressing it
// all: data compressed after a full flush is the same bytes every time, so the stream repeats
// them, then ends with an empty final block.
inline std::string Deflate(const std::string& data, std::uint64_t times = 1) {
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string block(deflateBound(&stream, static_cast<uLong>(data.size())) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(block.data());
    stream.avail_out = static_cast<uInt>(block.size());
    deflate(&stream, times == 1 ? Z_FINISH : Z_FULL_FLUSH);
    block.resize(block.size() - stream.avail_out);
    deflateEnd(&stream);
    std::string out;
    for (std::uint64_t i = 0; i < times; ++i) {
        out += block;
    }
    return times == 1 ? out : out + std::string("\x03\x00", 2);  // a final block holding nothing
}

inline std::uint32_t Crc32(const std::string& data) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// Many zeros, deflated, with their size and CRC.
struct ZeroStream {
    std::string deflated;
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
};

inline ZeroStream DeflatedZeros(std::uint64_t mebibytes) {
    const std::string zeros(1 << 20, '\0');
    const uLong blockCrc = Crc32(zeros);
    uLong crc = 0;
    for (std::uint64_t i = 0; i < mebibytes; ++i) {
        crc = crc32_combine(crc, blockCrc, 1 << 20);
    }
    return {Deflate(zeros, mebibytes), mebibytes << 20, static_cast<std::uint32_t>(crc)};
}

// value as bytes little-endian bytes: its first bytes in memory, on the x86 this runs on.
inline std::string Le(std::uint64_t value, int bytes) {
    return std::string(reinterpret_cast<const char*>(&value), bytes);
}

// content deflated (or as it is) with its size and CRC, unless zeros stands in for it.
inline ZeroStream Packed(const std::string& content, const ZeroStream* zeros, bool deflate = true) {
    return zeros ? *zeros
                 : ZeroStream{deflate ? Deflate(content) : content, content.size(), Crc32(content)};
}

// One gzip member.
struct GzipMember {
    std::string content{};              // compressed here unless zeros is set
    std::string fileName{};             // FNAME, when not empty
    const ZeroStream* zeros = nullptr;  // the content instead of content
};

inline std::string GzipOf(const std::vector<GzipMember>& members) {
    std::string out;
    for (const GzipMember& member : members) {
        const ZeroStream packed = Packed(member.content, member.zeros);
        const bool named = !member.fileName.empty();
        out += std::string("\x1F\x8B\x08") + (named ? '\x08' : '\0') +
               std::string("\0\0\0\0\0\x03", 6) + (named ? member.fileName + '\0' : "") +
               packed.deflated + Le(packed.crc, 4) + Le(packed.size, 4);
    }
    return out;
}

inline std::string GzipOf(const std::string& content, const std::string& fileName = "") {
    return GzipOf({{content, fileName}});
}

// Tar entries in the three ways of naming them.
enum class TarFormat { kUstar, kPax, kGnu };

struct TarItem {
    std::string name{};
    std::string content{};
    char type = '0';
};

inline std::string TarHeader(const std::string& name, std::uint64_t size, char type = '0',
                             TarFormat format = TarFormat::kUstar, const std::string& prefix = "") {
    std::string block(512, '\0');
    const auto put = [&](std::size_t at, const std::string& text, std::size_t length) {
        block.replace(at, std::min(text.size(), length), text.substr(0, length));
    };
    char octal[16];
    std::snprintf(octal, sizeof octal, "%011llo", static_cast<unsigned long long>(size));
    put(0, name, 100);
    put(124, octal, 12);  // mode, owner and time stay empty: nothing here reads them
    block[156] = type;
    put(257, format == TarFormat::kGnu ? "ustar  " : std::string("ustar\0\x30\x30", 8), 8);
    put(345, prefix, 155);
    put(148, "        ", 8);
    const unsigned sum = std::accumulate(
        block.begin(), block.end(), 0u,
        [](unsigned total, char c) { return total + static_cast<unsigned char>(c); });
    std::snprintf(octal, sizeof octal, "%06o", sum);
    put(148, std::string(octal, 7), 7);  // six digits and a NUL; the blank after stays
    return block;
}

inline std::string TarPadded(const std::string& data) {
    return data + std::string((512 - data.size() % 512) % 512, '\0');
}

inline std::string PaxRecord(const std::string& key, const std::string& value) {
    const std::string body = " " + key + "=" + value + "\n";
    std::size_t length = body.size() + 1;
    for (; std::to_string(length).size() + body.size() != length; ++length) {
    }
    return std::to_string(length) + body;
}

// Names longer than the header's field go where each format puts them: ustar splits them at a
// slash into prefix and name, pax into a path record, GNU into an 'L' entry before the header.
inline std::string TarOf(const std::vector<TarItem>& items, TarFormat format = TarFormat::kUstar) {
    std::string out;
    for (const TarItem& item : items) {
        std::string name = item.name.substr(0, 100);
        std::string prefix;
        if (item.name.size() > 100 && format == TarFormat::kUstar) {
            const std::size_t slash = item.name.rfind('/', item.name.size() - 2);
            prefix = item.name.substr(0, slash);
            name = item.name.substr(slash + 1);
        } else if (item.name.size() > 100) {
            const bool pax = format == TarFormat::kPax;
            const std::string named =
                pax ? PaxRecord("path", item.name) + PaxRecord("mtime", "1.5") : item.name + '\0';
            out += TarHeader(pax ? "PaxHeaders/x" : "././@LongLink", named.size(), pax ? 'x' : 'L',
                             format) +
                   TarPadded(named);
        }
        out += TarHeader(name, item.content.size(), item.type, format, prefix) +
               TarPadded(item.content);
    }
    return out + std::string(1024, '\0');
}

// Zip members: how each one is stored and described, and the faults it may carry.
struct ZipItem {
    // The 64-bit layouts come last: ZipOf tells the width by the order.
    enum class Descriptor { kNone, kSigned, kUnsigned, kSigned64, kUnsigned64 };

    std::string name{};
    std::string content{};
    bool deflate = true;
    Descriptor descriptor = Descriptor::kNone;
    bool zip64 = false;                 // sizes in a ZIP64 extra field, 0xFFFFFFFF in the header
    bool utf8 = false;                  // the language-encoding flag (bit 11)
    bool encrypted = false;             // bit 0; the data is left as it is
    const ZeroStream* zeros = nullptr;  // the content, already deflated
    std::int64_t sizeDelta = 0;         // added to the uncompressed size written (a lying header)
    std::uint32_t crcXor = 0;
    std::uint16_t method = 0;  // when not 0, the method written instead
};

// The members, then only the end of the central directory (the reader stops at it; nothing
// here reads the directory itself).
inline std::string ZipOf(const std::vector<ZipItem>& items) {
    std::string out;
    for (const ZipItem& item : items) {
        const ZeroStream packed = Packed(item.content, item.zeros, item.deflate);
        const std::string& data = packed.deflated;
        const std::uint64_t size = packed.size + item.sizeDelta;
        const std::uint32_t crc = packed.crc ^ item.crcXor;
        const bool described = item.descriptor != ZipItem::Descriptor::kNone;
        const int flags = (described ? 8 : 0) | (item.utf8 ? 0x800 : 0) | (item.encrypted ? 1 : 0);
        const int method = item.method ? item.method : (item.deflate || item.zeros ? 8 : 0);
        const std::uint64_t compressed = described ? 0 : data.size();
        const std::uint64_t uncompressed = described ? 0 : size;
        const std::uint64_t field = 0xFFFFFFFF;  // the header's size when ZIP64 holds it
        out += "PK\x03\x04" + Le(20, 2) + Le(flags, 2) + Le(method, 2) +
               Le(0x5A5A5A5A, 4) /* time and date */ + Le(described ? 0 : crc, 4) +
               Le(item.zip64 ? field : compressed, 4) + Le(item.zip64 ? field : uncompressed, 4) +
               Le(item.name.size(), 2) + Le(item.zip64 ? 20 : 0, 2) + item.name;
        if (item.zip64) {  // the ZIP64 field's id and length, then the sizes
            out += Le(0x00100001, 4) + Le(uncompressed, 8) + Le(compressed, 8);
        }
        out += data;
        if (described) {
            using D = ZipItem::Descriptor;
            const int width = item.descriptor >= D::kSigned64 ? 8 : 4;
            const bool signature = item.descriptor == D::kSigned || item.descriptor == D::kSigned64;
            out += (signature ? "PK\x07\x08" : "") + Le(crc, 4) + Le(data.size(), width) +
                   Le(size, width);
        }
    }
    return out + "PK\x05\x06" + std::string(18, '\0');
}

}  // namespace test_support
