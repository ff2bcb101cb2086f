// The gzip, tar and zip readers on archives made in memory: every framing variant gives back the
// names and bytes written, and every kind of damage ends the stream as damaged after what could
// be read, never with more than the archive holds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/scan/archive/GzipSource.h"
#include "host/scan/archive/MemorySource.h"
#include "host/scan/archive/TarReader.h"
#include "host/scan/archive/ZipReader.h"
#include "tests/scan/ArchiveWriter.h"

namespace {

using namespace devicescan::scan::archive;
using namespace devicescan::testing_support;
using End = ByteSource::End;

std::span<const std::uint8_t> BytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Everything a source gives, read in blocks of an odd size.
std::string Drain(ByteSource& source) {
    std::string out;
    std::uint8_t block[1000];
    while (const std::size_t got = source.Read(block, sizeof block)) {
        out.append(reinterpret_cast<const char*>(block), got);
    }
    return out;
}

std::string Cut(const std::string& text, std::size_t dropped) {
    return text.substr(0, text.size() - dropped);
}

TEST(GzipSource, InflatesMembersAndEndsAsEachDamageDeserves) {
    const std::string text = "a line of text\n" + std::string(5000, 'z');
    const std::string one = GzipOf(text, "caf\xE9.txt");
    GzipMember badCrc{text};
    badCrc.crcXor = 1;
    std::string badFlags = one;
    badFlags[3] = static_cast<char>(0xE0);  // reserved flag bits
    const struct {
        const char* name;
        std::string gzip;
        std::uint64_t cap;
        std::string content;  // what comes out before the end
        End end;
    } cases[] = {
        {"one member", one, GzipSource::kNoLimit, text, End::kFinished},
        {"three members", GzipOf({{"ab"}, {""}, {text}}), GzipSource::kNoLimit, "ab" + text,
         End::kFinished},
        {"zero padding after", one + std::string(700, '\0'), GzipSource::kNoLimit, text,
         End::kFinished},
        {"junk after", one + std::string(7, '\0') + "x", GzipSource::kNoLimit, text, End::kDamaged},
        {"bad CRC", GzipOf({badCrc}), GzipSource::kNoLimit, text, End::kDamaged},
        {"trailer cut", Cut(one, 3), GzipSource::kNoLimit, text, End::kDamaged},
        {"reserved flags", badFlags, GzipSource::kNoLimit, "", End::kDamaged},
        {"header only", one.substr(0, 10), GzipSource::kNoLimit, "", End::kDamaged},
        {"capped at its size", one, text.size(), text, End::kFinished},
        {"capped below it", one, text.size() - 1, Cut(text, 1), End::kLimited},
        {"capped in the second", GzipOf({{"ab"}, {"cd"}}), 3, "abc", End::kLimited},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        MemorySource input(BytesOf(test.gzip));
        GzipSource gzip(input, test.cap);
        const std::string content = Drain(gzip);
        EXPECT_EQ(gzip.Ended(), test.end);
        if (test.end == End::kDamaged) {
            EXPECT_EQ(test.content.substr(0, content.size()), content) << "a prefix at most";
        } else {
            EXPECT_EQ(content, test.content);
        }
    }
    MemorySource input(BytesOf(one));
    GzipSource gzip(input);
    Drain(gzip);
    EXPECT_EQ(gzip.FileName(), "caf\xC3\xA9.txt") << "Latin-1 in the header, UTF-8 out";
}

// The entries of a tar: name, size, kind and data, and how the archive ended.
struct Listed {
    std::vector<std::string> entries;  // "name size kind data"
    End end;
    bool operator==(const Listed&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Listed& listed) {
    for (const std::string& entry : listed.entries) {
        // Long runs of one letter are shown as a count.
        std::string shown;
        for (std::size_t i = 0; i < entry.size();) {
            const std::size_t run = entry.find_first_not_of(entry[i], i) == std::string::npos
                                        ? entry.size() - i
                                        : entry.find_first_not_of(entry[i], i) - i;
            shown += run > 8 ? std::string(1, entry[i]) + "*" + std::to_string(run)
                             : entry.substr(i, run);
            i += run;
        }
        out << "[" << shown << "] ";
    }
    return out << "end " << static_cast<int>(listed.end);
}

// readEvery: read the data of every n-th entry (the others are passed over by Next).
Listed ListTar(const std::string& tar, std::size_t readEvery = 1) {
    MemorySource input(BytesOf(tar));
    TarReader reader(input);
    Listed listed;
    TarEntry entry;
    for (std::size_t i = 0; reader.Next(entry); ++i) {
        const std::string data = i % readEvery == 0 ? Drain(reader.Data()) : "-";
        const bool cut = reader.Data().IsDamaged();
        listed.entries.push_back(entry.name + " " + std::to_string(entry.size) + " " +
                                 std::to_string(static_cast<int>(entry.kind)) + " " + data +
                                 (cut ? " (cut)" : ""));
    }
    listed.end = reader.Ended();
    return listed;
}

TEST(TarReader, NamesEveryEntryAsEachFormatStoresItAndEndsAtDamage) {
    const std::string deep = std::string(90, 'd') + "/" + std::string(60, 'e') + "/file.txt";
    const std::vector<TarItem> items = {{"dir/", "", '5'},
                                        {"dir/a.txt", "alpha"},
                                        {deep, std::string(1500, 'x')},
                                        {"link", "", '2'}};
    const std::vector<std::string> expected = {"dir/ 0 1 ", "dir/a.txt 5 0 alpha",
                                               deep + " 1500 0 " + std::string(1500, 'x'),
                                               "link 0 2 "};
    const std::string ustar = TarOf(items);
    std::string badSum = ustar;
    badSum[512 + 3] ^= 1;  // the second header's name
    const std::string records = PaxRecord("size", "5") + PaxRecord("path", "pax/name");
    const std::string paxSize = TarHeader("x", records.size(), 'x', TarFormat::kPax) +
                                TarPadded(records) + TarHeader("short", 0, '0', TarFormat::kPax) +
                                TarPadded("hello") + std::string(1024, '\0');
    const std::string global = TarHeader("g", records.size(), 'g', TarFormat::kPax) +
                               TarPadded(records) + TarOf({{"plain", "p"}});
    const struct {
        const char* name;
        std::string tar;
        Listed listed;
    } cases[] = {
        {"ustar", ustar, {expected, End::kFinished}},
        {"pax", TarOf(items, TarFormat::kPax), {expected, End::kFinished}},
        {"GNU", TarOf(items, TarFormat::kGnu), {expected, End::kFinished}},
        {"pax size and path", paxSize, {{"pax/name 5 0 hello"}, End::kFinished}},
        {"global header passed over", global, {{"plain 1 0 p"}, End::kFinished}},
        {"no end blocks", Cut(ustar, 1024), {expected, End::kFinished}},
        {"bad checksum", badSum, {{expected[0]}, End::kDamaged}},
        {"cut in a header", ustar.substr(0, 512 + 100), {{expected[0]}, End::kDamaged}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(ListTar(test.tar), test.listed);
    }
    // Cut inside the long entry's data: what is there comes out, and the entry says it was cut.
    const Listed listed = ListTar(TarOf({items[0], items[1], items[2]}).substr(0, 512 * 4 + 100));
    ASSERT_EQ(listed.entries.size(), 3u);
    EXPECT_EQ(listed.entries[2], deep + " 1500 0 " + std::string(100, 'x') + " (cut)");
    EXPECT_EQ(listed.end, End::kDamaged);
    EXPECT_EQ(ListTar(ustar, 2).entries,
              (std::vector<std::string>{expected[0], "dir/a.txt 5 0 -", expected[2], "link 0 2 -"}))
        << "unread data passed over";
}

TEST(TarReader, TakesOnlyBlocksWithTheirChecksumAsHeaders) {
    std::string header = TarHeader("name", 10, '0', TarFormat::kUstar);
    EXPECT_TRUE(TarReader::IsHeader(BytesOf(header)));
    EXPECT_FALSE(TarReader::IsHeader(BytesOf(std::string(512, '\0'))));
    EXPECT_FALSE(TarReader::IsHeader(BytesOf(header.substr(0, 511))));
    header[0] ^= 1;
    EXPECT_FALSE(TarReader::IsHeader(BytesOf(header)));
}

// readEvery: read the data of every n-th readable member (the others are passed over by Next).
Listed ListZip(const std::string& zip, std::size_t readEvery = 1) {
    MemorySource input(BytesOf(zip));
    ZipReader reader(input);
    Listed listed;
    ZipEntry entry;
    for (std::size_t i = 0; reader.Next(entry); ++i) {
        std::string line = entry.name + " " + (entry.sizeKnown ? std::to_string(entry.size) : "?") +
                           " m" + std::to_string(entry.method) + (entry.encrypted ? " locked" : "");
        if (entry.IsReadable() && i % readEvery == 0) {
            line += " " + Drain(reader.Data());
            line += reader.Data().IsDamaged() ? " (damaged)" : "";
        }
        listed.entries.push_back(line);
    }
    listed.end = reader.Ended();
    return listed;
}

TEST(ZipReader, ReadsEveryWayOfStoringAMemberAndChecksItsSizeAndCrc) {
    using D = ZipItem::Descriptor;
    const std::string text = "zip member text " + std::string(3000, 'q');
    const auto item = [&](ZipItem zip) {
        zip.name = zip.name.empty() ? "m.txt" : zip.name;
        zip.content = text;
        return zip;
    };
    const std::string next = "next.txt 4 m8 next";
    const ZipItem after{"next.txt", "next"};
    const std::string good = "m.txt " + std::to_string(text.size()) + " m8 " + text;
    const std::string described = "m.txt ? m8 " + text;
    const std::string whole = ZipOf({item({}), after});
    const struct {
        const char* name;
        std::string zip;
        Listed listed;
    } cases[] = {
        {"deflated", whole, {{good, next}, End::kFinished}},
        {"stored",
         ZipOf({item({.deflate = false}), after}),
         {{"m.txt " + std::to_string(text.size()) + " m0 " + text, next}, End::kFinished}},
        {"descriptor with signature",
         ZipOf({item({.descriptor = D::kSigned}), after}),
         {{described, next}, End::kFinished}},
        {"descriptor without signature",
         ZipOf({item({.descriptor = D::kUnsigned}), after}),
         {{described, next}, End::kFinished}},
        {"64-bit descriptor",
         ZipOf({item({.descriptor = D::kSigned64}), after}),
         {{described, next}, End::kFinished}},
        {"64-bit descriptor without signature",
         ZipOf({item({.descriptor = D::kUnsigned64}), after}),
         {{described, next}, End::kFinished}},
        {"ZIP64 sizes", ZipOf({item({.zip64 = true}), after}), {{good, next}, End::kFinished}},
        {"ZIP64 stored",
         ZipOf({item({.deflate = false, .zip64 = true}), after}),
         {{"m.txt " + std::to_string(text.size()) + " m0 " + text, next}, End::kFinished}},
        {"ZIP64 with descriptor",
         ZipOf({item({.descriptor = D::kSigned64, .zip64 = true}), after}),
         {{described, next}, End::kFinished}},
        {"UTF-8 name",
         ZipOf({{.name = "\xC3\xA9t\xC3\xA9/\xE6\x96\x87", .content = "x", .utf8 = true}}),
         {{"\xC3\xA9t\xC3\xA9/\xE6\x96\x87 1 m8 x"}, End::kFinished}},
        {"bad UTF-8 name",
         ZipOf({{.name = "a\xFF", .content = "x", .utf8 = true}}),
         {{"a\xEF\xBF\xBD 1 m8 x"}, End::kFinished}},
        {"code page 437 name",
         ZipOf({{.name = "\x82t\x82 \xE1", .content = "x"}}),
         {{"\xC3\xA9t\xC3\xA9 \xC3\x9F 1 m8 x"}, End::kFinished}},
        {"encrypted",
         ZipOf({item({.encrypted = true}), after}),
         {{"m.txt " + std::to_string(text.size()) + " m8 locked", next}, End::kFinished}},
        {"another method",
         ZipOf({item({.method = 12}), after}),
         {{"m.txt " + std::to_string(text.size()) + " m12", next}, End::kFinished}},
        {"bad CRC",
         ZipOf({item({.crcXor = 4}), after}),
         {{good + " (damaged)", next}, End::kFinished}},
        {"bad CRC in descriptor",
         ZipOf({item({.descriptor = D::kSigned, .crcXor = 4}), after}),
         {{described + " (damaged)", next}, End::kFinished}},
        {"declared a byte short",
         ZipOf({item({.sizeDelta = -1}), after}),
         {{"m.txt " + std::to_string(text.size() - 1) + " m8 " + Cut(text, 1) + " (damaged)", next},
          End::kFinished}},
        {"declared a byte long",
         ZipOf({item({.sizeDelta = 1}), after}),
         {{"m.txt " + std::to_string(text.size() + 1) + " m8 " + text + " (damaged)", next},
          End::kFinished}},
        {"stored with descriptor",
         ZipOf({item({.deflate = false, .descriptor = D::kSigned}), after}),
         {{"m.txt ? m0  (damaged)"}, End::kDamaged}},
        {"encrypted with descriptor",
         ZipOf({item({.descriptor = D::kSigned, .encrypted = true}), after}),
         {{"m.txt ? m8 locked"}, End::kDamaged}},
        {"no central directory",
         whole.substr(0, whole.find("PK\x01\x02")),
         {{good, next}, End::kDamaged}},
        {"junk after a member",
         whole.substr(0, whole.find("PK\x01\x02")) + "junk!",
         {{good, next}, End::kDamaged}},
        {"cut in the data",
         whole.substr(0, 30 + 5 + 10),
         {{"m.txt " + std::to_string(text.size()) + " m8 " + "(damaged)"}, End::kDamaged}},
        {"cut in the name", whole.substr(0, 32), {{}, End::kDamaged}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        Listed listed = ListZip(test.zip);
        if (std::string(test.name) == "cut in the data") {
            ASSERT_FALSE(listed.entries.empty());
            listed.entries[0] = listed.entries[0].substr(0, listed.entries[0].find(" m8 ") + 4) +
                                listed.entries[0].substr(listed.entries[0].rfind(' ') + 1);
        }
        EXPECT_EQ(listed, test.listed);
        EXPECT_EQ(ListZip(test.zip, 2).end, test.listed.end) << "members passed over unread";
    }
}

}  // namespace
