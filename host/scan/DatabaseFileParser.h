#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "host/scan/DatabaseKind.h"
#include "host/scan/HashListParser.h"
#include "host/scan/HashSignatureParser.h"
#include "host/scan/IgnoreListParser.h"
#include "host/scan/LineSplitter.h"
#include "host/scan/SignatureDatabase.h"

namespace devicescan::scan {

// Reads one database file of a kind made of lines, from blocks of its bytes as they arrive (a
// file on disk read in blocks, or a file inside a container as it is unpacked), and adds what
// each line gives to the database: signatures, allowlist entries or ignored names. The first
// malformed line ends the file. A UTF-8 byte order mark before the first line is skipped.
//
// Threads: the caller's, as the database's while loading.
class DatabaseFileParser {
  public:
    // A longer line is malformed: a stream of bytes without a line end cannot take memory
    // without bound.
    static constexpr std::size_t kMaxLine = std::size_t{16} << 20;

    // kind: a kind made of lines (not kNone or kContainer, which take nothing). listStem: the
    // file's name without folder and extension (UTF-8), which names a list's unnamed entries.
    DatabaseFileParser(SignatureDatabase& database, DatabaseKind kind, std::string listStem);

    // The next bytes of the file. False once a line is malformed (later blocks are ignored);
    // then Line and Problem tell which line and why.
    bool Feed(std::string_view block);
    // The end of the file (its last line may have no line end). False when malformed.
    bool Finish();

    std::uint64_t Line() const noexcept { return line; }
    const std::string& Problem() const noexcept { return problem; }

  private:
    template <typename Parser>
    bool FeedWith(const Parser& parser, std::string_view block, bool last);
    template <typename Parser>
    bool Take(const Parser& parser, std::string_view text);
    bool Dispatch(std::string_view block, bool last);

    SignatureDatabase& database;
    DatabaseKind kind;
    HashSignatureParser md5Parser{HashSignatureParser::Kind::kMd5Only};
    HashSignatureParser shaParser{HashSignatureParser::Kind::kSha1OrSha256};
    HashListParser listParser;
    IgnoreListParser ignoreParser;
    LineSplitter splitter{kMaxLine};
    SignatureLine signature;
    std::uint64_t line = 0;  // lines taken so far; the malformed one when failed
    std::string problem;
    bool failed = false;
};

}  // namespace devicescan::scan
