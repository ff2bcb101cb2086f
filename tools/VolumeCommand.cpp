#include "tools/VolumeCommand.h"

#include <windows.h>

#include <dbt.h>

#include <cstdio>
#include <optional>
#include <string>

#include "sdk/ServiceWindow.h"
#include "sdk/Utf8.h"
#include "tools/Arguments.h"
#include "tools/DeviceChangeBroadcast.h"
#include "tools/DriveLettersLock.h"
#include "tools/DriveStatus.h"
#include "tools/ErrorText.h"
#include "tools/MountManager.h"

namespace devicescan::tools {

namespace {

constexpr DWORD kLockTimeoutMs = 10000;

constexpr char kUsage[] =
    "usage: devicescan-volume plug <letter> <type> <unix-directory> [--no-broadcast]\n"
    "       devicescan-volume unplug <letter> [--no-broadcast]\n"
    "       devicescan-volume broadcast <event> [<letters>|<mask>] [--device-type N] [--flags N]\n"
    "       devicescan-volume status <letter>\n"
    "       devicescan-volume close-service\n"
    "types: removable, fixed, network (or remote), cdrom, ramdisk\n"
    "events: arrival, removal, or a WM_DEVICECHANGE code such as 0x8001 or 7 (no header\n"
    "        unless letters or a mask are given)\n";

// The command line split into its words and its options.
struct CommandLine {
    std::vector<std::wstring_view> words;  // the command first
    bool noBroadcast = false;
    std::optional<DWORD> deviceType;
    std::optional<DWORD> flags;
};

int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "devicescan-volume: %s\n", message.c_str());
    if (code == kExitBadCommandLine) {
        std::fputs(kUsage, stderr);
    }
    return code;
}

std::string Narrow(std::wstring_view text) {
    return qv::ToUtf8(text, true).value_or("?");
}

std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%lx", static_cast<unsigned long>(value));
    return text;
}

std::string DriveName(wchar_t letter) {
    return std::string(1, static_cast<char>(letter)) + ":";
}

bool IsDefined(wchar_t letter) {
    return (GetLogicalDrives() & UnitMaskOf(letter)) != 0;
}

bool HoldsSystem(wchar_t letter) {
    wchar_t windows[MAX_PATH];
    const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    return length > 0 && length < MAX_PATH && (windows[0] & ~0x20) == letter;
}

bool IsDirectoryRoot(wchar_t letter) {
    const std::wstring root = std::wstring(1, letter) + L":\\";
    const DWORD attributes = GetFileAttributesW(root.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The flags the system puts in a volume notice for a drive of this type.
WORD VolumeFlags(UINT driveType) {
    if (driveType == DRIVE_REMOTE) {
        return DBTF_NET;
    }
    if (driveType == DRIVE_CDROM) {
        return DBTF_MEDIA;
    }
    return 0;
}

std::optional<CommandLine> SplitCommandLine(const std::vector<std::wstring_view>& arguments,
                                            std::string& problem) {
    CommandLine line;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring_view argument = arguments[i];
        if (argument.substr(0, 2) != L"--") {
            line.words.push_back(argument);
            continue;
        }
        if (argument == L"--no-broadcast") {
            line.noBroadcast = true;
            continue;
        }
        if (argument != L"--device-type" && argument != L"--flags") {
            problem = "unknown option " + Narrow(argument);
            return std::nullopt;
        }
        const std::optional<DWORD> value =
            i + 1 < arguments.size() ? ParseNumber(arguments[++i]) : std::nullopt;
        if (!value) {
            problem = Narrow(argument) + " needs a number";
            return std::nullopt;
        }
        (argument == L"--flags" ? line.flags : line.deviceType) = value;
    }
    if (line.words.empty()) {
        problem = "no command given";
        return std::nullopt;
    }
    return line;
}

int Broadcast(const DeviceChange& change, const std::string& what) {
    const DWORD error = BroadcastDeviceChange(change);
    if (error != ERROR_SUCCESS) {
        return Fail(kExitSystemFailure, "broadcast of " + what + ": " + DescribeError(error));
    }
    std::printf("broadcast %s\n", what.c_str());
    return kExitDone;
}

// Tells every window that the volume on the letter arrived or left, unless the command line
// asked for silence.
int AnnounceVolume(const CommandLine& line, WPARAM event, wchar_t letter, UINT type,
                   const std::string& what) {
    if (line.noBroadcast) {
        return kExitDone;
    }
    return Broadcast({event, true, DBT_DEVTYP_VOLUME, UnitMaskOf(letter), VolumeFlags(type)}, what);
}

int TakeLettersLock(DriveLettersLock& lock) {
    const DWORD locked = lock.Acquire(kLockTimeoutMs);
    if (locked != ERROR_SUCCESS) {
        return Fail(kExitSystemFailure,
                    "could not take the drive letters lock: " + DescribeError(locked));
    }
    return kExitDone;
}

int FailLetterWord(std::wstring_view word) {
    return Fail(kExitBadCommandLine, "not a drive letter: " + Narrow(word));
}

// Defines the letter as a drive over the directory, unless the letter is taken or nothing is at
// the path; checked and done under the letters lock.
int DefineLetter(wchar_t letter, UINT type, const std::string& path) {
    const std::string drive = DriveName(letter);
    DriveLettersLock lock;
    if (const int locked = TakeLettersLock(lock); locked != kExitDone) {
        return locked;
    }
    if (IsDefined(letter)) {
        return Fail(kExitLetterState, drive + " is already defined; unplug it first");
    }
    const DWORD defined = DefineUnixDrive(letter, type, path);
    if (defined != ERROR_SUCCESS) {
        return Fail(
            kExitSystemFailure,
            "could not define " + drive + " through the mount manager: " + DescribeError(defined));
    }
    // The mount manager takes any path; only the defined letter shows whether it leads anywhere.
    if (!IsDirectoryRoot(letter)) {
        RemoveUnixDrive(letter);
        return Fail(kExitNoDirectory, "no directory at " + path);
    }
    return kExitDone;
}

// Removes a defined letter and gives the drive type it had; under the letters lock.
int RemoveLetter(wchar_t letter, UINT& type) {
    const std::string drive = DriveName(letter);
    DriveLettersLock lock;
    if (const int locked = TakeLettersLock(lock); locked != kExitDone) {
        return locked;
    }
    // A letter whose directory has gone still counts as defined here, so it can be removed.
    if (!IsDefined(letter)) {
        return Fail(kExitLetterState, drive + " was not defined");
    }
    type = GetDriveTypeW((std::wstring(1, letter) + L":\\").c_str());
    const DWORD removed = RemoveUnixDrive(letter);
    if (removed != ERROR_SUCCESS) {
        return Fail(
            kExitSystemFailure,
            "could not remove " + drive + " through the mount manager: " + DescribeError(removed));
    }
    return kExitDone;
}

int Plug(const CommandLine& line) {
    if (line.words.size() != 4) {
        return Fail(kExitBadCommandLine, "plug takes a letter, a type and a directory");
    }
    const std::optional<wchar_t> letter = ParseDriveLetter(line.words[1]);
    if (!letter) {
        return FailLetterWord(line.words[1]);
    }
    const std::optional<UINT> type = ParseDriveType(line.words[2]);
    if (!type) {
        return Fail(kExitBadCommandLine, "unknown drive type: " + Narrow(line.words[2]));
    }
    const std::optional<std::string> path = qv::ToUtf8(line.words[3], true);
    if (!path || path->empty() || path->front() != '/') {
        return Fail(kExitBadCommandLine, "not an absolute Unix path: " + Narrow(line.words[3]));
    }
    if (const int defined = DefineLetter(*letter, *type, *path); defined != kExitDone) {
        return defined;
    }
    const std::string drive = DriveName(*letter);
    std::printf("plugged %s as %s at %s\n", drive.c_str(), DriveTypeName(*type), path->c_str());
    return AnnounceVolume(line, DBT_DEVICEARRIVAL, *letter, *type, "arrival of " + drive);
}

int Unplug(const CommandLine& line) {
    if (line.words.size() != 2) {
        return Fail(kExitBadCommandLine, "unplug takes a letter");
    }
    const std::optional<wchar_t> letter = ParseDriveLetter(line.words[1]);
    if (!letter) {
        return FailLetterWord(line.words[1]);
    }
    const std::string drive = DriveName(*letter);
    if (HoldsSystem(*letter)) {
        return Fail(kExitBadCommandLine, drive + " holds the system; it stays");
    }
    UINT type = DRIVE_UNKNOWN;
    if (const int removed = RemoveLetter(*letter, type); removed != kExitDone) {
        return removed;
    }
    std::printf("unplugged %s\n", drive.c_str());
    return AnnounceVolume(line, DBT_DEVICEREMOVECOMPLETE, *letter, type, "removal of " + drive);
}

int BroadcastRaw(const CommandLine& line) {
    if (line.words.size() != 2 && line.words.size() != 3) {
        return Fail(kExitBadCommandLine, "broadcast takes an event and optionally a unit mask");
    }
    const std::optional<WPARAM> event = ParseDeviceEvent(line.words[1]);
    if (!event) {
        return Fail(kExitBadCommandLine, "unknown event: " + Narrow(line.words[1]));
    }
    DeviceChange change;
    change.event = *event;
    change.withHeader = line.words.size() == 3;
    if (change.withHeader) {
        const std::optional<DWORD> mask = ParseUnitMask(line.words[2]);
        if (!mask) {
            return Fail(kExitBadCommandLine, "not letters or a mask: " + Narrow(line.words[2]));
        }
        change.unitMask = *mask;
    }
    if ((line.deviceType || line.flags) && !change.withHeader) {
        return Fail(kExitBadCommandLine, "--device-type and --flags need a unit mask");
    }
    if (line.flags.value_or(0) > 0xFFFF) {
        return Fail(kExitBadCommandLine, "--flags takes a 16-bit value");
    }
    if (change.withHeader && (change.event & 0x8000) == 0) {
        return Fail(kExitBadCommandLine, "events below 0x8000 travel without a header");
    }
    change.deviceType = line.deviceType.value_or(DBT_DEVTYP_VOLUME);
    change.flags = static_cast<WORD>(line.flags.value_or(0));
    const std::string what = "event " + Hex(static_cast<DWORD>(change.event)) +
                             (change.withHeader ? " mask " + Hex(change.unitMask) : "");
    return Broadcast(change, what);
}

int Status(const CommandLine& line) {
    if (line.words.size() != 2) {
        return Fail(kExitBadCommandLine, "status takes a letter");
    }
    const std::optional<wchar_t> letter = ParseDriveLetter(line.words[1]);
    if (!letter) {
        return FailLetterWord(line.words[1]);
    }
    const DriveStatus status = ProbeDrive(*letter);
    std::fputs(FormatDriveStatus(status).c_str(), stdout);
    return status.defined ? kExitDone : kExitLetterState;
}

// Posts WM_CLOSE to every window of the service's class, from this process, as any program in
// the session can: the window's default processing destroys it and its message loop ends.
int CloseService(const CommandLine& line) {
    if (line.words.size() != 1) {
        return Fail(kExitBadCommandLine, "close-service takes no argument");
    }
    int closed = 0;
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, QV_SERVICE_WINDOW_CLASS, nullptr)) != nullptr) {
        if (PostMessageW(window, WM_CLOSE, 0, 0)) {
            ++closed;
        }
    }
    std::printf("closed %d service window%s\n", closed, closed == 1 ? "" : "s");
    return closed != 0 ? kExitDone : kExitLetterState;
}

// Options belong to some commands only; given to another one they are a mistake worth telling.
bool HasMisplacedOption(const CommandLine& line) {
    const std::wstring_view command = line.words[0];
    if (line.noBroadcast && command != L"plug" && command != L"unplug") {
        Fail(kExitBadCommandLine, "--no-broadcast belongs to plug and unplug");
        return true;
    }
    if ((line.deviceType || line.flags) && command != L"broadcast") {
        Fail(kExitBadCommandLine, "--device-type and --flags belong to broadcast");
        return true;
    }
    return false;
}

}  // namespace

int RunVolumeCommand(const std::vector<std::wstring_view>& arguments) {
    std::string problem;
    const std::optional<CommandLine> line = SplitCommandLine(arguments, problem);
    if (!line) {
        return Fail(kExitBadCommandLine, problem);
    }
    if (HasMisplacedOption(*line)) {
        return kExitBadCommandLine;
    }
    const std::wstring_view command = line->words[0];
    if (command == L"plug") {
        return Plug(*line);
    }
    if (command == L"unplug") {
        return Unplug(*line);
    }
    if (command == L"broadcast") {
        return BroadcastRaw(*line);
    }
    if (command == L"status") {
        return Status(*line);
    }
    if (command == L"close-service") {
        return CloseService(*line);
    }
    if (command == L"help") {
        std::fputs(kUsage, stdout);
        return kExitDone;
    }
    return Fail(kExitBadCommandLine, "unknown command " + Narrow(command));
}

}  // namespace devicescan::tools
