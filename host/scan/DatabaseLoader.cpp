#include "host/scan/DatabaseLoader.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <string_view>
#include <vector>

#include "host/scan/ContainerLoader.h"
#include "host/scan/DatabaseFileParser.h"
#include "host/scan/DatabaseKind.h"
#include "host/scan/LongPath.h"
#include "sdk/SystemMessage.h"
#include "sdk/UniqueHandle.h"
#include "sdk/Utf8.h"

namespace devicescan::scan {

namespace {

constexpr std::size_t kBlockSize = std::size_t{1} << 20;

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](wchar_t c) { return c >= L'A' && c <= L'Z' ? c + (L'a' - L'A') : c; });
    return text;
}

std::wstring FileNameOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring StemOf(const std::wstring& path) {
    const std::wstring name = FileNameOf(path);
    return name.substr(0, name.rfind(L'.'));
}

DatabaseError Unreadable(const std::wstring& path, DWORD code) {
    return DatabaseError{path, 0, L"cannot read: " + qv::DescribeError(code)};
}

// Calls each(block) for every block of a megabyte (the last one shorter) from where file stands
// to its end, until each returns false; the Win32 code of a failed read, or ERROR_SUCCESS.
template <typename Each>
DWORD ForEachBlock(HANDLE file, std::vector<char>& block, Each&& each) {
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, block.data(), static_cast<DWORD>(block.size()), &read, nullptr)) {
            return GetLastError();
        }
        if (read == 0 || !each(std::string_view(block.data(), read))) {
            return ERROR_SUCCESS;
        }
    }
}

// Among containers of the same database (the same name before the extension), the one to load:
// the highest version; of equal versions the .cvd, then the .cld, then the .cud (a .cvd's digest
// covers all of it).
struct ContainerChoice {
    std::wstring path;
    std::uint64_t version = 0;
    int rank = 0;  // lower is preferred at equal versions
};

int RankOf(const std::wstring& path) {
    const std::wstring name = Lower(FileNameOf(path));
    return name.ends_with(L".cvd") ? 0 : name.ends_with(L".cld") ? 1 : 2;
}

// Keeps path in containers when it is the best of its database so far.
std::optional<DatabaseError> Choose(const std::wstring& path,
                                    std::map<std::wstring, ContainerChoice>& containers) {
    ContainerHeader header;
    if (auto error = ContainerLoader::ReadHeader(path, header)) {
        return error;
    }
    const ContainerChoice candidate{path, header.version, RankOf(path)};
    auto [chosen, added] = containers.emplace(Lower(StemOf(path)), candidate);
    if (!added &&
        (candidate.version > chosen->second.version ||
         (candidate.version == chosen->second.version && candidate.rank < chosen->second.rank))) {
        chosen->second = candidate;
    }
    return std::nullopt;
}

}  // namespace

std::optional<DatabaseError> DatabaseLoader::Load(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(LongPathOf(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return Unreadable(path, GetLastError());
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return LoadFolder(path);
    }
    if (DatabaseKindOf(FileNameOf(path)) == DatabaseKind::kNone) {
        return DatabaseError{path, 0,
                             L"not a database (the name must end in .hdb, .hsb, .hdu, .hsu, "
                             L".fp, .sfp, .ign2, .cvd, .cld, .cud, .sha256 or .txt)"};
    }
    return LoadFile(path);
}

std::optional<DatabaseError> DatabaseLoader::LoadAll(const std::vector<std::wstring>& paths) {
    for (const std::wstring& path : paths) {
        if (auto error = Load(path)) {
            return error;
        }
    }
    database.Seal();
    return std::nullopt;
}

std::optional<DatabaseError> DatabaseLoader::LoadFolder(const std::wstring& path) {
    std::wstring folder = path;
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') {
        folder += L'\\';
    }
    WIN32_FIND_DATAW entry;
    const HANDLE find = FindFirstFileExW((LongPathOf(folder) + L"*").c_str(), FindExInfoBasic,
                                         &entry, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) {
            return DatabaseError{path, 0, L"cannot list the folder: " + qv::DescribeError(error)};
        }
        return DatabaseError{path, 0, L"the folder holds no database file"};
    }
    std::vector<std::wstring> files;
    std::map<std::wstring, ContainerChoice> containers;  // by lower-case stem
    std::optional<DatabaseError> error;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            continue;
        }
        const DatabaseKind kind = DatabaseKindOf(std::wstring_view(entry.cFileName));
        if (kind == DatabaseKind::kContainer) {
            error = error ? error : Choose(folder + entry.cFileName, containers);
        } else if (kind != DatabaseKind::kNone) {
            files.push_back(folder + entry.cFileName);
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    if (error) {
        return error;
    }
    for (const auto& [stem, choice] : containers) {
        files.push_back(choice.path);
    }
    if (files.empty()) {
        return DatabaseError{path, 0, L"the folder holds no database file"};
    }
    std::sort(files.begin(), files.end());
    for (const std::wstring& file : files) {
        if (auto failed = LoadFile(file)) {
            return failed;
        }
    }
    return std::nullopt;
}

std::optional<DatabaseError> DatabaseLoader::LoadFile(const std::wstring& path) {
    const DatabaseKind kind = DatabaseKindOf(FileNameOf(path));
    if (kind == DatabaseKind::kContainer) {
        return ContainerLoader(database).Load(path);
    }
    const qv::UniqueHandle file(CreateFileW(LongPathOf(path).c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.IsValid()) {
        return Unreadable(path, GetLastError());
    }
    std::vector<char> block(kBlockSize);
    if (kind == DatabaseKind::kMd5Signatures || kind == DatabaseKind::kShaSignatures ||
        kind == DatabaseKind::kHashList) {
        // Most lines are signatures, and most .hsb signatures are SHA-256 ones: counting the
        // lines first lets the table be allocated once, at its size.
        std::size_t lines = 0;
        DWORD code = ForEachBlock(file.Get(), block, [&lines](std::string_view data) {
            lines += static_cast<std::size_t>(std::count(data.begin(), data.end(), '\n')) + 1;
            return true;
        });
        if (code == ERROR_SUCCESS &&
            !SetFilePointerEx(file.Get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN)) {
            code = GetLastError();
        }
        if (code != ERROR_SUCCESS) {
            return Unreadable(path, code);
        }
        database.Reserve(kind == DatabaseKind::kMd5Signatures ? HashType::kMd5 : HashType::kSha256,
                         lines);
    }
    DatabaseFileParser parser(database, kind, qv::ToUtf8(StemOf(path)));
    const DWORD code = ForEachBlock(file.Get(), block,
                                    [&parser](std::string_view data) { return parser.Feed(data); });
    if (code != ERROR_SUCCESS) {
        return Unreadable(path, code);
    }
    if (!parser.Finish()) {
        return DatabaseError{path, parser.Line(), qv::FromUtf8(parser.Problem())};
    }
    database.CountDatabase();
    return std::nullopt;
}

}  // namespace devicescan::scan
