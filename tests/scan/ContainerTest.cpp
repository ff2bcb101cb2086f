// Signature containers built at run time: each format (gzip'd or plain tar, .cvd, .cld, .cud, one
// made by sigtool itself) loads what it may and counts what it passes over; every check refuses a
// container naming the file inside at fault; of two containers of one database the newer loads.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/scan/ScanEngineFixture.h"
#include "tests/support/ContainerWriter.h"

namespace {

using namespace devicescan::scan;
using namespace devicescan::scan::scan_tests;
using ::test_support::Container;

class Containers : public ScanEngine {};

// Builds daily.cud from the files in folder with sigtool, a Unix program: Wine starts it through
// sh in that folder but gives no handle that waits for it, so the command ends by writing a file,
// which is waited for. False when that has not happened within a minute.
bool BuiltBySigtool(const std::wstring& folder) {
    std::wstring line =
        L"sh -c \"printf '1\\n' | SIGNDUSER=tester sigtool --build=daily.cud --unsigned "
        L">/dev/null 2>&1 && touch built\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(L"Z:\\bin\\sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int waited = 0; waited < 60000; waited += 50) {
        if (GetFileAttributesW((folder + L"\\built").c_str()) != INVALID_FILE_ATTRIBUTES) {
            return true;
        }
        Sleep(50);
    }
    return false;
}

// Every kind a container may hold, loaded or counted, from every format: the plain and gzip'd
// .cvd (by any case of its name), .cld and .cud, and last a .cud that sigtool built, which takes
// only the files of the database's own name (not extra.ndb).
TEST_F(Containers, LoadEveryFormatHonouringAllowlistsAndIgnoreListsAndCountingSkippedKinds) {
    const std::string abd = "abd";
    const Files everyKind{
        {"COPYING", "licence text\n"},
        {"daily.hdb",
         std::string(kMd5) + ":3:Packed.Md5\n" + HexOf(HashType::kMd5, abd) + ":3:Packed.Abd\n"},
        {"daily.hsb", std::string(kSha256) + ":3:Packed.Sha256\n"},
        {"daily.hdu", HexOf(HashType::kMd5, "abcd") + ":4:Packed.Hdu\n"},
        {"daily.hsu", HexOf(HashType::kSha1, "abcd") + ":4:Packed.Hsu\n"},
        {"daily.fp", HexOf(HashType::kMd5, abd) + ":3:Fine\n"},
        {"daily.sfp", HexOf(HashType::kSha256, "abcde") + ":*:Fine:73\n"},
        {"daily.ign2", "Packed.Sha256\nOther.Name:" + std::string(kMd5) + "\n"},
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
        SCOPED_TRACE(testing::Message() << format.file << (format.gzip ? " gzip'd" : " plain")
                                        << (format.sigtool ? " by sigtool" : ""));
        const std::wstring folder = L"f" + std::to_wstring(++row);
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

// Files of many megabytes are hashed a block at a time on another thread while they are parsed:
// the digests still come out of the blocks in order, for the files inside and the .cvd alike.
TEST_F(Containers, LoadFilesOfManyBlocksWhileHashingThemBeside) {
    constexpr int kLines = 120000;  // about 10 MB
    std::string hsb;
    char line[96];
    for (int i = 1; i <= kLines; ++i) {
        std::snprintf(line, sizeof line, "%064x:%d:Big.%d\n", i, i, i % 7);
        hsb += line;
    }
    for (const bool gzip : {true, false}) {
        SCOPED_TRACE(gzip ? "gzip'd" : "plain");
        Container container({{"big.hsb", hsb}, {"big.ndb", std::string(3 << 20, 'n')}});
        container.gzip = gzip;
        tree.Write(L"big.cvd", container.Bytes());
        ASSERT_EQ(Load(L"big.cvd"), std::nullopt);
        EXPECT_EQ(database.Count(), static_cast<std::size_t>(kLines));
        std::snprintf(line, sizeof line, "%064x", kLines);
        EXPECT_EQ(Names(kLines, HashType::kSha256, line),
                  Lines{"Big." + std::to_string(kLines % 7)});
    }
}

// One row a check: the spoiled piece, the message's member and line, and part of its problem.
TEST_F(Containers, RefuseEveryFailedCheckNamingTheContainerAndTheFileInside) {
    const std::string hdb = std::string(kMd5) + ":3:Packed.Md5\n";
    const struct {
        const char* name;
        const wchar_t* file;
        std::function<void(Container&)> spoil;
        std::function<std::string(std::string)> edit;  // of the finished bytes
        const char* member;
        std::uint64_t line;
        const char* problem;
        std::string inner = {};  // daily.hdb, listed as it is, when not the good one
    } rows[] = {
        {"the header's MD5 differs", L"daily.cvd",
         [](Container& c) { c.md5 = std::string(32, 'a'); }, nullptr, "", 0, "the MD5 of the"},
        {"a .cvd without an MD5", L"daily.cvd", [](Container& c) { c.md5 = "X"; }, nullptr, "", 0,
         "gives no MD5"},
        {"a byte after the archive changed", L"daily.cvd", [](Container& c) { c.gzip = false; },
         [](std::string b) { return b + "x"; }, "", 0, "the MD5 of the"},
        {"a listed size differs", L"daily.cld",
         [&](Container& c) { c.info[1] = "daily.hdb:99:" + HexOf(HashType::kSha256, hdb); },
         nullptr, "daily.hdb", 0, "the list says 99"},
        {"a listed SHA-256 differs", L"daily.cud",
         [](Container& c) { c.info[1].replace(c.info[1].rfind(':') + 1, 64, 64, 'f'); }, nullptr,
         "daily.hdb", 0, "SHA-256"},
        {"a listed file is missing", L"daily.cvd",
         [](Container& c) { c.info.push_back("daily.hsb:1:" + std::string(64, '0')); }, nullptr,
         "daily.hsb", 0, "missing"},
        {"a file is not listed", L"daily.cvd",
         [](Container& c) { c.files.emplace_back("daily.ndb", "x"); }, nullptr, "daily.ndb", 0,
         "not in the container's list"},
        {"no list at all", L"daily.cld", [](Container& c) { c.infoName = "daily.lst"; }, nullptr,
         "", 0, "no .info"},
        {"a file twice", L"daily.cld",
         [&](Container& c) { c.files.emplace_back("daily.hdb", hdb); }, nullptr, "daily.hdb", 0,
         "twice"},
        {"a file in a folder", L"daily.cld",
         [&](Container& c) { c.files.emplace_back("sub/daily.hdb", hdb); }, nullptr,
         "sub/daily.hdb", 0, "not a plain file"},
        {"a malformed signature inside", L"daily.cvd", nullptr, nullptr, "daily.hdb", 2,
         "not an MD5", hdb + "123:3:Bad\n"},
        {"a signature line without end", L"daily.cld", nullptr, nullptr, "daily.hdb", 1,
         "longer than 16 MiB", std::string(20 << 20, 'a')},
        {"a malformed list line", L"daily.cvd",
         [](Container& c) { c.info.push_back("daily.hdb:3"); }, nullptr, "daily.info", 3,
         "NAME:SIZE:SHA256"},
        {"gzip'd, cut short", L"daily.cvd", nullptr,
         [](std::string b) { return b.substr(0, b.size() - 30); }, "daily.hdb", 0, "cut short"},
        {"plain, cut after the list", L"daily.cld", [](Container& c) { c.gzip = false; },
         [](std::string b) { return b.substr(0, 512 + 512 * 4); }, "daily.hdb", 0, "missing"},
        {"gzip'd, a flipped byte", L"daily.cld", nullptr,
         [](std::string b) { return b.replace(b.size() - 6, 1, "\xFF"); }, "", 0, "damaged"},
        {"a header cut short", L"daily.cvd", nullptr,
         [](std::string b) { return b.substr(0, 300); }, "", 0, "shorter than"},
        {"a NUL in the header's padding", L"daily.cvd", nullptr,
         [](std::string b) { return b.replace(500, 1, 1, '\0'); }, "", 0, "not printable"},
        {"a field too few", L"daily.cvd", nullptr,
         [](std::string b) { return b.replace(b.find(":tester"), 7, "       "); }, "", 0,
         "8 fields"},
    };
    int row = 0;
    for (const auto& test : rows) {
        SCOPED_TRACE(test.name);
        const std::wstring relative = L"r" + std::to_wstring(++row) + L"\\" + test.file;
        Container container(
            {{"COPYING", "c\n"}, {"daily.hdb", test.inner.empty() ? hdb : test.inner}});
        if (test.spoil) {
            test.spoil(container);
        }
        const std::string bytes = container.Bytes();
        tree.Write(relative, test.edit ? test.edit(bytes) : bytes);
        const auto error = Load(relative);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->path, tree.Path(relative));
        EXPECT_EQ(qv::ToUtf8(error->member), test.member);
        EXPECT_EQ(error->line, test.line);
        EXPECT_NE(qv::ToUtf8(error->Message()).find(test.problem), std::string::npos)
            << qv::ToUtf8(error->Message());
    }
}

// Of containers of one database in one folder only the highest version loads (at equal versions
// the .cvd, then the .cld); the others are not read past their headers, which are all that is
// written of them. Other databases beside them load.
TEST_F(Containers, LoadOnlyTheHighestVersionOfEachDatabaseInAFolder) {
    const struct {
        std::uint64_t cvd, cld, cud;  // 0: none
        const char* loaded;
    } rows[] = {
        {5, 7, 0, "Daily.7"}, {7, 5, 0, "Daily.7"}, {7, 7, 0, "Daily.7"},
        {3, 0, 4, "Daily.4"}, {0, 2, 2, "Daily.2"}, {9, 10, 11, "Daily.11"},
    };
    int row = 0;
    for (const auto& test : rows) {
        SCOPED_TRACE(test.loaded);
        const std::wstring folder = L"v" + std::to_wstring(++row) + L"\\";
        const std::pair<const wchar_t*, std::uint64_t> versions[] = {
            {L"daily.cvd", test.cvd}, {L"DAILY.cld", test.cld}, {L"daily.cud", test.cud}};
        bool chosen = false;  // the first of the highest version is written whole
        for (const auto& [file, version] : versions) {
            const std::string name = "Daily." + std::to_string(version);
            const std::string bytes =
                Container({{"daily.hdb", std::string(kMd5) + ":3:" + name + "\n"}}, version)
                    .Bytes();
            const bool load = !chosen && name == test.loaded;
            chosen = chosen || load;
            if (version != 0) {
                tree.Write(folder + file, load ? bytes : bytes.substr(0, 600));
            }
        }
        tree.Write(folder + L"main.cud",
                   Container({{"main.hsb", std::string(kSha256) + ":3:Main\n"}}).Bytes());
        ASSERT_EQ(Load(folder), std::nullopt);
        EXPECT_EQ(database.DatabaseCount(), 2u);
        EXPECT_EQ(Names(3, HashType::kMd5, kMd5), Lines{test.loaded});
        EXPECT_EQ(Names(3, HashType::kSha256, kSha256), Lines{"Main"});
    }
}

}  // namespace
