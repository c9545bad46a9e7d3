// Which options and commands a line builds: never fewer than CLI11 would
// take, or a line would parse otherwise than with every option built.
#include "CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bool IsCommand(std::string_view word) { return word == "identify" || word == "scan"; }

// The line keeps views of `words`, which outlive it in each test.
cli::CommandLine LineOf(std::vector<std::string>& words) {
    std::vector<char*> argv = {const_cast<char*>("kv618")};
    for (std::string& word : words) argv.push_back(word.data());
    return cli::CommandLine(static_cast<int>(argv.size()), argv.data(), IsCommand);
}

TEST(CommandLine, BuildsEveryFormOfANamedOptionAndNoOther) {
    std::vector<std::string> words = {"--ip=127.0.0.1", "-qa1", "identify", "--udp-portx", "9", "--trace", "-"};
    const cli::CommandLine line = LineOf(words);
    EXPECT_FALSE(line.Whole());
    EXPECT_TRUE(line.BuildsOption("--ip"));
    EXPECT_TRUE(line.BuildsOption("-a,--address")) << "a short flag among others, its value attached";
    EXPECT_TRUE(line.BuildsOption("-q,--quiet"));
    EXPECT_TRUE(line.BuildsOption("--trace"));
    EXPECT_FALSE(line.BuildsOption("--udp-port")) << "a longer word is another option";
    EXPECT_FALSE(line.BuildsOption("-p,--port"));
    EXPECT_TRUE(line.BuildsOption("WHAT")) << "a positional is taken by its place";
    EXPECT_TRUE(line.Builds("identify"));
    EXPECT_FALSE(line.Builds("scan"));
}

TEST(CommandLine, HelpOrNoCommandBuildsEverything) {
    for (std::vector<std::string> words : {std::vector<std::string>{"identify", "-h"}, {"--ip", "1.2.3.4"}, {}}) {
        const cli::CommandLine line = LineOf(words);
        EXPECT_TRUE(line.Whole());
        EXPECT_TRUE(line.BuildsOption("--baud"));
        EXPECT_TRUE(line.Builds("scan"));
    }
}

}  // namespace
