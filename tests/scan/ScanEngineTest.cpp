// The scanning engine on real files: signature databases of every format and how each kind of
// damage is reported; scans of folder trees (which files are read, what is reported for them, how
// a scan gets past files it cannot read) and a hash stopped by a cancel.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <functional>

#include "host/scan/EicarCheck.h"
#include "host/scan/FileHasher.h"
#include "sdk/UniqueHandle.h"
#include "tests/scan/ScanEngineFixture.h"
#include "tests/support/TestThreads.h"

namespace {

using namespace devicescan::scan;
using namespace devicescan::scan::scan_tests;

// Allowlist entries and ignored names are counted apart from signatures; an allowlist's types are
// hashed only for the sizes it lists, and only where a signature needs a file read at all.
TEST_F(ScanEngine, LoadsEveryFormatWithItsLineEndsCaseCommentsAndWildcardSizes) {
    Write(L"db",
          {{"a.hdb", kMd5 + ":3:Md5.Exact\r\n\r\n900150983CD24FB0D6963F7D28E17F72:*:Md5.Any:73\n"},
           {"feed.SHA256",
            "# a feed\n\nBA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD  "
            "Feed.Named  # note\r\n" +
                std::string(64, 'e') + "\n"}});
    Write(L"db", {{"b.HSB", kSha1 + ":3:Sha1.Exact\n" + kSha256 + ":3:Sha256.Exact"}});
    Write(L"db", {{"c.fp", kMd5 + ":3:F\n" + kMd5 + ":3:G\n"}, {"c.ign2", "X\nY:1\nX\n"}});
    Write(L"db", {{"c.sfp", kSha1 + ":4:F\n" + kSha256 + ":5:F\n"}, {"readme.md", "no database"}});
    ASSERT_EQ(Load(L"db"), std::nullopt);

    EXPECT_EQ(database.DatabaseCount(), 6u);
    EXPECT_EQ(database.Count(), 6u);
    EXPECT_EQ(database.AllowedCount(), 3u) << "an entry listed twice under two names is one";
    EXPECT_EQ(database.IgnoredCount(), 2u);
    EXPECT_EQ(Names(3, HashType::kMd5, kMd5), (Lines{"Md5.Exact", "Md5.Any"}));
    EXPECT_EQ(Names(4, HashType::kMd5, kMd5), Lines{"Md5.Any"}) << "Md5.Exact is for 3 bytes only";
    EXPECT_EQ(Names(3, HashType::kSha1, kSha1), Lines{"Sha1.Exact"});
    EXPECT_EQ(Names(3, HashType::kSha256, kSha256), (Lines{"Sha256.Exact", "Feed.Named"}));
    EXPECT_EQ(Names(9, HashType::kSha256, std::string(64, 'e')), Lines{"feed.eeeeeeeeeeee"})
        << "an unnamed entry is named after its list and its digest";
    const HashTypeMask md5AndSha256 = MaskOf(HashType::kMd5) | MaskOf(HashType::kSha256);
    EXPECT_EQ(database.NeededFor(12345), md5AndSha256)
        << "Md5.Any has the size *, a plain list's entries have none";
    EXPECT_EQ(database.NeededFor(4), md5AndSha256 | MaskOf(HashType::kSha1)) << "c.sfp's SHA-1";
    EXPECT_EQ(database.NeededFor(7, MaskOf(HashType::kSha1)),
              md5AndSha256 | MaskOf(HashType::kSha1));
    EXPECT_EQ(database.NeededFor(0), 0) << "empty files are never read";
}

// Every check, one row a kind of message: of each field of a database file (the hash signature
// fuzzer feeds the parsers every other variant of these, the host's tests a file that is not
// there), and of each piece of a container. Each names the file, the member inside, the line and
// the problem. A row's file in a subfolder stands for loading that folder.
TEST_F(ScanEngine, RefusesDamageNamingTheFileTheMemberTheLineAndTheProblem) {
    const std::string good = kMd5 + ":3:Good\n";
    const std::string hdb = kMd5 + ":3:Packed.Md5\n";
    const auto container = [](const std::string& inner) {
        return Container({{"COPYING", "c\n"}, {"daily.hdb", inner}});
    };
    const auto spoiled = [&](const std::function<void(Container&)>& spoil) {
        Container spoilt = container(hdb);
        spoil(spoilt);
        return spoilt.Bytes();
    };
    const std::string gzip = container(hdb).Bytes();
    const std::string plain = spoiled([](auto& c) { c.gzip = false; });
    const struct {
        const char* name;
        const wchar_t* file;
        std::string bytes;
        const char* where;    // after the path: " [member]" inside a container, ":line" in a file
        const char* problem;  // part of the message
    } damages[] = {
        {"MD5 too short", L"a.hdb", good + "900150983cd24fb0:3:Short\n", ":2", "not an MD5"},
        {"SHA of 50 digits", L"a.hsb", std::string(50, 'a') + ":3:Odd\n", ":1", "neither a SHA-1"},
        {"size not a number", L"a.hdb", good + good + kMd5 + ":3k:Bad\r\n", ":3", "\"3k\" is not"},
        {"size 0", L"a.hdb", kMd5 + ":0:Zero\n", ":1", "not a number above 0"},
        {"no name", L"a.hdb", kMd5 + ":3:\n", ":1", "no name"},
        {"a field too few", L"a.hdb", kMd5 + ":3\n", ":1", "found 2 field(s)"},
        {"a level not a number", L"a.hdb", kMd5 + ":3:A:high\n", ":1", "\"high\" is not"},
        {"an MD5 in a list", L"a.txt", "# list\n" + kMd5 + " Md5\n", ":2", "is not a SHA-256"},
        {"a folder with no database", L"empty\\notes.md", "nothing to load", "", ""},
        {"a format we do not read", L"sigs.ndb", "a signature format we do not read", "", ""},
        {"the header's MD5 differs", L"daily.cvd",
         spoiled([](auto& c) { c.md5 = std::string(32, 'a'); }), "", "the MD5 of the"},
        {"a .cvd without an MD5", L"daily.cvd", spoiled([](auto& c) { c.md5 = "X"; }), "",
         "gives no MD5"},
        {"a byte after the archive changed", L"daily.cvd", plain + "x", "", "the MD5 of the"},
        {"a listed size differs", L"daily.cld", spoiled([](auto& c) { c.info[1][10] = '9'; }),
         " [daily.hdb]", "the list says 96"},  // "daily.hdb:46:" made 96
        {"a listed SHA-256 differs", L"daily.cud",
         spoiled([](auto& c) { c.info[1].replace(c.info[1].rfind(':') + 1, 64, 64, 'f'); }),
         " [daily.hdb]", "SHA-256"},
        {"a listed file is missing", L"daily.cvd",
         spoiled([](auto& c) { c.info.push_back("daily.hsb:1:" + std::string(64, '0')); }),
         " [daily.hsb]", "missing"},
        {"a file is not listed", L"daily.cvd",
         spoiled([](auto& c) { c.files.emplace_back("daily.ndb", "x"); }), " [daily.ndb]",
         "not in the container's list"},
        {"no list at all", L"daily.cld", spoiled([](auto& c) { c.infoName = "daily.lst"; }), "",
         "no .info"},
        {"a file twice", L"daily.cld", spoiled([](auto& c) { c.files.push_back(c.files[1]); }),
         " [daily.hdb]", "twice"},
        {"a file in a folder", L"daily.cld",
         spoiled([&](auto& c) { c.files.emplace_back("sub/daily.hdb", hdb); }), " [sub/daily.hdb]",
         "not a plain file"},
        {"a malformed signature inside", L"daily.cvd", container(hdb + "123:3:Bad\n").Bytes(),
         " [daily.hdb]:2", "not an MD5"},
        {"a signature line without end", L"daily.cld",
         container(std::string(20 << 20, 'a')).Bytes(), " [daily.hdb]:1", "longer than 16 MiB"},
        {"a malformed list line", L"daily.cvd", spoiled([](auto& c) { c.info.push_back("x:3"); }),
         " [daily.info]:3", "NAME:SIZE:SHA256"},
        {"gzip'd, cut short", L"daily.cvd", gzip.substr(0, gzip.size() - 30), " [daily.hdb]",
         "cut short"},
        {"plain, cut after the list", L"daily.cld", plain.substr(0, 512 + 512 * 4), " [daily.hdb]",
         "missing"},
        {"gzip'd, a flipped byte", L"daily.cld",
         std::string(gzip).replace(gzip.size() - 6, 1, "\xFF"), "", "damaged"},
        {"a header cut short", L"daily.cvd", gzip.substr(0, 300), "", "shorter than"},
        {"a NUL in the header's padding", L"daily.cvd", std::string(gzip).replace(500, 1, 1, '\0'),
         "", "not printable"},
        {"a field too few in the header", L"daily.cvd",
         std::string(gzip).replace(gzip.find(":tester"), 7, "       "), "", "8 fields"},
    };
    int row = 0;
    for (const auto& damage : damages) {
        SCOPED_TRACE(damage.name);
        const std::wstring folder = L"r" + std::to_wstring(++row) + L"\\";
        tree.Write(folder + damage.file, damage.bytes);
        const std::wstring loaded = folder + std::wstring(damage.file, wcscspn(damage.file, L"\\"));
        const auto error = Load(loaded);
        ASSERT_TRUE(error.has_value());
        // The message is made of the error's path, member and line: its start checks all three.
        const std::string message = qv::ToUtf8(error->Message());
        const std::string where = qv::ToUtf8(tree.Path(loaded)) + damage.where + ": ";
        EXPECT_EQ(message.substr(0, where.size()), where);
        EXPECT_NE(message.find(damage.problem), std::string::npos) << message;
    }
}

// A Unix symbolic link named up to the folder it is in, made and removed by the system's ln and
// rm. Wine 8 makes no link itself (CreateSymbolicLinkW answers TRUE and makes nothing, a
// junction's FSCTL_SET_REPARSE_POINT fails with 50) but lists a Unix link to a folder as a folder
// with FILE_ATTRIBUTE_REPARSE_POINT.
struct UnixLinkUp {
    explicit UnixLinkUp(const std::wstring& folder) : folder(folder) {}
    ~UnixLinkUp() { Run(L"Z:\\bin\\rm", L"rm up", false); }
    // Runs the program in the folder and waits until the link is there, or gone, as linked says.
    bool Run(const wchar_t* program, const wchar_t* command, bool linked) const {
        return test_support::RanUnixProgram(program, command, folder.c_str(), [&] {
            const DWORD attributes = GetFileAttributesW((folder + L"\\up").c_str());
            return (attributes != INVALID_FILE_ATTRIBUTES &&
                    (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) == linked;
        });
    }

    const std::wstring folder;
    const bool made = Run(L"Z:\\bin\\ln", L"ln -s .. up", true);  // once folder is set
};

// One tree for the reporting rules, for the size filter (only files of a listed size are read)
// and for what a scan must get past: a locked file, "abc" again in a non-ASCII name at a path
// beyond MAX_PATH, and a link back to the root, counted as a folder and never entered (entered,
// the walk would go round until the path no longer resolves).
TEST_F(ScanEngine, ReportsEachNameOnceWithTheHashThatMatchedPastLockedFilesLongPathsAndLinks) {
    Write(L"db", {{"a.hdb", kMd5 + ":3:Test.Md5\n"},
                  {"b.hsb", kSha1 + ":3:Test.Sha1\n" + kSha256 + ":3:Test.Sha256\n" + kSha256 +
                                ":3:Test.Md5\n"}});
    ASSERT_EQ(Load(L"db"), std::nullopt);
    Write(L"v\\a", {{"abc.bin", "abc"}, {"other.bin", "abd"}, {"short.bin", "ab"}, {"empty", ""}});
    tree.Write(L"v\\a\\unread.bin", std::string(10, 'x'));
    const std::wstring longName = L"v\\\u00e9t\u00e9\\" + std::wstring(150, L'a') + L"\\" +
                                  std::wstring(150, L'b') +
                                  L"\\\u0444\u0430\u0439\u043b-\u6587\u4ef6.bin";
    ASSERT_GT(tree.Path(longName).size(), static_cast<std::size_t>(MAX_PATH));
    tree.Write(longName, "abc");
    tree.Write(L"v\\locked.bin", "abc");
    const qv::UniqueHandle lock(CreateFileW(tree.Path(L"v\\locked.bin").c_str(), GENERIC_READ, 0,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock.IsValid());
    const UnixLinkUp link(tree.Path(L"v\\a"));
    ASSERT_TRUE(link.made);

    auto [result, detections, names] = Scan(L"v");
    EXPECT_EQ(result.outcome, FolderScanner::Outcome::kFinished);
    Lines expected;
    for (const std::wstring& file : {tree.Path(L"v\\a\\abc.bin"), tree.Path(longName)}) {
        const std::string path = qv::ToUtf8(file);
        expected.insert(expected.end(), {path + " Test.Md5 md5 " + kMd5 + " 3",
                                         path + " Test.Sha1 sha1 " + kSha1 + " 3",
                                         path + " Test.Sha256 sha256 " + kSha256 + " 3"});
    }
    std::sort(detections.begin(), detections.end());  // the walk's order is the file system's
    EXPECT_EQ(detections, expected);
    EXPECT_EQ(result.counts.threats, 6u);
    EXPECT_EQ(result.counts.files, 7u);
    EXPECT_EQ(result.counts.bytes, 24u);
    EXPECT_EQ(result.counts.hashedBytes, 9u) << "the three files of 3 bytes that could be opened";
    EXPECT_EQ(result.counts.errors, 1u) << "the locked file";
    EXPECT_EQ(result.counts.directories, 5u) << "a, the link and the three on the long path";
}

// What one file reports. Allowlists (.fp in the MD5 form, .sfp in the SHA forms) clear a file or an
// archive's member of every name, by any of its digests, at the listed size or any; ignore lists
// (.ign2) drop names; the built-in test file is found only as defined (its text, then at most
// white space up to 128 bytes). Each row is its own database folder and one scanned file; hashed
// counts the bytes read, so a size that only an allowlist lists must cost no read.
TEST_F(ScanEngine, ReportsOneFileAsAllowlistsIgnoreListsAndTheBuiltinCheckDecide) {
    const std::string abc = "abc";
    const std::string eicar = EicarCheck::Text();
    const std::string gzipped = test_support::GzipOf(abc);
    const std::pair<std::string, std::string> md5{"a.hdb", kMd5 + ":3:Test.Md5\n"};
    const std::pair<std::string, std::string> sha256{"a.hsb", kSha256 + ":3:Test.Sha256\n"};
    const Lines builtin{EicarCheck::kName};
    constexpr std::uint64_t kAnyCount = ~std::uint64_t{0};  // an archive's bytes: not checked
    const struct {
        const char* name;
        Files databases;
        std::string content;
        Lines found;
        std::uint64_t hashed;
    } rows[] = {
        {"sfp SHA-1 clears an MD5 and a SHA-256 match",
         Files{md5, sha256, {"b.sfp", kSha1 + ":3:Fine\n"}}, abc, Lines{}, 3},
        {"sfp SHA-256 of any size clears a list entry",
         Files{{"a.sha256", kSha256 + " Listed\n"}, {"b.SFP", kSha256 + ":*:Fine:73\r\n"}}, abc,
         Lines{}, 3},
        {"fp of any size clears an exact match", Files{sha256, {"b.fp", kMd5 + ":*:Fine\n"}}, abc,
         Lines{}, 3},
        {"fp of another size clears nothing", Files{sha256, {"b.fp", kMd5 + ":4:Fine\n"}}, abc,
         Lines{"Test.Sha256"}, 3},
        {"fp of another digest clears nothing",
         Files{md5, {"b.fp", HexOf(HashType::kMd5, "abd") + ":3:Fine\n"}}, abc, Lines{"Test.Md5"},
         3},
        {"fp clears the built-in test file",
         Files{{"b.fp", HexOf(HashType::kMd5, eicar) + ":68:Fine\n"}}, eicar, Lines{}, 68},
        {"a size listed by an allowlist only is not read",
         Files{md5, {"b.fp", HexOf(HashType::kMd5, "abcd") + ":4:Fine\n"}}, "abcd", Lines{}, 0},
        {"ign2 drops one name, whatever follows a colon, and keeps the others",
         Files{md5, sha256, {"c.ign2", "\xEF\xBB\xBF\n  Test.Md5 :1:a\r\n\n"}}, abc,
         Lines{"Test.Sha256"}, 3},
        {"ign2 drops the built-in name", Files{{"c.ign2", std::string(EicarCheck::kName) + "\n"}},
         eicar, Lines{}, 68},
        {"fp clears a member of a gzip stream", Files{sha256, {"b.fp", kMd5 + ":3:Fine\n"}},
         gzipped, Lines{}, kAnyCount},
        {"ign2 drops a name found in a member", Files{md5, sha256, {"c.ign2", "Test.Md5\n"}},
         gzipped, Lines{"Test.Sha256"}, kAnyCount},
        {"the built-in test file", Files{md5}, eicar, builtin, 68},
        {"the test file and white space", Files{md5}, eicar + "\r\n \t\n", builtin, 73},
        {"the test file padded to 128", Files{md5}, eicar + std::string(60, ' '), builtin, 128},
        {"the test file padded to 129", Files{md5}, eicar + std::string(61, ' '), Lines{}, 0},
        {"the test file less a character", Files{md5}, eicar.substr(0, 67), Lines{}, 0},
        {"text before the test file", Files{md5}, "x" + eicar, Lines{}, 69},
        {"text after the test file", Files{md5}, eicar + " x", Lines{}, 70},
    };
    int row = 0;
    for (const auto& test : rows) {
        SCOPED_TRACE(test.name);
        const std::wstring folder = L"r" + std::to_wstring(++row);
        Write(folder + L"\\db", test.databases);
        tree.Write(folder + L"\\v\\file.bin", test.content);
        ASSERT_EQ(Load(folder + L"\\db"), std::nullopt);
        EXPECT_EQ(database.DatabaseCount(), test.databases.size());
        const Scanned scanned = Scan(folder + L"\\v");
        EXPECT_EQ(scanned.names, test.found);
        // The test file is reported with the SHA-256 and the size of the whole file.
        const std::string builtinFound = " builtin " + HexOf(HashType::kSha256, test.content) +
                                         " " + std::to_string(test.content.size());
        EXPECT_TRUE(test.found != builtin || scanned.detections.at(0).ends_with(builtinFound))
            << testing::PrintToString(scanned.detections);
        EXPECT_TRUE(test.hashed == kAnyCount || scanned.result.counts.hashedBytes == test.hashed)
            << scanned.result.counts.hashedBytes;
    }
}

TEST_F(ScanEngine, HashStopsWithinOneBlockOfACancelInTheMiddleOfALargeFile) {
    const qv::UniqueHandle file(CreateFileW(tree.Path(L"large.bin").c_str(),
                                            GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                            CREATE_ALWAYS, 0, nullptr));
    constexpr LONGLONG kSize = 1LL << 30;  // a few seconds of hashing
    FILE_END_OF_FILE_INFO end{.EndOfFile = {.QuadPart = kSize}};
    ASSERT_TRUE(SetFileInformationByHandle(file.Get(), FileEndOfFileInfo, &end, sizeof end));

    CancelFlag cancel;
    FileHasher::Result result;
    test_support::Actor hasher;
    hasher.Start(
        [&] { result = FileHasher().Hash(file.Get(), MaskOf(HashType::kSha256), cancel); });
    // The file position is the hasher's: once it has read a few blocks, cancel.
    LARGE_INTEGER position{};
    const auto read = [&] {
        SetFilePointerEx(file.Get(), {}, &position, FILE_CURRENT);
        return static_cast<std::uint64_t>(position.QuadPart);
    };
    test_support::WaitUntil([&] { return read() >= 4 * FileHasher::kBlockSize; }, 30000);
    cancel.Set();
    const std::uint64_t readWhenCancelled = read();
    ASSERT_TRUE(hasher.Finished(30000));

    ASSERT_EQ(result.outcome, FileHasher::Outcome::kCancelled);
    EXPECT_LE(result.bytesRead, readWhenCancelled + FileHasher::kBlockSize);
    EXPECT_LT(result.bytesRead, static_cast<std::uint64_t>(kSize));
}

}  // namespace
