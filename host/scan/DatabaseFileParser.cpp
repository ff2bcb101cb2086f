#include "host/scan/DatabaseFileParser.h"

#include <utility>

namespace devicescan::scan {

DatabaseFileParser::DatabaseFileParser(SignatureDatabase& database, DatabaseKind kind,
                                       std::string listStem)
    : database(database), kind(kind), listParser(std::move(listStem)) {}

bool DatabaseFileParser::Feed(std::string_view block) {
    return Dispatch(block, false);
}

bool DatabaseFileParser::Finish() {
    return Dispatch({}, true);
}

// One switch a block, not a line: the parser's own loop stays free of it.
bool DatabaseFileParser::Dispatch(std::string_view block, bool last) {
    if (failed) {
        return false;
    }
    switch (kind) {
        case DatabaseKind::kMd5Signatures:
        case DatabaseKind::kMd5Allowlist:
            return FeedWith(md5Parser, block, last);
        case DatabaseKind::kShaSignatures:
        case DatabaseKind::kShaAllowlist:
            return FeedWith(shaParser, block, last);
        case DatabaseKind::kHashList:
            return FeedWith(listParser, block, last);
        case DatabaseKind::kIgnoredNames:
            return FeedWith(ignoreParser, block, last);
        case DatabaseKind::kNone:
        case DatabaseKind::kContainer:
            break;
    }
    return true;
}

template <typename Parser>
bool DatabaseFileParser::FeedWith(const Parser& parser, std::string_view block, bool last) {
    const auto take = [&](std::string_view text) { return Take(parser, text); };
    const LineSplitter::Result result = last ? splitter.Finish(take) : splitter.Feed(block, take);
    if (result == LineSplitter::Result::kTooLong) {
        ++line;
        problem = "the line is longer than " + std::to_string(kMaxLine >> 20) + " MiB";
        failed = true;
    }
    return !failed;
}

template <typename Parser>
bool DatabaseFileParser::Take(const Parser& parser, std::string_view text) {
    if (++line == 1 && text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    switch (parser.Parse(text, signature, problem)) {
        case Parser::Result::kSignature:
            break;
        case Parser::Result::kNothing:
            return true;
        case Parser::Result::kMalformed:
            failed = true;
            return false;
    }
    switch (kind) {
        case DatabaseKind::kMd5Allowlist:
        case DatabaseKind::kShaAllowlist:
            database.Allow(signature);
            break;
        case DatabaseKind::kIgnoredNames:
            database.Ignore(signature.name);
            break;
        default:
            database.Add(signature);
            break;
    }
    return true;
}

}  // namespace devicescan::scan
