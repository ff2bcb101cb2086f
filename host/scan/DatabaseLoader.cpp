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

// The whole file, or false with the Win32 code.
bool ReadWholeFile(const std::wstring& path, std::string& content, DWORD& error) {
    qv::UniqueHandle file(CreateFileW(LongPathOf(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size;
    if (!file.IsValid() || !GetFileSizeEx(file.Get(), &size)) {
        error = GetLastError();
        return false;
    }
    content.resize(static_cast<std::size_t>(size.QuadPart));
    std::size_t done = 0;
    while (done < content.size()) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(content.size() - done, 1 << 24));
        DWORD read = 0;
        if (!ReadFile(file.Get(), content.data() + done, chunk, &read, nullptr)) {
            error = GetLastError();
            return false;
        }
        if (read == 0) {
            break;
        }
        done += read;
    }
    content.resize(done);
    return true;
}

// Parses each line of content and adds the signatures it finds; the first malformed line ends it.
template <typename Parser>
std::optional<DatabaseError> AddLines(const std::wstring& path, std::string_view content,
                                      SignatureDatabase& database, const Parser& parser) {
    using Result = typename Parser::Result;
    if (content.substr(0, 3) == "\xEF\xBB\xBF") {
        content.remove_prefix(3);
    }
    SignatureLine signature;
    std::string problem;
    std::uint64_t number = 0;
    while (!content.empty()) {
        const std::size_t end = content.find('\n');
        const std::string_view line = content.substr(0, end);
        content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
        ++number;
        switch (parser.Parse(line, signature, problem)) {
            case Result::kSignature:
                database.Add(signature);
                break;
            case Result::kNothing:
                break;
            case Result::kMalformed:
                return DatabaseError{path, number, qv::FromUtf8(problem)};
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<DatabaseError> DatabaseLoader::Load(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(LongPathOf(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return DatabaseError{path, 0, L"cannot read: " + qv::DescribeError(GetLastError())};
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
    std::string content;
    DWORD code = 0;
    if (!ReadWholeFile(path, content, code)) {
        return DatabaseError{path, 0, L"cannot read: " + qv::DescribeError(code)};
    }
    // Most lines are signatures, and most .hsb signatures are SHA-256 ones.
    const std::size_t lines =
        static_cast<std::size_t>(std::count(content.begin(), content.end(), '\n')) + 1;
    database.Reserve(FormatOf(path) == Format::kHdb ? HashType::kMd5 : HashType::kSha256, lines);
    std::optional<DatabaseError> error;
    switch (FormatOf(path)) {
        case Format::kHdb:
        case Format::kHsb: {
            const HashSignatureParser parser(FormatOf(path) == Format::kHdb
                                                 ? HashSignatureParser::Kind::kMd5Only
                                                 : HashSignatureParser::Kind::kSha1OrSha256);
            error = AddLines(path, content, database, parser);
            break;
        }
        case Format::kHashList: {
            const HashListParser parser(qv::ToUtf8(StemOf(path)));
            error = AddLines(path, content, database, parser);
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
