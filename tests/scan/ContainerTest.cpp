// Signature containers built at run time: each format (gzip'd or plain tar, .cvd, .cld, .cud, one
// made by sigtool itself) loads what it may and counts what it passes over; every check refuses a
// container naming the file inside at fault; of two containers of one database the newer loads.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "tests/scan/ScanEngineFixture.h"
#include "tests/support/TestThreads.h"

namespace {

using namespace devicescan::scan;
using namespace devicescan::scan::scan_tests;

class Containers : public ScanEngine {};

// Builds daily.cud from the files in folder with sigtool; the command ends by writing a file,
// which is waited for, up to a minute.
bool BuiltBySigtool(const std::wstring& folder) {
    const std::wstring built = folder + L"\\built";
    return test_support::RanUnixProgram(
        L"Z:\\bin\\sh",
        L"sh -c \"printf '1\\n' | SIGNDUSER=tester sigtool --build=daily.cud --unsigned "
        L">/dev/null 2>&1 && touch built\"",
        folder.c_str(),
        [&] { return GetFileAttributesW(built.c_str()) != INVALID_FILE_ATTRIBUTES; }, 60000);
}

// Every kind a container may hold, loaded or counted, from every format: the plain and gzip'd
// .cvd (by any case of its name), .cld and .cud, and last a .cud that sigtool built, which takes
// only the files of the database's own name (not extra.ndb).
TEST_F(Containers, LoadEveryFormatHonouringAllowlistsAndIgnoreListsAndCountingSkippedKinds) {
    const std::string abd = "abd";
    const Files everyKind{
        {"COPYING", "licence text\n"},
        {"daily.hdb", kMd5 + ":3:Packed.Md5\n" + HexOf(HashType::kMd5, abd) + ":3:Packed.Abd\n"},
        {"daily.hsb", kSha256 + ":3:Packed.Sha256\n"},
        {"daily.hdu", HexOf(HashType::kMd5, "abcd") + ":4:Packed.Hdu\n"},
        {"daily.hsu", HexOf(HashType::kSha1, "abcd") + ":4:Packed.Hsu\n"},
        {"daily.fp", HexOf(HashType::kMd5, abd) + ":3:Fine\n"},
        {"daily.sfp", HexOf(HashType::kSha256, "abcde") + ":*:Fine:73\n"},
        {"daily.ign2", "Packed.Sha256\nOther.Name:" + kMd5 + "\n"},
        {"daily.ndb", "Sig:0:*:414243\n"},
        {"extra.ndb", "Sig2:0:*:414244\n"},
        {"daily.ldb", "L;Engine:51-255,Target:0;0;414243\n"},
        {"daily.cfg", "DOMAIN:1\n"},
    };
    const struct {
        const wchar_t* file;
        bool gzip;
        bool sigtool = false;
    } formats[] = {{L"daily.cvd", true}, {L"daily.cld", false}, {L"daily.cld", true},
                   {L"daily.cud", true}, {L"daily.CVD", false}, {L"daily.cud", true, true}};
    int row = 0;
    for (const auto& format : formats) {
        const std::wstring folder = L"f" + std::to_wstring(++row);
        SCOPED_TRACE(qv::ToUtf8(folder));  // the row's number
        if (!format.sigtool) {
            Container container(everyKind);
            container.gzip = format.gzip;
            tree.Write(folder + L"\\" + format.file, container.Bytes());
        } else if (GetFileAttributesW(L"Z:\\usr\\bin\\sigtool") == INVALID_FILE_ATTRIBUTES) {
            GTEST_SKIP() << "no sigtool here (it runs under Wine only)";
        } else {
            Write(folder, everyKind);
            ASSERT_TRUE(BuiltBySigtool(tree.Path(folder)));
        }
        Write(folder + L"\\v", {{"abc.bin", "abc"}, {"abd.bin", abd}, {"abcd.bin", "abcd"}});
        ASSERT_EQ(Load(folder + L"\\" + format.file), std::nullopt);
        EXPECT_EQ(database.DatabaseCount(), 1u);
        EXPECT_EQ(database.Count(), 5u);
        EXPECT_EQ(database.AllowedCount(), 2u);
        EXPECT_EQ(database.IgnoredCount(), 2u);
        const std::uint64_t ndb = format.sigtool ? 1 : 2;
        EXPECT_EQ(database.SkippedKinds(), (std::vector<std::pair<std::string, std::uint64_t>>{
                                               {".cfg", 1}, {".ldb", 1}, {".ndb", ndb}}));
        Lines found = Scan(folder + L"\\v").names;
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, (Lines{"Packed.Hdu", "Packed.Hsu", "Packed.Md5"}))
            << "Packed.Sha256 is ignored, abd.bin allowed";
    }
}

// About 14 MB of signatures, read a megabyte at a time: from a file of its own, and inside a
// .cvd, gzip'd or plain, whose files of many blocks are hashed on another thread while they are
// parsed (the digests still come out of the blocks in order, for the files inside and the .cvd
// alike). Every entry is found, including those cut by a block's end; a name longer than a block
// loads whole; a damaged line after all of them is reported with its own number.
TEST_F(Containers, LoadLinesCutByReadBlocksWhileHashingThemBeside) {
    constexpr int kLines = 120000;
    std::string hsb;
    char hex[96];
    for (int i = 1; i <= kLines; ++i) {
        std::snprintf(hex, sizeof hex, "%064x:%d:Big.%d\n", i, i, i);
        hsb += hex;
    }
    hsb += std::string(64, 'e') + ":1:" + std::string(3 << 20, 'n') + "\r\n";
    Container container({{"big.hsb", hsb}, {"big.ndb", std::string(3 << 20, 'n')}});
    tree.Write(L"g\\big.cvd", container.Bytes());
    container.gzip = false;
    tree.Write(L"p\\big.cvd", container.Bytes());
    Write(L"f", {{"big.hsb", hsb}, {"bad.hsb", hsb + "not-a-hash\n"}});
    for (const wchar_t* file : {L"f\\big.hsb", L"g\\big.cvd", L"p\\big.cvd"}) {
        SCOPED_TRACE(qv::ToUtf8(file));
        ASSERT_EQ(Load(file), std::nullopt);
        EXPECT_EQ(database.Count(), kLines + 1u);
        int missing = 0;
        for (int i = 1; i <= kLines; ++i) {
            std::snprintf(hex, sizeof hex, "%064x", i);
            missing += Names(i, HashType::kSha256, hex) != Lines{"Big." + std::to_string(i)};
        }
        EXPECT_EQ(missing, 0);
        EXPECT_EQ(Names(1, HashType::kSha256, std::string(64, 'e')),
                  Lines{std::string(3 << 20, 'n')});
    }
    EXPECT_EQ(Load(L"f\\bad.hsb").value_or(DatabaseError{}).line, kLines + 2u);
}

// Of containers of one database (one name, in any case) only the highest version loads, at equal
// versions the .cvd, then the .cld; the others are not read past their headers, which are all
// that is written of them. Six databases in one folder, each loading its own choice.
TEST_F(Containers, LoadOnlyTheHighestVersionOfEachDatabaseInAFolder) {
    const struct {
        const wchar_t* file;
        std::uint64_t version;
        bool chosen;
    } containers[] = {
        {L"a.cvd", 5, false}, {L"a.cld", 7, true},  {L"b.cvd", 7, true},  {L"b.cld", 5, false},
        {L"c.cvd", 7, true},  {L"C.cld", 7, false}, {L"d.cvd", 3, false}, {L"d.cud", 4, true},
        {L"e.cld", 2, true},  {L"E.cud", 2, false}, {L"f.cvd", 9, false}, {L"f.cld", 10, false},
        {L"f.cud", 11, true},
    };
    Lines loaded;
    for (const auto& [file, version, chosen] : containers) {
        const std::string name = qv::ToUtf8(file) + "." + std::to_string(version);
        const std::string bytes =
            Container({{"x.hdb", kMd5 + ":3:" + name + "\n"}}, version).Bytes();
        tree.Write(L"v\\" + std::wstring(file), chosen ? bytes : bytes.substr(0, 600));
        if (chosen) {
            loaded.push_back(name);
        }
    }
    ASSERT_EQ(Load(L"v"), std::nullopt);
    EXPECT_EQ(database.DatabaseCount(), 6u);
    Lines names = Names(3, HashType::kMd5, kMd5);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, loaded);
}

}  // namespace
