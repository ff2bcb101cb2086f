#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace devicescan::fuzz {

// A reproducible stream of random choices: the same seed gives the same inputs on every machine
// (mt19937_64 is fully specified; the standard distributions are not, so none is used).
class RandomInput {
  public:
    explicit RandomInput(std::uint64_t seed) : engine(seed) {}

    std::uint64_t Next() { return engine(); }

    // A number in [0, bound); bound must not be 0.
    std::size_t Below(std::size_t bound) { return static_cast<std::size_t>(engine() % bound); }

    bool OneIn(std::size_t chances) { return Below(chances) == 0; }

    template <typename T>
    const T& Pick(const std::vector<T>& items) {
        return items[Below(items.size())];
    }

    std::string Bytes(std::size_t length) {
        std::string bytes(length, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(engine());
        }
        return bytes;
    }

    // Characters from anywhere in UTF-16: controls, NUL, lone surrogates, the replacement
    // character, letters of other scripts.
    std::wstring WideJunk(std::size_t length) {
        std::wstring text(length, L'\0');
        for (wchar_t& c : text) {
            c = static_cast<wchar_t>(OneIn(2) ? 0x20 + Below(0x5F) : Below(0x10000));
        }
        return text;
    }

    // bytes with a few random edits: flipped bits, bytes inserted or removed, a cut at the end.
    std::string Mutate(std::string bytes) {
        for (std::size_t edits = 1 + Below(4); edits > 0; --edits) {
            const std::size_t at = bytes.empty() ? 0 : Below(bytes.size());
            switch (Below(4)) {
                case 0:
                    if (!bytes.empty()) {
                        bytes[at] = static_cast<char>(bytes[at] ^ (1 << Below(8)));
                    }
                    break;
                case 1:
                    bytes.insert(at, Bytes(1 + Below(8)));
                    break;
                case 2:
                    bytes.erase(at, 1 + Below(8));
                    break;
                default:
                    bytes.resize(at);
                    break;
            }
        }
        return bytes;
    }

  private:
    std::mt19937_64 engine;
};

// Counts the inputs of a run and the failures among them; prints the first few failures with the
// input that caused them, escaped, so that a red run can be reproduced from its output alone.
class FuzzTally {
  public:
    explicit FuzzTally(const char* name) : name(name) {}

    void Tried() { ++inputs; }

    void Fail(std::size_t input, const char* what, std::string_view bytes) {
        if (++failures <= kShown) {
            std::printf("%s: input %zu: %s\n  input: %s\n", name, input, what,
                        Escaped(bytes).c_str());
        }
    }

    void Fail(std::size_t input, const char* what, std::wstring_view text) {
        Fail(input, what,
             std::string_view(reinterpret_cast<const char*>(text.data()),
                              text.size() * sizeof(wchar_t)));
    }

    // The summary line; the program's exit code.
    int Finish() const {
        std::printf("%s: %zu inputs, %zu failures\n", name, inputs, failures);
        return failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
    }

  private:
    static constexpr std::size_t kShown = 10;
    static constexpr std::size_t kEscapedBytes = 400;

    static std::string Escaped(std::string_view bytes) {
        std::string text;
        for (const char c : bytes.substr(0, kEscapedBytes)) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
                text += c;
                continue;
            }
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            text += escape;
        }
        if (bytes.size() > kEscapedBytes) {
            text += "... (" + std::to_string(bytes.size()) + " bytes)";
        }
        return text;
    }

    const char* name;
    std::size_t inputs = 0;
    std::size_t failures = 0;
};

// The number of inputs and the seed of a run: "program [count [seed]]".
struct FuzzRun {
    std::size_t count;
    std::uint64_t seed;

    static FuzzRun FromArguments(int argc, char** argv, std::size_t count, std::uint64_t seed) {
        if (argc > 1) {
            count = std::strtoull(argv[1], nullptr, 10);
        }
        if (argc > 2) {
            seed = std::strtoull(argv[2], nullptr, 10);
        }
        return {count, seed};
    }
};

}  // namespace devicescan::fuzz
