#include <windows.h>

#include <dbt.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "DeviceChangeListener.h"
#include "VolumeCommand.h"
#include "VolumeTool.h"

namespace {

using qv::tests::DeviceChangeListener;
using qv::tests::PlugOnFreeLetter;
using qv::tests::PlugVolume;
using qv::tests::RunVolumeTool;
using qv::tests::TemporaryDirectory;
using qv::tests::ToolResult;
using namespace qv::tools;

constexpr DWORD kNoticeTimeoutMs = 10000;

DWORD MaskOf(wchar_t letter) {
    return DWORD{1} << (letter - L'A');
}
std::wstring Root(wchar_t letter) {
    return std::wstring(1, letter) + L":\\";
}
std::wstring Letter(wchar_t letter) {
    return std::wstring(1, letter);
}

// Plugs the test's directory and always unplugs what it plugged, whatever the test's outcome.
class VolumeToolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(directory.UnixPath().empty()) << "no Unix path for the temporary directory";
    }
    void TearDown() override {
        for (const wchar_t letter : pluggedLetters) {
            RunVolumeTool(L"unplug " + Letter(letter) + L" --no-broadcast");
        }
    }

    std::optional<wchar_t> Plug(const std::wstring& typeName, const std::wstring& options = L"") {
        const std::optional<wchar_t> letter =
            PlugOnFreeLetter(typeName, directory.UnixPath(), options);
        if (letter) {
            pluggedLetters.push_back(*letter);
        }
        return letter;
    }

    ToolResult Unplug(wchar_t letter, const std::wstring& options = L"") {
        std::erase(pluggedLetters, letter);
        return RunVolumeTool(L"unplug " + Letter(letter) + L" " + options);
    }

    TemporaryDirectory directory;
    std::vector<wchar_t> pluggedLetters;
};

struct NamedType {
    const wchar_t* name;
    UINT type;
};

TEST_F(VolumeToolTest, EachTypeNameGivesItsDriveTypeOverAReadableRoot) {
    const NamedType types[] = {{L"removable", DRIVE_REMOVABLE}, {L"fixed", DRIVE_FIXED},
                               {L"network", DRIVE_REMOTE},      {L"remote", DRIVE_REMOTE},
                               {L"cdrom", DRIVE_CDROM},         {L"ramdisk", DRIVE_RAMDISK}};
    for (const NamedType& named : types) {
        SCOPED_TRACE(named.name);
        const std::optional<wchar_t> letter = Plug(named.name, L"--no-broadcast");
        ASSERT_TRUE(letter);
        EXPECT_EQ(GetDriveTypeW(Root(*letter).c_str()), named.type);

        ULARGE_INTEGER freeToCaller{}, total{}, totalFree{};
        ASSERT_TRUE(GetDiskFreeSpaceExW(Root(*letter).c_str(), &freeToCaller, &total, &totalFree))
            << "error " << GetLastError();
        EXPECT_GT(total.QuadPart, 0u);
        EXPECT_LE(freeToCaller.QuadPart, total.QuadPart);
        EXPECT_LE(totalFree.QuadPart, total.QuadPart);

        const std::wstring file = Root(*letter) + directory.FileName();
        EXPECT_NE(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES)
            << "the directory's file is not seen through the letter";

        const ToolResult status = RunVolumeTool(L"status " + Letter(*letter));
        EXPECT_EQ(status.exitCode, kExitDone) << status.output;
        EXPECT_NE(status.output.find("type: " + std::to_string(named.type)), std::string::npos)
            << status.output;
        if (named.type == DRIVE_REMOTE) {  // Wine names a network letter's share after the letter
            const std::string unc = std::string("unc: ") + static_cast<char>(*letter) + ":\n";
            EXPECT_NE(status.output.find(unc), std::string::npos) << status.output;
        }

        const ToolResult unplugged = Unplug(*letter, L"--no-broadcast");
        EXPECT_EQ(unplugged.exitCode, kExitDone) << unplugged.output;
        // Another test may plug the freed letter at once, but never over this directory.
        EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES)
            << "the directory is still reached through the letter";
    }
}

struct TypeFlags {
    const wchar_t* name;
    WORD flags;
};

TEST_F(VolumeToolTest, HiddenWindowOfThisProcessHearsArrivalAndRemoval) {
    DeviceChangeListener listener;
    ASSERT_TRUE(listener.IsListening());
    const TypeFlags types[] = {{L"removable", 0}, {L"network", DBTF_NET}, {L"cdrom", DBTF_MEDIA}};
    for (const TypeFlags& named : types) {
        SCOPED_TRACE(named.name);
        listener.Clear();
        const std::optional<wchar_t> letter = Plug(named.name);
        ASSERT_TRUE(letter);
        const auto arrival = listener.Take(DBT_DEVICEARRIVAL, MaskOf(*letter), kNoticeTimeoutMs);
        ASSERT_TRUE(arrival) << "no arrival of " << static_cast<char>(*letter) << ":";
        EXPECT_EQ(arrival->size, sizeof(DEV_BROADCAST_VOLUME));
        EXPECT_EQ(arrival->deviceType, static_cast<DWORD>(DBT_DEVTYP_VOLUME));
        EXPECT_EQ(arrival->flags, named.flags);

        listener.Clear();
        const ToolResult unplugged = Unplug(*letter);
        ASSERT_EQ(unplugged.exitCode, kExitDone) << unplugged.output;
        const auto removal =
            listener.Take(DBT_DEVICEREMOVECOMPLETE, MaskOf(*letter), kNoticeTimeoutMs);
        ASSERT_TRUE(removal) << "no removal of " << static_cast<char>(*letter) << ":";
        EXPECT_EQ(removal->deviceType, static_cast<DWORD>(DBT_DEVTYP_VOLUME));
        EXPECT_EQ(removal->flags, named.flags);
    }
}

// On B:, which no other test plugs (the others take letters from Y: downwards, A: is the missing
// directory's), so that any notice for it came from this test's tool.
TEST_F(VolumeToolTest, NoBroadcastPlugsSilently) {
    if ((GetLogicalDrives() & MaskOf(L'B')) != 0) {
        GTEST_SKIP() << "B: is defined in this prefix";
    }
    DeviceChangeListener listener;
    ASSERT_TRUE(listener.IsListening());
    const ToolResult plugged =
        PlugVolume(L'B', L"removable", directory.UnixPath(), L"--no-broadcast");
    ASSERT_EQ(plugged.exitCode, kExitDone) << plugged.output;
    pluggedLetters.push_back(L'B');
    EXPECT_EQ(GetDriveTypeW(L"B:\\"), static_cast<UINT>(DRIVE_REMOVABLE));
    const ToolResult unplugged = Unplug(L'B', L"--no-broadcast");
    ASSERT_EQ(unplugged.exitCode, kExitDone) << unplugged.output;
    // A broadcast of our own marks the end: anything sent for the letter came before it.
    ASSERT_EQ(RunVolumeTool(L"broadcast 0x8005 0").exitCode, kExitDone);
    ASSERT_TRUE(listener.Take(DBT_DEVICETYPESPECIFIC, 0, kNoticeTimeoutMs));
    EXPECT_FALSE(listener.Take(DBT_DEVICEARRIVAL, MaskOf(L'B'), 0));
    EXPECT_FALSE(listener.Take(DBT_DEVICEREMOVECOMPLETE, MaskOf(L'B'), 0));
}

struct RawBroadcast {
    const wchar_t* arguments;
    WPARAM event;
    std::optional<DWORD> unitMask;
    DWORD deviceType;
    WORD flags;
};

TEST(VolumeToolBroadcast, RawNoticesArriveAsSent) {
    DeviceChangeListener listener;
    ASSERT_TRUE(listener.IsListening());
    // Masks no plugged letter produces, so that other tests' broadcasts never match.
    const RawBroadcast cases[] = {
        {L"arrival 0x3000001", DBT_DEVICEARRIVAL, 0x3000001, DBT_DEVTYP_VOLUME, 0},
        {L"removal 0xfc000000", DBT_DEVICEREMOVECOMPLETE, 0xfc000000, DBT_DEVTYP_VOLUME, 0},
        {L"arrival abz --flags 3", DBT_DEVICEARRIVAL, 0x2000003, DBT_DEVTYP_VOLUME, 3},
        {L"0x8001 0x2000010", DBT_DEVICEQUERYREMOVE, 0x2000010, DBT_DEVTYP_VOLUME, 0},
        {L"arrival 0x2000020 --device-type 5", DBT_DEVICEARRIVAL, 0x2000020, 5, 0},
        {L"7", DBT_DEVNODES_CHANGED, std::nullopt, 0, 0},
    };
    for (const RawBroadcast& raw : cases) {
        SCOPED_TRACE(raw.arguments);
        const ToolResult sent = RunVolumeTool(std::wstring(L"broadcast ") + raw.arguments);
        ASSERT_EQ(sent.exitCode, kExitDone) << sent.output;
        const auto notice = listener.Take(raw.event, raw.unitMask, kNoticeTimeoutMs);
        ASSERT_TRUE(notice);
        if (raw.unitMask) {
            EXPECT_EQ(notice->deviceType, raw.deviceType);
            EXPECT_EQ(notice->flags, raw.flags);
        }
    }
}

struct BadCommand {
    const wchar_t* arguments;
    int exitCode;
};

TEST(VolumeToolBadInput, RefusedWithTheirExitCode) {
    const BadCommand cases[] = {
        {L"", kExitBadCommandLine},
        {L"eject y", kExitBadCommandLine},
        {L"plug", kExitBadCommandLine},
        {L"plug y removable", kExitBadCommandLine},
        {L"plug 1 removable /tmp", kExitBadCommandLine},
        {L"plug yy removable /tmp", kExitBadCommandLine},
        {L"plug y: floppy /tmp", kExitBadCommandLine},
        {L"plug y removable tmp/relative", kExitBadCommandLine},
        {L"plug y removable /tmp --loud", kExitBadCommandLine},
        {L"plug c fixed /tmp", kExitLetterState},
        {L"unplug c", kExitBadCommandLine},
        {L"unplug", kExitBadCommandLine},
        {L"status ?", kExitBadCommandLine},
        {L"broadcast", kExitBadCommandLine},
        {L"broadcast leave y", kExitBadCommandLine},
        {L"broadcast arrival y1", kExitBadCommandLine},
        {L"broadcast arrival 0x100000000", kExitBadCommandLine},
        {L"broadcast 7 y", kExitBadCommandLine},
        {L"broadcast 7 --flags 1", kExitBadCommandLine},
        {L"broadcast arrival y --flags", kExitBadCommandLine},
        {L"broadcast arrival y --flags 0x10000", kExitBadCommandLine},
        {L"broadcast arrival y --no-broadcast", kExitBadCommandLine},
        {L"plug y removable /tmp --device-type 2", kExitBadCommandLine},
        {L"status y --no-broadcast", kExitBadCommandLine},
    };
    for (const BadCommand& bad : cases) {
        const ToolResult result = RunVolumeTool(bad.arguments);
        EXPECT_EQ(result.exitCode, static_cast<DWORD>(bad.exitCode))
            << "devicescan-volume " << testing::PrintToString(std::wstring(bad.arguments)) << "\n"
            << result.output;
        EXPECT_NE(result.output.find("devicescan-volume: "), std::string::npos) << result.output;
    }
}

// On A:, which no other test plugs and Wine leaves unset.
TEST(VolumeToolBadInput, MissingDirectoryLeavesNoLetterBehind) {
    if ((GetLogicalDrives() & MaskOf(L'A')) != 0) {
        GTEST_SKIP() << "A: is defined in this prefix";
    }
    const ToolResult plugged = RunVolumeTool(L"plug a removable /nonexistent/devicescan-volume");
    EXPECT_EQ(plugged.exitCode, static_cast<DWORD>(kExitNoDirectory)) << plugged.output;
    EXPECT_NE(plugged.output.find("/nonexistent/devicescan-volume"), std::string::npos)
        << plugged.output;
    EXPECT_EQ(GetLogicalDrives() & MaskOf(L'A'), 0u);
    EXPECT_EQ(GetDriveTypeW(L"A:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));

    const ToolResult unplugged = RunVolumeTool(L"unplug a");
    EXPECT_EQ(unplugged.exitCode, static_cast<DWORD>(kExitLetterState)) << unplugged.output;
    const ToolResult status = RunVolumeTool(L"status a");
    EXPECT_EQ(status.exitCode, static_cast<DWORD>(kExitLetterState)) << status.output;
    EXPECT_NE(status.output.find("defined: no"), std::string::npos) << status.output;
}

}  // namespace
