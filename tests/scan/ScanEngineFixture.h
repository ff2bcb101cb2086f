#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "host/scan/DatabaseLoader.h"
#include "host/scan/FileHasher.h"
#include "host/scan/FolderScanner.h"
#include "sdk/Utf8.h"
#include "tests/host/TempTree.h"
#include "tests/scan/ContainerWriter.h"

namespace devicescan::scan {

// A failed load shows its message.
inline void PrintTo(const DatabaseError& error, std::ostream* out) {
    *out << qv::ToUtf8(error.Message());
}

}  // namespace devicescan::scan

namespace devicescan::scan::scan_tests {

using Lines = std::vector<std::string>;

// The digests of "abc".
inline constexpr const char* kMd5 = "900150983cd24fb0d6963f7d28e17f72";
inline constexpr const char* kSha1 = "a9993e364706816aba3e25717850c26c9cd0d89d";
inline constexpr const char* kSha256 =
    "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

using devicescan::testing_support::HexOf;

// A temporary tree, and the database loaded from files in it.
class ScanEngine : public ::testing::Test {
  protected:
    std::optional<DatabaseError> Load(const std::wstring& relative) {
        auto error = DatabaseLoader(database).Load(tree.Path(relative));
        database.Seal();
        return error;
    }

    Lines Names(std::uint64_t size, HashType type, const std::string& hex) const {
        Digest digest;
        EXPECT_TRUE(Digest::FromHex(hex, type, digest));
        Lines names;
        database.Find(size, digest, names);
        return names;
    }

    // The scan's result, and its detections as "path name hashType hash size"; names, when
    // given, gets the names alone.
    std::pair<FolderScanner::Result, Lines> Scan(const std::wstring& root, Lines* names = nullptr) {
        struct Recorder final : ScanObserver {
            void OnDetection(const Detection& found) override {
                lines.push_back(qv::ToUtf8(found.path) + " " + found.name + " " +
                                found.HashTypeName() + " " + found.digest.Hex() + " " +
                                std::to_string(found.size));
                names.push_back(found.name);
            }
            void OnProgress(const ScanCounts&) override {}
            void OnLimit(const ScanLimit&) override {}
            Lines lines;
            Lines names;
        } recorder;
        database.Seal();
        const auto result = FolderScanner(database, {}).Scan(root, {}, recorder);
        if (names != nullptr) {
            *names = recorder.names;
        }
        return {result, recorder.lines};
    }

    TempTree tree;
    SignatureDatabase database;
};

}  // namespace devicescan::scan::scan_tests
