#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "host/scan/DatabaseLoader.h"
#include "host/scan/FileHasher.h"
#include "host/scan/FolderScanner.h"
#include "sdk/Utf8.h"
#include "tests/support/ContainerWriter.h"
#include "tests/support/TempTree.h"

namespace devicescan::scan {

// A failed load shows its message.
inline void PrintTo(const DatabaseError& error, std::ostream* out) {
    *out << qv::ToUtf8(error.Message());
}

}  // namespace devicescan::scan

namespace devicescan::scan::scan_tests {

using Lines = std::vector<std::string>;
using ::test_support::Container;
using ::test_support::Files;
using ::test_support::HexOf;

// The digests of "abc".
inline const std::string kMd5 = "900150983cd24fb0d6963f7d28e17f72";
inline const std::string kSha1 = "a9993e364706816aba3e25717850c26c9cd0d89d";
inline const std::string kSha256 =
    "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

// A temporary tree, and the database loaded from files in it.
class ScanEngine : public ::testing::Test {
  protected:
    // Writes each file (name and content) into the folder, relative to the tree.
    void Write(const std::wstring& folder, const Files& files) {
        for (const auto& [name, content] : files) {
            tree.Write(folder + L"\\" + qv::FromUtf8(name), content);
        }
    }

    // Loads into a new, sealed database.
    std::optional<DatabaseError> Load(const std::wstring& relative) {
        database = SignatureDatabase();
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

    // A scan's result, its detections as "path name hashType hash size", and their names alone.
    struct Scanned final : ScanObserver {
        void OnDetection(const Detection& found) override {
            detections.push_back(qv::ToUtf8(found.path) + " " + found.name + " " +
                                 found.HashTypeName() + " " + found.digest.Hex() + " " +
                                 std::to_string(found.size));
            names.push_back(found.name);
        }
        void OnProgress(const ScanCounts&) override {}
        void OnLimit(const ScanLimit&) override {}
        FolderScanner::Result result;
        Lines detections;
        Lines names;
    };
    Scanned Scan(const std::wstring& relative, FolderScanner::Options options = {}) {
        Scanned scanned;
        database.Seal();
        scanned.result = FolderScanner(database, options).Scan(tree.Path(relative), {}, scanned);
        return scanned;
    }

    test_support::TempTree tree;
    SignatureDatabase database;
};

}  // namespace devicescan::scan::scan_tests
