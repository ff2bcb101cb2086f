#pragma once

#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace devicescan::scan {

// Which files and folders of a tree a scan leaves out, by regular expressions (ECMAScript,
// case-insensitive, as Windows compares paths) searched anywhere in an entry's full path:
// a file is left out when an exclusion matches it or when inclusions exist and none matches it;
// a folder is left out (not entered) when a folder exclusion matches its path, which is given
// without a trailing separator. An empty filter leaves nothing out. Back-references are not
// taken (see PathFilter.cpp: long paths are matched in a mode without them). Matching costs
// time linear in the path's length times the pattern's size, whatever the path holds.
//
// Threads: built on one thread, then only read; a built filter may be shared by any number of
// scanning threads.
class PathFilter {
  public:
    enum class Rule { kExcludeFile, kExcludeFolder, kIncludeFile };

    // Adds a pattern; false (and nothing added) when it is not a valid regular expression.
    bool Add(Rule rule, const std::wstring& pattern);
    // Whether pattern is a valid regular expression of this filter's kind.
    static bool IsValidPattern(const std::wstring& pattern);

    bool IsEmpty() const noexcept;
    bool SkipsFile(const std::wstring& fullPath) const;
    bool SkipsFolder(const std::wstring& fullPath) const;

  private:
    // One pattern in two forms: one for paths of usual length, one for very long paths.
    struct Pattern {
        std::wregex fast;
        std::wregex deep;
    };
    using Patterns = std::vector<Pattern>;
    static std::optional<Pattern> Compile(const std::wstring& pattern);
    static bool AnyMatches(const Patterns& patterns, const std::wstring& path);

    Patterns excludeFiles;
    Patterns excludeFolders;
    Patterns includeFiles;
};

}  // namespace devicescan::scan
