#include "app/command_line.h"
#include "app/startup_flags.h"

#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace tessell {
namespace {

using Options = std::map<std::string, std::string>;

CCommandLineInfoEx parse(const std::vector<std::string>& arguments) {
    CCommandLineInfoEx info;
    parseCommandLine(info, arguments);
    return info;
}

Options optionsOf(const CCommandLineInfoEx& info) {
    return Options(info.options().begin(), info.options().end());
}

TEST(CommandLine, OptionsTakeTheNextTokenThatIsNotAnOption) {
    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        Options expected;
    };
    const Case cases[] = {
        {"value follows", {"-f", "/img/a.bin"}, {{"f", "/img/a.bin"}}},
        {"nothing follows", {"-s"}, {{"s", "TRUE"}}},
        {"an option follows",
         {"-f", "-silent", "/img/a.bin"},
         {{"f", "TRUE"}, {"silent", "/img/a.bin"}}},
        {"value with no pending option is dropped",
         {"/img/a.bin", "-m", "x", "stray"},
         {{"m", "x"}}},
        {"names are case-sensitive", {"-F", "a", "-f", "b"}, {{"F", "a"}, {"f", "b"}}},
        {"unknown options are kept",
         {"-x", "1", "-forcerestart"},
         {{"x", "1"}, {"forcerestart", "TRUE"}}},
        {"a repeated option keeps the last value", {"-f", "a", "-f", "b"}, {{"f", "b"}}},
        {"a repeated option without value falls back to TRUE", {"-f", "a", "-f"}, {{"f", "TRUE"}}},
        {"only the first token after an option is its value",
         {"-f", "a b.bin", "c.bin"},
         {{"f", "a b.bin"}}},
        {"a leading double dash is part of the name", {"--quiet"}, {{"-quiet", "TRUE"}}},
        {"empty line", {}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(optionsOf(parse(c.arguments)), c.expected) << c.what;
}

TEST(CommandLine, ParseParamStepsAndBothLookups) {
    CCommandLineInfoEx info;
    info.ParseParam("orphan", false, false);
    info.ParseParam("w", true, false);
    info.ParseParam("f", true, false);
    info.ParseParam("/img/a.bin", false, false);
    info.ParseParam("late", false, true);

    std::string value = "untouched";
    EXPECT_TRUE(info.GetOption("w", value));
    EXPECT_EQ(value, "TRUE");
    EXPECT_TRUE(info.GetOption("f", value));
    EXPECT_EQ(value, "/img/a.bin");
    EXPECT_TRUE(info.GetOption("f"));

    value = "untouched";
    EXPECT_FALSE(info.GetOption("orphan", value));
    EXPECT_FALSE(info.GetOption("late"));
    EXPECT_FALSE(info.GetOption("W", value));
    EXPECT_EQ(value, "untouched");
    EXPECT_EQ(info.options().size(), 2u);
}

TEST(CommandLine, OnlyADashStartsAnOption) {
    EXPECT_TRUE(isOptionToken("-f"));
    EXPECT_TRUE(isOptionToken("-"));
    EXPECT_FALSE(isOptionToken("/f"));
    EXPECT_FALSE(isOptionToken("/home/line/SF.bin"));
    EXPECT_FALSE(isOptionToken(""));
    // An absolute image path after -f is its value, not a second option.
    EXPECT_EQ(optionsOf(parse({"-f", "/f"})), (Options{{"f", "/f"}}));
}

StartupFlags flagsFor(const std::vector<std::string>& arguments) {
    return applyStartupOptions(parse(arguments));
}

TEST(StartupFlags, OptionsSetTheFlagsTheyName) {
    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        StartupFlags expected;
        bool namesImage;
    };
    const Case cases[] = {
        {"nothing", {}, {}, false},
        {"f with a path", {"-f", "/img/a.bin"}, {"/img/a.bin", 1, 0, 0, 0}, true},
        {"s alone: unattended with the settings' image", {"-s"}, {"TRUE", 1, 0, 0, 0}, false},
        {"s with a path", {"-s", "/img/a.bin"}, {"/img/a.bin", 1, 0, 0, 0}, true},
        {"S with a path", {"-S", "/img/a.bin"}, {"/img/a.bin", 1, 0, 0, 0}, true},
        {"F is not an option", {"-F", "/img/a.bin"}, {}, false},
        {"silent then f", {"-silent", "-f", "/img/a.bin"}, {"/img/a.bin", 1, 0, 1, 0}, true},
        {"f then silent then a path", {"-f", "-silent", "/img/a.bin"}, {"TRUE", 1, 0, 1, 0}, false},
        {"each silent spelling", {"-Unattended"}, {"", 1, 0, 1, 0}, false},
        {"upper-case silent is not one", {"-SILENT"}, {}, false},
        {"s wins over f", {"-f", "a.bin", "-s", "b.bin"}, {"b.bin", 1, 0, 0, 0}, true},
        {"S wins over s and f",
         {"-S", "c.bin", "-s", "b.bin", "-f", "a.bin"},
         {"c.bin", 1, 0, 0, 0},
         true},
        {"m alone does not make it unattended", {"-m"}, {"", 0, 1, 0, 0}, false},
        {"m with a stray value still counts", {"-m", "x"}, {"", 0, 1, 0, 0}, false},
        {"w", {"-s", "-w"}, {"TRUE", 1, 0, 0, 1}, false},
        {"W", {"-W"}, {"", 0, 0, 0, 1}, false},
        {"forcerestart changes nothing", {"-forcerestart", "-Forcerestart"}, {}, false},
        {"y answers the question Yes", {"-s", "a.bin", "-y"}, {"a.bin", 1, 0, 0, 0, 1}, true},
        {"unknown options change nothing", {"-x", "-Y", "1"}, {}, false},
    };
    for (const auto& c : cases) {
        const auto flags = flagsFor(c.arguments);
        EXPECT_EQ(flags, c.expected) << c.what;
        EXPECT_EQ(flags.namesImage(), c.namesImage) << c.what;
    }
}

// Nothing a script gives is dropped without a word, and an empty image
// path is told apart from no path at all.
TEST(StartupFlags, UnusedArgumentsAreNamedAndAnEmptyImagePathIsKnown) {
    const auto linesFor = [](const std::vector<std::string>& arguments) {
        return unusedArguments(arguments);
    };
    EXPECT_TRUE(linesFor({"-s", "a.bin", "-silent", "-y", "-m", "-w", "-Forcerestart"}).empty());
    EXPECT_TRUE(linesFor({"-f", "-silent"}).empty()) << "f without a value: the settings' image";

    const auto typo = linesFor({"-F", "x.bin", "-silent"});
    ASSERT_EQ(typo.size(), 2u);
    EXPECT_EQ(typo[0], "tessell: unknown option \"-F\" ignored");
    EXPECT_EQ(typo[1], "tessell: \"x.bin\" ignored with the unknown option -F");
    const auto joined = linesFor({"-f=x.bin", "-silent"});
    ASSERT_EQ(joined.size(), 1u);
    EXPECT_NE(joined[0].find("\"-f=x.bin\" ignored (an option and its value are two words"),
              std::string::npos)
        << joined[0];
    const auto bare = linesFor({"x.bin", "-silent"});
    ASSERT_EQ(bare.size(), 1u);
    EXPECT_EQ(bare[0], "tessell: \"x.bin\" ignored: no option takes it (an image goes after -f)");
    const auto afterSwitch = linesFor({"-silent", "x.bin"});
    ASSERT_EQ(afterSwitch.size(), 1u);
    EXPECT_EQ(afterSwitch[0], "tessell: \"x.bin\" after -silent ignored: -silent takes no value");

    EXPECT_EQ(emptyImageOption(parse({"-f", "", "-silent"})), "-f");
    EXPECT_EQ(emptyImageOption(parse({"-s", "a.bin", "-S", ""})), "-S") << "the winning option";
    EXPECT_EQ(emptyImageOption(parse({"-f", "", "-s", "b.bin"})), "");
    EXPECT_EQ(emptyImageOption(parse({"-f"})), "");
    EXPECT_EQ(emptyImageOption(parse({"-silent"})), "");
}

} // namespace
} // namespace tessell
