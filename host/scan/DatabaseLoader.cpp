#include "host/scan/DatabaseLoader.h"

#include <windows.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "host/scan/HashListParser.h"
#include "host/scan/HashSignatureParser.h"
#include "host/scan/LongPath.h"
#include "sdk/SystemMessage.h"
#include "sdk/UniqueHandle.h"
#include "sdk/Utf8.h"

namespace devicescan::scan {

namespace {

enum class Format { kNone, kHdb, kHsb, kHashList };

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

Format FormatOf(const std::wstring& path) {
    const std::wstring name = Lower(FileNameOf(path));
    const std::size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos) {
        return Format::kNone;
    }
    const std::wstring extension = name.substr(dot);
    if (extension == L".hdb") {
        return Format::kHdb;
    }
    if (extension == L".hsb") {
        return Format::kHsb;
    }
    if (extension == L".sha256" || extension == L".txt") {
        return Format::kHashList;
    }
    return Format::kNone;
}

DatabaseError Unreadable(const std::wstring& path, DWORD code) {
    return DatabaseError{path, 0, L"cannot read: " + qv::DescribeError(code)};
}

// Calls each(line) for every line of file (without its '\n') from where the file stands, until
// each returns false; the Win32 code of a failed read, or ERROR_SUCCESS. The file is read in
// blocks of a megabyte (a longer line grows the block), so a database of a million signatures,
// a hundred megabytes, never has to be in memory whole.
template <typename Each>
DWORD ForEachLine(HANDLE file, Each&& each) {
    std::vector<char> block(std::size_t{1} << 20);
    std::size_t kept = 0;  // the start of a line that the last block cut off
    for (;;) {
        if (kept == block.size()) {
            block.resize(2 * block.size());
        }
        DWORD read = 0;
        if (!ReadFile(file, block.data() + kept, static_cast<DWORD>(block.size() - kept), &read,
                      nullptr)) {
            return GetLastError();
        }
        std::string_view data(block.data(), kept + read);
        if (read == 0) {
            if (!data.empty()) {
                each(data);
            }
            return ERROR_SUCCESS;
        }
        for (std::size_t end; (end = data.find('\n')) != std::string_view::npos;) {
            if (!each(data.substr(0, end))) {
                return ERROR_SUCCESS;
            }
            data.remove_prefix(end + 1);
        }
        std::copy(data.begin(), data.end(), block.begin());
        kept = data.size();
    }
}

// Parses each line of file and adds the signatures it finds; the first malformed line ends it.
template <typename Parser>
std::optional<DatabaseError> AddLines(const std::wstring& path, HANDLE file,
                                      SignatureDatabase& database, const Parser& parser) {
    using Result = typename Parser::Result;
    SignatureLine signature;
    std::string problem;
    std::uint64_t number = 0;
    std::optional<DatabaseError> malformed;
    const DWORD code = ForEachLine(file, [&](std::string_view line) {
        if (++number == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") {
            line.remove_prefix(3);
        }
        switch (parser.Parse(line, signature, problem)) {
            case Result::kSignature:
                database.Add(signature);
                return true;
            case Result::kNothing:
                return true;
            case Result::kMalformed:
                break;
        }
        malformed = DatabaseError{path, number, qv::FromUtf8(problem)};
        return false;
    });
    if (code != ERROR_SUCCESS) {
        return Unreadable(path, code);
    }
    return malformed;
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
    if (FormatOf(path) == Format::kNone) {
        return DatabaseError{path, 0,
                             L"not a database (the name must end in .hdb, .hsb, .sha256 or .txt)"};
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
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            FormatOf(entry.cFileName) != Format::kNone) {
            files.push_back(folder + entry.cFileName);
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    if (files.empty()) {
        return DatabaseError{path, 0, L"the folder holds no database file"};
    }
    std::sort(files.begin(), files.end());
    for (const std::wstring& file : files) {
        if (auto error = LoadFile(file)) {
            return error;
        }
    }
    return std::nullopt;
}

std::optional<DatabaseError> DatabaseLoader::LoadFile(const std::wstring& path) {
    const qv::UniqueHandle file(CreateFileW(LongPathOf(path).c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    // Most lines are signatures, and most .hsb signatures are SHA-256 ones: counting the lines
    // first lets the table be allocated once, at its size.
    std::size_t lines = 0;
    DWORD code = file.IsValid()
                     ? ForEachLine(file.Get(), [&lines](std::string_view) { return ++lines, true; })
                     : GetLastError();
    if (code == ERROR_SUCCESS &&
        !SetFilePointerEx(file.Get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN)) {
        code = GetLastError();
    }
    if (code != ERROR_SUCCESS) {
        return Unreadable(path, code);
    }
    database.Reserve(FormatOf(path) == Format::kHdb ? HashType::kMd5 : HashType::kSha256, lines);
    std::optional<DatabaseError> error;
    switch (FormatOf(path)) {
        case Format::kHdb:
        case Format::kHsb: {
            const HashSignatureParser parser(FormatOf(path) == Format::kHdb
                                                 ? HashSignatureParser::Kind::kMd5Only
                                                 : HashSignatureParser::Kind::kSha1OrSha256);
            error = AddLines(path, file.Get(), database, parser);
            break;
        }
        case Format::kHashList: {
            const HashListParser parser(qv::ToUtf8(StemOf(path)));
            error = AddLines(path, file.Get(), database, parser);
            break;
        }
        case Format::kNone:
            return DatabaseError{path, 0, L"not a database"};
    }
    if (!error) {
        database.CountDatabase();
    }
    return error;
}

}  // namespace devicescan::scan
