// qv::String next to std::wstring: assignment, copy and move, for a drive root (short enough for
// std::wstring to keep inline) and for a path of typical length (both allocate).
#include <cstddef>
#include <string>
#include <utility>

#include "bench/Alternate.h"
#include "bench/BenchHarness.h"
#include "sdk/StringT.h"

namespace devicescan::bench {

namespace {

// Keeps the compiler from dropping work whose result is not used.
template <typename T>
void KeepAlive(const T& value) {
    asm volatile("" : : "r"(&value) : "memory");
}

struct Text {
    const char* name;
    const wchar_t* text;
};

constexpr Text kTexts[] = {
    {"drive root", L"E:\\"},
    {"path", L"C:\\Windows\\System32\\drivers\\etc\\hosts"},
};

template <typename StringT>
double Assign(const bench::Context& context, const wchar_t* text) {
    StringT target(L"0123456789012345678901234567890123456789");
    return context.NsPerOp([&](std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            target = text;
            KeepAlive(target);
        }
    });
}

template <typename StringT>
double Copy(const bench::Context& context, const wchar_t* text) {
    const StringT source(text);
    return context.NsPerOp([&](std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            StringT copy(source);
            KeepAlive(copy);
        }
    });
}

// One move per operation: the text goes back and forth between two strings.
template <typename StringT>
double Move(const bench::Context& context, const wchar_t* text) {
    StringT a(text);
    StringT b;
    return context.NsPerOp([&](std::size_t n) {
        for (std::size_t i = 0; i < n; i += 2) {
            b = std::move(a);
            KeepAlive(b);
            a = std::move(b);
            KeepAlive(a);
        }
    });
}

using Measure = double (*)(const bench::Context&, const wchar_t*);

void CompareWithPeer(const bench::Context& context, const std::string& what, Measure ours,
                     Measure peer, const wchar_t* text) {
    const auto ns = bench::Alternate(
        context, {[&] { return ours(context, text); }, [&] { return peer(context, text); }});
    context.Compare(what, "qv::String", ns[0], "std::wstring", ns[1]);
}

}  // namespace

BENCHMARK_GROUP(String) {
    for (const Text& text : kTexts) {
        const std::string name = std::string(" (") + text.name + ")";
        CompareWithPeer(context, "assign" + name, &Assign<qv::String>, &Assign<std::wstring>,
                        text.text);
        CompareWithPeer(context, "copy" + name, &Copy<qv::String>, &Copy<std::wstring>, text.text);
        CompareWithPeer(context, "move" + name, &Move<qv::String>, &Move<std::wstring>, text.text);
    }
}

}  // namespace devicescan::bench
