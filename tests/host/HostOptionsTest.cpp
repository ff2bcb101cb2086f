#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HostOptions.h"

namespace {

using host::HostOptions;

std::optional<HostOptions> Parse(const std::vector<std::wstring>& args,
                                 std::wstring* error = nullptr) {
    std::wstring problem;
    auto options = HostOptions::Parse(args, problem);
    if (error != nullptr) {
        *error = problem;
    }
    return options;
}

TEST(HostOptions, DefaultsReadStdinScanAndPrintText) {
    const auto options = Parse({});
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->modulePath.empty());
    EXPECT_FALSE(options->json);
    EXPECT_EQ(options->seconds, 0u);
    EXPECT_TRUE(options->readStdin);
    EXPECT_TRUE(options->scan);
    EXPECT_EQ(options->progressEvery, 1000u);
    EXPECT_EQ(options->scanPauseMs, 0u);
    EXPECT_FALSE(options->verbose);
    EXPECT_FALSE(options->help);
}

TEST(HostOptions, TakesValuesAsNextArgumentOrAfterEquals) {
    const auto options = Parse({L"--module", L"C:\\my dir\\devicescan.dll", L"--json",
                                L"--seconds=30", L"--no-stdin", L"--no-scan", L"--progress", L"0",
                                L"--scan-pause=250", L"--verbose"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->modulePath, L"C:\\my dir\\devicescan.dll");
    EXPECT_TRUE(options->json);
    EXPECT_EQ(options->seconds, 30u);
    EXPECT_FALSE(options->readStdin);
    EXPECT_FALSE(options->scan);
    EXPECT_EQ(options->progressEvery, 0u);
    EXPECT_EQ(options->scanPauseMs, 250u);
    EXPECT_TRUE(options->verbose);

    EXPECT_EQ(Parse({L"--progress", L"18446744073709551615"})->progressEvery,
              18446744073709551615ull);
    EXPECT_TRUE(Parse({L"--help"})->help);
    EXPECT_TRUE(Parse({L"/?"})->help);
}

TEST(HostOptions, RejectsWhatItDoesNotKnowWithAReason) {
    struct Case {
        std::vector<std::wstring> args;
        std::wstring reason;
    };
    const std::vector<Case> cases = {
        {{L"--frobnicate"}, L"unknown option --frobnicate"},
        {{L"-json"}, L"unknown option -json"},
        {{L"devicescan.dll"}, L"unexpected argument devicescan.dll"},
        {{L"--module"}, L"--module needs a value"},
        {{L"--module="}, L"--module needs a value"},
        {{L"--seconds"}, L"--seconds needs a value"},
        {{L"--seconds", L"0"}, L"--seconds needs a whole number from 1"},
        {{L"--seconds", L"-5"}, L"--seconds needs a whole number"},
        {{L"--seconds", L"5s"}, L"--seconds needs a whole number"},
        {{L"--seconds", L" 5"}, L"--seconds needs a whole number"},
        {{L"--seconds", L"100000001"}, L"--seconds needs a whole number"},
        {{L"--progress", L"18446744073709551616"}, L"--progress needs a whole number"},
        {{L"--scan-pause", L"60001"}, L"--scan-pause needs a whole number from 0 to 60000"},
        {{L"--json=yes"}, L"--json takes no value"},
        {{L"--no-stdin=1"}, L"--no-stdin takes no value"},
    };
    for (const Case& c : cases) {
        std::wstring error;
        EXPECT_FALSE(Parse(c.args, &error)) << c.args.front();
        EXPECT_EQ(error.rfind(c.reason, 0), 0u)
            << "got: " << std::string(error.begin(), error.end());
    }
}

}  // namespace
