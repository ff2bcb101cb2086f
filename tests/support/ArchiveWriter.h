#pragma once

// Small writers of zip, tar and gzip files for the tests and fuzzers: every framing variant the
// readers take, plus ways to make each one wrong (a lying size, a bad check value), and streams
// that inflate to gigabytes from a few megabytes.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace test_support {

// Raw deflate of data (no header), at the given zlib level.
inline std::string Deflate(const std::string& data, int level = 6) {
    z_stream stream{};
    deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 16, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

inline std::uint32_t Crc32(const std::string& data) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// A deflate stream of many zeros, made without compressing them all: one mebibyte of zeros
// compressed after a full flush is the same bytes every time, so the stream repeats them.
struct ZeroStream {
    std::string deflated;
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
};

inline ZeroStream DeflatedZeros(std::uint64_t mebibytes) {
    const std::string zeros(1 << 20, '\0');
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string chunk(64 << 10, '\0');
    const auto run = [&](const std::string& in, int flush) {
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
        stream.avail_in = static_cast<uInt>(in.size());
        stream.next_out = reinterpret_cast<Bytef*>(chunk.data());
        stream.avail_out = static_cast<uInt>(chunk.size());
        deflate(&stream, flush);
        return chunk.substr(0, chunk.size() - stream.avail_out);
    };
    const std::string block = run(zeros, Z_FULL_FLUSH);
    ZeroStream result;
    for (std::uint64_t i = 0; i < mebibytes; ++i) {
        result.deflated += block;
    }
    result.deflated += run(std::string(), Z_FINISH);
    deflateEnd(&stream);
    result.size = mebibytes << 20;
    const uLong blockCrc = crc32(0, reinterpret_cast<const Bytef*>(zeros.data()), 1u << 20);
    uLong crc = 0;
    for (std::uint64_t i = 0; i < mebibytes; ++i) {
        crc = crc32_combine(crc, blockCrc, 1 << 20);
    }
    result.crc = static_cast<std::uint32_t>(crc);
    return result;
}

inline void PutLe(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
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
        out += "\x1F\x8B\x08";
        out += static_cast<char>(member.fileName.empty() ? 0 : 0x08);
        out += std::string("\0\0\0\0\0\x03", 6);
        if (!member.fileName.empty()) {
            out += member.fileName;
            out += '\0';
        }
        out += member.zeros ? member.zeros->deflated : Deflate(member.content);
        PutLe(out, member.zeros ? member.zeros->crc : Crc32(member.content), 4);
        PutLe(out, member.zeros ? member.zeros->size : member.content.size(), 4);
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

inline std::string TarHeader(const std::string& name, std::uint64_t size, char type,
                             TarFormat format, const std::string& prefix = "") {
    std::string block(512, '\0');
    const auto put = [&](std::size_t at, const std::string& text, std::size_t length) {
        block.replace(at, std::min(text.size(), length), text.substr(0, length));
    };
    char octal[16];
    std::snprintf(octal, sizeof octal, "%011llo", static_cast<unsigned long long>(size));
    put(0, name, 100);
    put(124, octal, 12);  // mode, owner and time stay empty: nothing here reads them
    block[156] = type;
    put(257, format == TarFormat::kGnu ? std::string("ustar  ") : std::string("ustar\0\x30\x30", 8),
        8);
    put(345, prefix, 155);
    put(148, "        ", 8);
    unsigned sum = 0;
    for (const char c : block) {
        sum += static_cast<unsigned char>(c);
    }
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
    while (std::to_string(length).size() + body.size() != length) {
        ++length;
    }
    return std::to_string(length) + body;
}

// Names longer than the header's field go where each format puts them: ustar splits them at a
// slash into prefix and name, pax into a path record, GNU into an 'L' entry before the header.
inline std::string TarOf(const std::vector<TarItem>& items, TarFormat format = TarFormat::kUstar) {
    std::string out;
    for (const TarItem& item : items) {
        std::string name = item.name;
        std::string prefix;
        if (name.size() > 100) {
            switch (format) {
                case TarFormat::kUstar: {
                    const std::size_t slash = name.rfind('/', name.size() - 2);
                    prefix = name.substr(0, slash);
                    name = name.substr(slash + 1);
                    break;
                }
                case TarFormat::kPax: {
                    const std::string records = PaxRecord("path", name) + PaxRecord("mtime", "1.5");
                    out +=
                        TarHeader("PaxHeaders/x", records.size(), 'x', format) + TarPadded(records);
                    name = name.substr(0, 100);
                    break;
                }
                case TarFormat::kGnu:
                    out += TarHeader("././@LongLink", name.size() + 1, 'L', format) +
                           TarPadded(name + '\0');
                    name = name.substr(0, 100);
                    break;
            }
        }
        out += TarHeader(name, item.content.size(), item.type, format, prefix) +
               TarPadded(item.content);
    }
    return out + std::string(1024, '\0');
}

// Zip members: how each one is stored and described, and the faults it may carry.
struct ZipItem {
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
        const std::string data = item.zeros     ? item.zeros->deflated
                                 : item.deflate ? Deflate(item.content)
                                                : item.content;
        const std::uint64_t size =
            (item.zeros ? item.zeros->size : item.content.size()) + item.sizeDelta;
        const std::uint32_t crc =
            (item.zeros ? item.zeros->crc : Crc32(item.content)) ^ item.crcXor;
        const bool described = item.descriptor != ZipItem::Descriptor::kNone;
        out += "PK\x03\x04";
        PutLe(out, 20, 2);
        PutLe(out, (described ? 8 : 0) | (item.utf8 ? 0x800 : 0) | (item.encrypted ? 1 : 0), 2);
        PutLe(out, item.method ? item.method : item.deflate || item.zeros ? 8 : 0, 2);
        PutLe(out, 0x5A5A5A5A, 4);  // time and date
        PutLe(out, described ? 0 : crc, 4);
        PutLe(out, item.zip64 ? 0xFFFFFFFF : described ? 0 : data.size(), 4);
        PutLe(out, item.zip64 ? 0xFFFFFFFF : described ? 0 : size, 4);
        PutLe(out, item.name.size(), 2);
        PutLe(out, item.zip64 ? 20 : 0, 2);
        out += item.name;
        if (item.zip64) {
            PutLe(out, 0x00100001, 4);  // the ZIP64 field's id and length
            PutLe(out, described ? 0 : size, 8);
            PutLe(out, described ? 0 : data.size(), 8);
        }
        out += data;
        if (described) {
            const auto d = item.descriptor;
            const int width =
                d == ZipItem::Descriptor::kSigned64 || d == ZipItem::Descriptor::kUnsigned64 ? 8
                                                                                             : 4;
            out += d == ZipItem::Descriptor::kSigned || d == ZipItem::Descriptor::kSigned64
                       ? "PK\x07\x08"
                       : "";
            PutLe(out, crc, 4);
            PutLe(out, data.size(), width);
            PutLe(out, size, width);
        }
    }
    return out + "PK\x05\x06" + std::string(18, '\0');
}

}  // namespace test_support
