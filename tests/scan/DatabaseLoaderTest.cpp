// Loading signature databases of every format from real files: what is found by which size,
// and how each kind of damage is reported.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/scan/DatabaseLoader.h"
#include "sdk/Utf8.h"
#include "tests/host/TempTree.h"

namespace {

using namespace devicescan::scan;

// The digests of "abc".
constexpr const char* kMd5 = "900150983cd24fb0d6963f7d28e17f72";
constexpr const char* kSha1 = "a9993e364706816aba3e25717850c26c9cd0d89d";
constexpr const char* kSha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

class DatabaseLoading : public ::testing::Test {
  protected:
    std::optional<DatabaseError> Load(const std::wstring& relative) {
        auto error = DatabaseLoader(database).Load(tree.Path(relative));
        database.Seal();
        return error;
    }

    std::vector<std::string> Names(std::uint64_t size, HashType type, const char* hex) const {
        Digest digest;
        EXPECT_TRUE(Digest::FromHex(hex, type, digest));
        std::vector<std::string> names;
        database.Find(size, digest, names);
        return names;
    }

    TempTree tree;
    SignatureDatabase database;
};

TEST_F(DatabaseLoading, ReadsEveryFormatWithItsLineEndsCaseCommentsAndWildcardSizes) {
    tree.Write(L"db\\a.hdb", std::string(kMd5) + ":3:Md5.Exact\r\n\r\n" +
                                 "900150983CD24FB0D6963F7D28E17F72" + ":*:Md5.Any:73\n");
    tree.Write(L"db\\b.HSB", std::string(kSha1) + ":3:Sha1.Exact\n" + kSha256 + ":3:Sha256.Exact");
    tree.Write(L"db\\feed.sha256",
               "# a feed\n\nBA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD  "
               "Feed.Named  # note\r\n" +
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
    EXPECT_EQ(database.NeededFor(12345), MaskOf(HashType::kMd5) | MaskOf(HashType::kSha256))
        << "Md5.Any has the size *, a plain list's entries have none";
    EXPECT_EQ(database.NeededFor(0), 0) << "empty files are never read";
}

TEST_F(DatabaseLoading, SizeDecidesWhichHashesAFileNeeds) {
    tree.Write(L"sizes.hdb", std::string(kMd5) + ":3:Small\n" + kMd5 + ":70000:Large\n");
    ASSERT_EQ(Load(L"sizes.hdb"), std::nullopt);
    EXPECT_EQ(database.NeededFor(3), MaskOf(HashType::kMd5));
    EXPECT_EQ(database.NeededFor(4), 0) << "no signature of that size: the file is not read";
    EXPECT_EQ(Names(4, HashType::kMd5, kMd5), std::vector<std::string>{})
        << "a listed hash with another size is not a match";
    EXPECT_EQ(Names(70000, HashType::kMd5, kMd5), std::vector<std::string>{"Large"});
}

TEST_F(DatabaseLoading, RefusesDamageNamingTheFileTheLineAndTheProblem) {
    const std::string good = std::string(kMd5) + ":3:Good\n";
    const struct {
        const wchar_t* file;  // loaded; written first unless content is empty
        std::string content;
        std::uint64_t line;   // 0: the file as a whole
        const char* problem;  // part of the message
    } damages[] = {
        {L"short.hdb", good + "900150983cd24fb0:3:Short\n", 2, "not an MD5"},
        {L"sha256.hdb", std::string(kSha256) + ":3:Wrong\n", 1, "not an MD5"},
        {L"odd.hsb", std::string(50, 'a') + ":3:Odd\n", 1, "neither a SHA-1"},
        {L"hex.hsb", std::string(39, 'a') + "g:3:NotHex\n", 1, "neither a SHA-1"},
        {L"size.hdb", good + good + std::string(kMd5) + ":3k:Bad\r\n", 3, "\"3k\" is not a number"},
        {L"zero.hdb", std::string(kMd5) + ":0:Zero\n", 1, "not a number above 0"},
        {L"noname.hdb", std::string(kMd5) + ":3:\n", 1, "no name"},
        {L"few.hdb", std::string(kMd5) + ":3\n", 1, "found 2 field(s)"},
        {L"many.hdb", std::string(kMd5) + ":3:A:1:2\n", 1, "found 5 field(s)"},
        {L"level.hdb", std::string(kMd5) + ":3:A:high\n", 1, "\"high\" is not"},
        {L"list.txt", "# list\n" + std::string(kMd5) + " Md5\n", 2, "is not a SHA-256"},
        {L"missing.hdb", "", 0, ""},
        {L"empty", "", 0, ""},  // a folder with no database in it
        {L"sigs.ndb", "a signature format we do not read", 0, ""},
    };
    tree.Write(L"empty\\notes.md", "nothing to load");
    for (const auto& damage : damages) {
        const std::wstring path = tree.Path(damage.file);
        SCOPED_TRACE(qv::ToUtf8(path));
        if (!damage.content.empty()) {
            tree.Write(damage.file, damage.content);
        }
        SignatureDatabase fresh;
        const auto error = DatabaseLoader(fresh).Load(path);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->path, path);
        EXPECT_EQ(error->line, damage.line);
        const std::string message = qv::ToUtf8(error->Message());
        const std::string where = qv::ToUtf8(path) + ":" + std::to_string(damage.line) + ": ";
        EXPECT_TRUE(damage.line == 0 || message.find(where) != std::string::npos) << message;
        EXPECT_NE(message.find(damage.problem), std::string::npos) << message;
    }
}

}  // namespace
