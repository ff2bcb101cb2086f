// Loading signature databases of every format from real files: what is found by which size,
// and how each kind of damage is reported.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scan/DatabaseLoader.h"
#include "sdk/Utf8.h"
#include "tests/host/TempTree.h"

namespace {

using devicescan::scan::DatabaseError;
using devicescan::scan::DatabaseLoader;
using devicescan::scan::Digest;
using devicescan::scan::HashType;
using devicescan::scan::MaskOf;
using devicescan::scan::SignatureDatabase;

// The digests of "abc".
constexpr const char* kMd5 = "900150983cd24fb0d6963f7d28e17f72";
constexpr const char* kSha1 = "a9993e364706816aba3e25717850c26c9cd0d89d";
constexpr const char* kSha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

Digest DigestOf(HashType type, const char* hex) {
    Digest digest;
    EXPECT_TRUE(Digest::FromHex(hex, type, digest));
    return digest;
}

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

class DatabaseLoading : public ::testing::Test {
  protected:
    std::optional<DatabaseError> Load(const std::wstring& relative) {
        std::optional<DatabaseError> error = DatabaseLoader(database).Load(tree.Path(relative));
        database.Seal();
        return error;
    }

    std::vector<std::string> Names(std::uint64_t size, HashType type, const char* hex) const {
        std::vector<std::string> names;
        database.Find(size, DigestOf(type, hex), names);
        return names;
    }

    TempTree tree;
    SignatureDatabase database;
};

TEST_F(DatabaseLoading, ReadsEveryFormatWithItsLineEndsCaseAndComments) {
    tree.Write(L"db\\a.hdb",
               std::string(kMd5) + ":3:Md5.Exact\r\n\r\n" + Upper(kMd5) + ":*:Md5.Any:73\n");
    tree.Write(L"db\\b.HSB", std::string(kSha1) + ":3:Sha1.Exact\n" + kSha256 + ":3:Sha256.Exact");
    tree.Write(L"db\\feed.sha256", "# a feed\n\n" + Upper(kSha256) + "  Feed.Named  # note\r\n" +
                                       std::string(64, 'e') + "\n");
    tree.Write(L"db\\readme.md", "not a database: ignored in a folder");
    ASSERT_EQ(Load(L"db"), std::nullopt);

    EXPECT_EQ(database.DatabaseCount(), 3u);
    EXPECT_EQ(database.Count(), 6u);
    EXPECT_EQ(Names(3, HashType::kMd5, kMd5), (std::vector<std::string>{"Md5.Exact", "Md5.Any"}));
    EXPECT_EQ(Names(3, HashType::kSha1, kSha1), std::vector<std::string>{"Sha1.Exact"});
    EXPECT_EQ(Names(3, HashType::kSha256, kSha256),
              (std::vector<std::string>{"Sha256.Exact", "Feed.Named"}));
    EXPECT_EQ(Names(9, HashType::kSha256, std::string(64, 'e').c_str()),
              std::vector<std::string>{"feed.eeeeeeeeeeee"})
        << "an unnamed entry is named after its list and its digest";
}

TEST_F(DatabaseLoading, SizeDecidesWhichHashesAFileNeeds) {
    tree.Write(L"sizes.hdb", std::string(kMd5) + ":3:Small\n" + kMd5 + ":70000:Large\n");
    tree.Write(L"any.hsb", std::string(kSha1) + ":*:Anywhere\n");
    ASSERT_EQ(DatabaseLoader(database).Load(tree.Path(L"sizes.hdb")), std::nullopt);
    database.Seal();
    EXPECT_EQ(database.NeededFor(3), MaskOf(HashType::kMd5));
    EXPECT_EQ(database.NeededFor(4), 0) << "no signature of that size: the file is not read";
    EXPECT_EQ(Names(4, HashType::kMd5, kMd5), std::vector<std::string>{})
        << "a listed hash with another size is not a match";
    EXPECT_EQ(Names(70000, HashType::kMd5, kMd5), std::vector<std::string>{"Large"});

    SignatureDatabase withAny;
    ASSERT_EQ(DatabaseLoader(withAny).Load(tree.Path(L"any.hsb")), std::nullopt);
    withAny.Seal();
    EXPECT_EQ(withAny.NeededFor(12345), MaskOf(HashType::kSha1));
    EXPECT_EQ(withAny.NeededFor(0), 0) << "empty files are never read";
}

struct Damage {
    const char* name;
    const wchar_t* file;
    std::string content;
    std::uint64_t line;
    const char* problem;  // part of the message
};

void PrintTo(const Damage& damage, std::ostream* out) {
    *out << damage.name;
}

const std::string kGood = std::string(kMd5) + ":3:Good\n";

const Damage kDamages[] = {
    {"ShortMd5", L"x.hdb", kGood + "900150983cd24fb0:3:Short\n", 2, "not an MD5"},
    {"Sha256InHdb", L"x.hdb", std::string(kSha256) + ":3:Wrong\n", 1, "not an MD5"},
    {"OddLengthInHsb", L"x.hsb", std::string(50, 'a') + ":3:Odd\n", 1, "neither a SHA-1"},
    {"NotHex", L"x.hsb", std::string(39, 'a') + "g:3:NotHex\n", 1, "neither a SHA-1"},
    {"SizeNotANumber", L"x.hdb", kGood + kGood + std::string(kMd5) + ":3k:Bad\r\n", 3,
     "\"3k\" is not a number"},
    {"SizeZero", L"x.hdb", std::string(kMd5) + ":0:Zero\n", 1, "not a number above 0"},
    {"NoName", L"x.hdb", std::string(kMd5) + ":3:\n", 1, "no name"},
    {"TooFewFields", L"x.hdb", std::string(kMd5) + ":3\n", 1, "found 2 field(s)"},
    {"TooManyFields", L"x.hdb", std::string(kMd5) + ":3:A:1:2\n", 1, "found 5 field(s)"},
    {"LevelNotANumber", L"x.hdb", std::string(kMd5) + ":3:A:high\n", 1, "\"high\" is not"},
    {"ListLineNotSha256", L"x.txt", "# list\n" + std::string(kMd5) + " Md5\n", 2,
     "is not a SHA-256"},
};

class DamagedDatabase : public DatabaseLoading, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedDatabase, NamesFileLineAndProblem) {
    const Damage& damage = GetParam();
    tree.Write(damage.file, damage.content);
    const auto error = Load(damage.file);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->path, tree.Path(damage.file));
    EXPECT_EQ(error->line, damage.line);
    const std::string message = qv::ToUtf8(error->Message());
    EXPECT_NE(
        message.find(qv::ToUtf8(tree.Path(damage.file)) + ":" + std::to_string(damage.line) + ": "),
        std::string::npos)
        << message;
    EXPECT_NE(message.find(damage.problem), std::string::npos) << message;
}

INSTANTIATE_TEST_SUITE_P(, DamagedDatabase, ::testing::ValuesIn(kDamages),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DatabaseLoading, RefusesWhatIsNoDatabase) {
    tree.Write(L"empty\\notes.md", "nothing to load");
    tree.Write(L"sigs.ndb", "a signature format we do not read");
    for (const wchar_t* path : {L"missing.hdb", L"empty", L"sigs.ndb"}) {
        SignatureDatabase fresh;
        const auto error = DatabaseLoader(fresh).Load(tree.Path(path));
        ASSERT_TRUE(error.has_value()) << qv::ToUtf8(path);
        EXPECT_EQ(error->path, tree.Path(path));
        EXPECT_EQ(error->line, 0u);
    }
}

}  // namespace
