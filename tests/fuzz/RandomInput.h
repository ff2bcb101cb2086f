#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace devicescan::fuzz {

// A reproducible stream of random choices: the same seed gives the same inputs on every machine
// (mt19937_64 is fully defined by the standard; its distributions are not, so none is used).
class RandomInput : public std::mt19937_64 {
  public:
    using std::mt19937_64::mt19937_64;

    // A number in [0, bound); bound must not be 0.
    std::size_t Below(std::size_t bound) { return static_cast<std::size_t>((*this)() % bound); }

    bool OneIn(std::size_t chances) { return Below(chances) == 0; }

    template <typename T>
    T Pick(const std::vector<T>& items) {
        return items[Below(items.size())];
    }

    std::string Bytes(std::size_t length) {
        std::string bytes(length, '\0');
        std::ranges::generate(bytes, [this] { return static_cast<char>((*this)()); });
        return bytes;
    }

    // Characters from anywhere in UTF-16: controls, NUL, lone surrogates, the replacement
    // character, letters of other scripts.
    std::wstring WideJunk(std::size_t length) {
        std::wstring text(length, L'\0');
        std::ranges::generate(text, [this] {
            return static_cast<wchar_t>(OneIn(2) ? 0x20 + Below(0x5F) : Below(0x10000));
        });
        return text;
    }
};

// One fuzz program: "program [count [seed]]" feeds Input count random inputs (100,000 by
// default), then Extras its fixed cases, and exits with 0 when nothing failed. The first few
// failures are printed with the input that caused them, escaped, so that a red run can be
// reproduced from its output alone.
class Fuzzer {
  public:
    int Main(int argc, char** argv) {
        name = argv[0];
        const std::size_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100000;
        random.seed(argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20261206);
        for (std::size_t i = 0; i < count; ++i) {
            Input(i);
        }
        Extras();
        std::printf("%s: %zu random inputs, the fixed cases, %zu failures\n", name, count,
                    failures);
        return failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
    }

  protected:
    virtual void Input(std::size_t index) = 0;
    virtual void Extras() {}

    // A failure unless held; the first few are printed with their input.
    void Expect(bool held, std::size_t input, const char* what, std::string_view bytes) {
        if (held || ++failures > 10) {
            return;
        }
        std::printf("%s: input %zu: %s\n  input (%zu bytes): ", name, input, what, bytes.size());
        for (const unsigned char c : bytes.substr(0, 400)) {
            std::printf(c >= 0x20 && c < 0x7F && c != '\\' ? "%c" : "\\x%02X", c);
        }
        std::printf("\n");
    }

    // What every parse is held to: a good input is taken and gives exactly what was written
    // (same); a bad one is not taken, and when refused (rather than skipped as nothing) it says
    // why (reasoned). One failure at most per input.
    void Judge(std::size_t input, std::string_view text, bool good, bool taken, bool same,
               bool reasoned) {
        Expect(good == taken, input, good ? "a good input was refused" : "a bad input was taken",
               text);
        Expect(good != taken || reasoned, input, "refused without a reason", text);
        Expect(good != taken || !taken || same, input, "the result differs from the input", text);
    }

    RandomInput random{0};

  private:
    const char* name = "";
    std::size_t failures = 0;
};

}  // namespace devicescan::fuzz
