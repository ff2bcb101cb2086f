#pragma once

// Signature containers for the tests and the fuzzer: a header, a gzip'd or plain tar, and the
// list of files in it, each piece open to be spoiled before they are put together.
#include <string>
#include <utility>
#include <vector>

#include "host/scan/ContainerHeader.h"
#include "host/scan/FileHasher.h"
#include "tests/support/ArchiveWriter.h"

namespace test_support {

using Files = std::vector<std::pair<std::string, std::string>>;
using devicescan::scan::HashType;

// The hex digest of bytes.
inline std::string HexOf(HashType type, const std::string& bytes) {
    devicescan::scan::Digest digest;
    devicescan::scan::FileHasher::HashBytes(type, bytes.data(), bytes.size(), digest);
    return digest.Hex();
}

// The pieces of a container, each of which a test may spoil before they are put together.
struct Container {
    Files files;  // in the archive's order, the list after COPYING
    std::string infoName = "daily.info";
    std::vector<std::string> info;  // the list's lines
    bool gzip = true;
    std::uint64_t version = 1;
    std::string md5;  // of the body unless set

    explicit Container(Files inner, std::uint64_t version = 1)
        : files(std::move(inner)), version(version) {
        info.push_back("ClamAV-VDB:06 Dec 2026 21-28 +0000:" + std::to_string(version) +
                       ":1:216:X:X:t:1");
        for (const auto& [name, content] : files) {
            if (name != "COPYING") {
                info.push_back(name + ":" + std::to_string(content.size()) + ":" +
                               HexOf(HashType::kSha256, content));
            }
        }
    }

    std::string Header(const std::string& digest) const {
        const std::string text = "ClamAV-VDB:06 Dec 2026 21-28 +0000:" + std::to_string(version) +
                                 ":3:216:" + digest + ":X:tester:1796592501";
        return text + std::string(devicescan::scan::ContainerHeader::kSize - text.size(), ' ');
    }

    std::string Bytes() const { return Wrap(Tar()); }

    // The archive alone, the list first or after COPYING as sigtool puts it; and the container
    // around an archive.
    std::string Tar() const {
        std::vector<TarItem> items{{infoName, ""}};
        for (const std::string& line : info) {
            items[0].content += line + "\n";
        }
        for (const auto& [name, content] : files) {
            items.push_back({name, content});
        }
        if (!files.empty() && files[0].first == "COPYING") {
            std::swap(items[0], items[1]);
        }
        return TarOf(items);
    }
    std::string Wrap(const std::string& tar) const {
        const std::string body = gzip ? GzipOf(tar) : tar;
        return Header(md5.empty() ? HexOf(HashType::kMd5, body) : md5) + body;
    }
};

}  // namespace test_support
