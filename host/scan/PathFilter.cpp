#include "host/scan/PathFilter.h"

#include <exception>
#include <optional>
#include <utility>

namespace devicescan::scan {

namespace {

constexpr auto kSyntax =
    std::regex_constants::ECMAScript | std::regex_constants::icase | std::regex_constants::optimize;

// The standard library reports a bad pattern by throwing; nothing beyond this function does.
std::optional<std::wregex> Compiled(const std::wstring& pattern) {
    try {
        return std::wregex(pattern, kSyntax);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

bool PathFilter::IsValidPattern(const std::wstring& pattern) {
    return Compiled(pattern).has_value();
}

bool PathFilter::Add(Rule rule, const std::wstring& pattern) {
    std::optional<std::wregex> compiled = Compiled(pattern);
    if (!compiled) {
        return false;
    }
    Patterns& patterns = rule == Rule::kExcludeFile     ? excludeFiles
                         : rule == Rule::kExcludeFolder ? excludeFolders
                                                        : includeFiles;
    patterns.push_back(std::move(*compiled));
    return true;
}

bool PathFilter::IsEmpty() const noexcept {
    return excludeFiles.empty() && excludeFolders.empty() && includeFiles.empty();
}

bool PathFilter::SkipsFile(const std::wstring& fullPath) const {
    if (AnyMatches(excludeFiles, fullPath)) {
        return true;
    }
    return !includeFiles.empty() && !AnyMatches(includeFiles, fullPath);
}

bool PathFilter::SkipsFolder(const std::wstring& fullPath) const {
    return AnyMatches(excludeFolders, fullPath);
}

// A search that the library gives up on (a pattern whose backtracking runs too deep for a long
// path) counts as no match: the entry is scanned rather than silently dropped.
bool PathFilter::AnyMatches(const Patterns& patterns, const std::wstring& path) {
    for (const std::wregex& pattern : patterns) {
        try {
            if (std::regex_search(path, pattern)) {
                return true;
            }
        } catch (const std::exception&) {
        }
    }
    return false;
}

}  // namespace devicescan::scan
