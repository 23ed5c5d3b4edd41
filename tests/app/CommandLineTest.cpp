#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "tests/support/ChildProcess.h"

namespace {
struct Parsed {
    ParseResult result;
    std::string output;
};

Parsed parse(const char* commandLine, ConnectionValues& values) {
    testing::internal::CaptureStdout();
    ParseResult result = parseCommandLine(commandLine, values);
    return {result, testing::internal::GetCapturedStdout()};
}

std::string arguments(const ConnectionValues& values) {
    std::string text;
    for (unsigned i = 0; i < values.argumentCount; ++i)
        text += std::string("[") + values.arguments[i] + "]";
    return text;
}

TEST(CommandLineTest, PositionalArguments) {
    struct Case {
        const char* commandLine;
        const char* arguments;
    } cases[] = {
        {"", ""},
        {"  \t ", ""},
        {"10.0.0.1", "[10.0.0.1]"},
        {"10.0.0.1:8080\tadmin   secret", "[10.0.0.1:8080][admin][secret]"},
        {"10.0.0.1 admin \"\"", "[10.0.0.1][admin][]"},
        {"\"a b\" c", "[\"a][b\"][c]"},  // quotes do not group
        {"1 2 3 4 5", "[1][2][3][4][5]"},
        {"1 2 3 4 5 6 7 8 9 10 11 12", "[1][2][3][4][5][6][7][8][9]"},
        {"-H --Help -x", "[-H][--Help][-x]"},  // options are exact and case-sensitive
    };
    for (const Case& c : cases) {
        ConnectionValues values;
        Parsed parsed = parse(c.commandLine, values);
        EXPECT_EQ(ParseResult::Continue, parsed.result) << c.commandLine;
        EXPECT_EQ(c.arguments, arguments(values)) << c.commandLine;
        EXPECT_EQ("", parsed.output) << c.commandLine;
        EXPECT_FALSE(values.directLink);
    }
}

TEST(CommandLineTest, HelpAnywhereStopsWithTheUsageLine) {
    for (const char* line : {"-h", "10.0.0.1 -?", "--help", "a b c d e f g h i j --help"}) {
        ConnectionValues values;
        Parsed parsed = parse(line, values);
        EXPECT_EQ(ParseResult::Help, parsed.result) << line;
        EXPECT_EQ("usage: tarsel [<connect-to> [<login> [<password>]]]\n", parsed.output) << line;
    }
}

TEST(CommandLineTest, DirectLinkLoadsLibrariesAndTheLastRunWins) {
    ConnectionValues values;
    Parsed parsed = parse("10.0.0.1 -- withrun.dll norun.dll 10.0.0.2 withrun2.dll", values);
    EXPECT_EQ(ParseResult::Continue, parsed.result);
    EXPECT_TRUE(values.directLink);
    EXPECT_EQ("[10.0.0.1]", arguments(values));  // after "--" nothing is positional
    ASSERT_NE(nullptr, values.directEntry);
    EXPECT_EQ(reinterpret_cast<void*>(values.directEntry),
              reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("withrun2.dll"), "run")));
    EXPECT_NE(GetProcAddress(GetModuleHandleA("withrun.dll"), "run"),
              GetProcAddress(GetModuleHandleA("withrun2.dll"), "run"));

    // The address-like token was tried as a library and failed with the system's error number.
    HMODULE missing = LoadLibraryExA(".\\10.0.0.2", nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const long error = static_cast<long>(GetLastError());
    EXPECT_EQ(nullptr, missing);
    EXPECT_NE(0, error);
    EXPECT_EQ(
        "linking .\\withrun.dll\n"
        "lib .\\withrun.dll loaded\n"
        "linking .\\norun.dll\n"
        "lib .\\norun.dll loaded\n"
        "linking .\\10.0.0.2\n"
        "lib .\\10.0.0.2 not loaded error=" +
            std::to_string(error) +
            "\n"
            "linking .\\withrun2.dll\n"
            "lib .\\withrun2.dll loaded\n",
        parsed.output);
}

TEST(CommandLineTest, DirectLinkWithoutRunLeavesNoEntry) {
    ConnectionValues values;
    Parsed parsed = parse("-- norun.dll nosuch.dll", values);
    EXPECT_TRUE(values.directLink);
    EXPECT_EQ(nullptr, values.directEntry);
    EXPECT_NE(std::string::npos, parsed.output.find("lib .\\nosuch.dll not loaded error=126\n"));
}

TEST(CommandLineTest, HelpAfterLibrariesLinksThemFirst) {
    ConnectionValues values;
    Parsed parsed = parse("-- withrun.dll --help withrun2.dll", values);
    EXPECT_EQ(ParseResult::Help, parsed.result);
    EXPECT_EQ(
        "linking .\\withrun.dll\nlib .\\withrun.dll loaded\n"
        "usage: tarsel [<connect-to> [<login> [<password>]]]\n",
        parsed.output);
}

TEST(CommandLineTest, LongLibraryNamesAreCut) {
    ConnectionValues values;
    const std::string name(100, 'x');
    Parsed parsed = parse(("-- " + name).c_str(), values);
    EXPECT_EQ(0u, parsed.output.find("linking .\\" + std::string(77, 'x') + "\n"));
}

TEST(CommandLineTest, ArgumentsFillTheConnectionValues) {
    ConnectionValues values;
    const std::string longLogin(200, 'L');
    parse(("10.0.0.1:8080 " + longLogin + " \"\" extra").c_str(), values);
    std::snprintf(values.host, sizeof values.host, "stale");
    values.port = 1234;
    takeArguments(values);
    EXPECT_STREQ("10.0.0.1:8080", values.address);
    EXPECT_EQ(std::string(127, 'L'), values.login);
    EXPECT_STREQ("", values.password);
    EXPECT_STREQ("", values.host);
    EXPECT_EQ(80, values.port);
}

// A redirected standard output is a text-mode stream: lines end in CR LF on disk.
TEST(ProgramTest, HelpEndsWithStatusZeroAndReachesRedirectedOutput) {
    ChildResult run = runChild("tarsel.exe 10.0.0.1 --help");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ("usage: tarsel [<connect-to> [<login> [<password>]]]\r\n", run.output);
}

TEST(ProgramTest, DirectLinkLinesReachRedirectedOutput) {
    ChildResult run = runChild("tarsel.exe -- norun.dll -h");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(
        "linking .\\norun.dll\r\nlib .\\norun.dll loaded\r\nusage: tarsel [<connect-to> [<login> [<password>]]]\r\n",
        run.output);
}
}  // namespace
