#include "host/scan/PathFilter.h"

#include <exception>
#include <utility>

namespace devicescan::scan {

namespace {

namespace flags = std::regex_constants;

// The standard library's default matcher is fast, but it recurses once or more per character a
// repetition takes: ".*\\.exe$" overflowed the 2 MiB stack of a thread on a path of 8000
// characters here (4000 passed). Paths up to this length take it, with a wide margin.
constexpr std::size_t kFastPathLimit = 512;

constexpr auto kSyntax = flags::ECMAScript | flags::icase | flags::optimize;
// Longer paths, which any stick can hold (up to 32767 characters), go to the library's
// polynomial mode (an extension), which matches by sets of states: its recursion is bounded by
// the pattern, not the path. It is about five times slower on a short path, and it takes no
// back-references, so no pattern may hold one.
constexpr auto kDeepSyntax = kSyntax | flags::__polynomial;

// The pattern with every character beyond ASCII written as a \uXXXX escape. The standard
// library's parser reads each character of a wide pattern through the narrow character set, where
// the system maps many characters to an ASCII look-alike: "\u2554" (a box corner) came out as '+'
// and the fullwidth '\uFF0A' as '*', so a name in a pattern turned into an operator. Escaped,
// every such character stands for itself, also after a backslash and inside brackets.
std::wstring AsciiOnly(const std::wstring& pattern) {
    static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
    std::wstring escaped;
    escaped.reserve(pattern.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        wchar_t c = pattern[i];
        if (c == L'\\' && i + 1 < pattern.size()) {
            c = pattern[++i];  // an escape: the backslash goes with what it escapes
            if (c < 0x80) {
                escaped += L'\\';
                escaped += c;
                continue;
            }
        }
        if (c < 0x80) {
            escaped += c;
            continue;
        }
        escaped += L"\\u";
        for (int shift = 12; shift >= 0; shift -= 4) {
            escaped += kHex[(c >> shift) & 0xF];
        }
    }
    return escaped;
}

}  // namespace

// A search tries a pattern from every position of the path, in the polynomial mode each try as
// long as the path in the worst case. Anchored at the start and led by a lazy "anything", the
// deep form makes the whole search one pass: every other start fails at once. A pattern's own ^
// and $ still mean the path's ends. The standard library reports a bad pattern by throwing;
// nothing beyond this function does.
std::optional<PathFilter::Pattern> PathFilter::Compile(const std::wstring& pattern) {
    const std::wstring ascii = AsciiOnly(pattern);
    try {
        // The fast form first and alone: inside the deep form's wrapper, "a)|(b" would pass.
        Pattern compiled{std::wregex(ascii, kSyntax),
                         std::wregex(L"^[\\s\\S]*?(?:" + ascii + L")", kDeepSyntax)};
        return compiled;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool PathFilter::IsValidPattern(const std::wstring& pattern) {
    return Compile(pattern).has_value();
}

bool PathFilter::Add(Rule rule, const std::wstring& pattern) {
    std::optional<Pattern> compiled = Compile(pattern);
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

// A search that the library gives up on counts as no match: the entry is scanned rather than
// silently dropped.
bool PathFilter::AnyMatches(const Patterns& patterns, const std::wstring& path) {
    const bool deep = path.size() > kFastPathLimit;
    for (const Pattern& pattern : patterns) {
        try {
            if (std::regex_search(path, deep ? pattern.deep : pattern.fast)) {
                return true;
            }
        } catch (const std::exception&) {
        }
    }
    return false;
}

}  // namespace devicescan::scan
