#include <gtest/gtest.h>

#include <set>

#include "pngopt/options.h"

namespace jx::quillox {
namespace {

Options Parse(std::vector<std::string> args, std::set<std::string> existing = {}) {
    ParseEnvironment env;
    env.currentDir = "/work";
    env.exists = [existing](const std::string& p) { return existing.count(p) > 0; };
    return ParseOptions(args, env);
}

std::vector<int> Enabled(const bool* flags, int low, int high) {
    std::vector<int> on;
    for (int i = low; i <= high; ++i)
        if (flags[i]) on.push_back(i);
    return on;
}

TEST(QuilloxOptions, ValueLists) {
    Options zc0 = Parse({"/zc0"});
    EXPECT_EQ(Enabled(zc0.levels.data(), 1, 9), (std::vector<int>{9}));
    Options zc = Parse({"/zc7-9,1"});
    EXPECT_EQ(Enabled(zc.levels.data(), 1, 9), (std::vector<int>{1, 7, 8, 9}));
    Options reversed = Parse({"/zc", "9-7"});
    EXPECT_EQ(Enabled(reversed.levels.data(), 1, 9), (std::vector<int>{7, 8, 9}));
    // A range with an end outside the bounds counts for nothing.
    Options outside = Parse({"/zm0-3,5"});
    EXPECT_EQ(Enabled(outside.memLevels.data(), 1, 9), (std::vector<int>{5}));
    EXPECT_EQ(outside.memMin, 5);
    EXPECT_EQ(Parse({"/zw3"}).windowBits, 11);
    EXPECT_EQ(Parse({"/zw2,5"}).windowBits, 10);

    bool flags[10] = {};
    EXPECT_FALSE(ParseValueList("x,12", 1, 9, flags));
    EXPECT_TRUE(ParseValueList("$3,0x5", 1, 9, flags));
    EXPECT_EQ(Enabled(flags, 1, 9), (std::vector<int>{3, 5}));
}

TEST(QuilloxOptions, FilterSelectionLastWins) {
    Options a = Parse({"/f1", "/fe"});
    EXPECT_EQ(Enabled(a.filters.data(), 0, 29).size(), 30u);
    Options b = Parse({"/fe", "/f1"});
    std::vector<int> expected{1};
    for (int i = 6; i < 30; ++i) expected.push_back(i);
    EXPECT_EQ(Enabled(b.filters.data(), 0, 29), expected);
    EXPECT_EQ(Enabled(Parse({"-f", "0,5"}).filters.data(), 0, 29), (std::vector<int>{0, 5}));
    EXPECT_EQ(Enabled(Parse({"/f1,2-3"}).filters.data(), 0, 29), (std::vector<int>{1, 2, 3}));
}

TEST(QuilloxOptions, NumbersAndSmallOptions) {
    // Interlace maps 0/1 to 1/2 and other numbers out of range to "as the input"; a bad number
    // keeps its digits.
    const std::pair<const char*, int> interlace[] = {{"/i0", 1}, {"/i1", 2}, {"/i-1", 0}, {"/i5", 0}, {"/i-2", -1}};
    for (auto [arg, want] : interlace) EXPECT_EQ(Parse({arg}).interlace, want) << arg;
    EXPECT_EQ(Parse({"/i", "7x"}).interlace, 7);
    EXPECT_EQ(Parse({"/g7"}).gammaMode, GammaMode::Remove);
    EXPECT_EQ(Parse({"/g0", "/gx"}).gammaMode, GammaMode::Keep);
    EXPECT_EQ(Parse({"/fs:0x105"}).heuristic, 5);
    EXPECT_EQ(Parse({"/fs:7", "/fs:q"}).heuristic, 7);

    EXPECT_TRUE(Parse({"/a", "9"}).files.empty());  // the value is taken, not a file
    EXPECT_FALSE(Parse({"/tz"}).keepTimes);
}

TEST(QuilloxOptions, QuantizeAndLossyValues) {
    Options low = Parse({"/jx", "c=1", "d=500"});
    EXPECT_EQ(low.colorCount, 2);
    EXPECT_EQ(low.ditherAmount, 100);
    EXPECT_EQ(Parse({"/jx", "d=75", "C=99999"}).colorCount, 65536);
    Options lm = Parse({"/l", "m=1"});
    EXPECT_EQ(lm.lossyQuality, 4);
    EXPECT_EQ(lm.lossyMethod, 1);
    Options lq = Parse({"/l", "q=300", "m=-3", "q=2"}, {"/work/q=2"});
    EXPECT_EQ(lq.lossyQuality, 255);
    EXPECT_EQ(lq.lossyMethod, 0);
    EXPECT_EQ(lq.files, std::vector<std::string>{"/work/q=2"});  // only two values are read
}

TEST(QuilloxOptions, MetadataChunks) {
    Options keep = Parse({"/md", "KEEP", "tEXt,bKGD"});
    EXPECT_TRUE(keep.chunkKeep);
    ASSERT_TRUE(keep.chunkList.has_value());
    EXPECT_EQ(*keep.chunkList, (std::vector<std::string>{"tEXt", "bKGD"}));
    Options remove = Parse({"/md", "remove", "color,text", "a.png"}, {"/work/a.png"});
    EXPECT_FALSE(remove.chunkKeep);
    EXPECT_EQ(remove.files.size(), 1u);
    EXPECT_EQ(*Parse({"/md", "maybe", "all"}).chunkList, std::vector<std::string>{"all"});
}

TEST(QuilloxOptions, FlagsAndNamesKeepCase) {
    Options o = Parse({"/quietly", "/INFO", "-Y", "/Force", "/r", "/Out", "My.PNG", "-dirOut/Sub", "/log",
                       "Logs/Run.TXT"});
    EXPECT_TRUE(o.quiet);
    EXPECT_TRUE(o.info);
    EXPECT_TRUE(o.noPrompt);
    EXPECT_TRUE(o.force);
    EXPECT_TRUE(o.recurse);
    EXPECT_EQ(o.outputFile, "My.PNG");
    EXPECT_EQ(o.outputDir, "Out/Sub");
    EXPECT_EQ(o.logFile, "Logs/Run.TXT");
    EXPECT_EQ(Parse({"/dir", "/tmp/Out"}).outputDir, "/tmp/Out");
}

// An option that needs a value and gets an empty one or none is noted as typed, for the run to
// refuse; options whose values are optional, or given, are not.
TEST(QuilloxOptions, MissingValuesAreNoted) {
    const std::vector<std::vector<std::string>> missing = {
        {"/a"}, {"/i", ""}, {"/g"}, {"/n"}, {"-o"}, {"/f", ""}, {"/z"}, {"/zc"}, {"/ZM", ""}, {"/fs:"},
        {"/md"}, {"/md", "keep"}, {"/md", "", "all"}, {"/md", "keep", ""}, {"/out"}, {"/Out", ""}, {"-dir"}, {"/log", ""}};
    for (const auto& args : missing) EXPECT_EQ(Parse(args).missingValues, std::vector<std::string>{args[0]}) << args[0];
    EXPECT_EQ(Parse({"/out", "", "a.png", "/dir"}, {"/work/a.png"}).missingValues, (std::vector<std::string>{"/out", "/dir"}));
    const std::vector<std::vector<std::string>> given = {
        {"/fe"}, {"/jx"}, {"/l"}, {"/y"}, {"/t"}, {"/tz"}, {"/sfs"}, {"/o", "5"}, {"/o4"}, {"/f0,5"}, {"/zc", "9"},
        {"/md", "keep", "all"}, {"/out", "x.png"}, {"/outx.png"}, {"/dir", "d"}, {"/quiet"}, {"/inf"}, {"/force"}};
    for (const auto& args : given) EXPECT_TRUE(Parse(args).missingValues.empty()) << args[0];
}

TEST(QuilloxOptions, SlashPathsAreFiles) {
    // A second "/" or an existing path makes a "/" parameter a file, never an option.
    Options o = Parse({"/tmp/x/0.png", "/r"});
    EXPECT_TRUE(o.recurse);
    EXPECT_EQ(o.files, std::vector<std::string>{"/tmp/x/0.png"});  // kept, for the run to refuse
    Options e = Parse({"/tmp/x/0.png", "/r"}, {"/tmp/x/0.png"});
    EXPECT_EQ(e.files, std::vector<std::string>{"/tmp/x/0.png"});
    EXPECT_FALSE(Parse({"/tmp/x/0.png"}, {"/tmp/x/0.png"}).keepTimes);
    Options root = Parse({"/r"}, {"/r"});
    EXPECT_FALSE(root.recurse);
    EXPECT_EQ(root.files, std::vector<std::string>{"/r"});
    Options mask = Parse({"/data/*.PNG", "Img.png", "sub/b.bmp", "/unknown"}, {"/work/Img.png", "sub/b.bmp"});
    EXPECT_EQ(mask.files, (std::vector<std::string>{"/data/*.PNG", "/work/Img.png", "sub/b.bmp", "/unknown"}));
    // A path option with its value glued on, unless the parameter names an existing path.
    Options glued = Parse({"/dir/tmp/o", "/OUT/tmp/r.png", "/log/tmp/l.txt"});
    EXPECT_EQ(glued.outputDir, "/tmp/o");
    EXPECT_EQ(glued.outputFile, "/tmp/r.png");
    EXPECT_EQ(glued.logFile, "/tmp/l.txt");
    EXPECT_TRUE(glued.files.empty());
    Options real = Parse({"/dir/tmp/o"}, {"/dir/tmp/o"});
    EXPECT_EQ(real.files, std::vector<std::string>{"/dir/tmp/o"});
    EXPECT_TRUE(real.outputDir.empty());
}

// A count, amount, quality or method that is empty, no number or negative would be read as 0 and
// clamped into a lossy setting: each is noted, naming the parameter, for the run to refuse.
TEST(QuilloxOptions, KeyedValuesThatAreNoNumbersAreNoted) {
    EXPECT_EQ(Parse({"/jx", "c=", "a.png"}).missingValues, std::vector<std::string>{"c="});
    EXPECT_EQ(Parse({"/l", "Q="}).missingValues, std::vector<std::string>{"Q="});
    const std::pair<std::vector<std::string>, std::string> bad[] = {
        {{"/jx", "c=abc"}, "/jx: c=abc is not a colour count"}, {{"-jx", "c=-5"}, "-jx: c=-5 is not a colour count"},
        {{"/jx", "c=8", "d=x"}, "/jx: d=x is not a dither amount"}, {{"/l", "q=4x"}, "/l: q=4x is not a quality"},
        {{"/l", "m=-1"}, "/l: m=-1 is not a method"}};
    for (const auto& [args, line] : bad) {
        const Options o = Parse(args);
        EXPECT_EQ(o.badValues, std::vector<std::string>{line}) << line;
        EXPECT_TRUE(o.missingValues.empty()) << line;
    }
    const Options good = Parse({"/jx", "c=$10", "d=0", "/l", "q=0", "m=1"});
    EXPECT_TRUE(good.badValues.empty());
    EXPECT_EQ(good.colorCount, 16);
    EXPECT_EQ(good.lossyMethod, 1);
}

// A name beginning with "-" that names an existing file is that file, as a "/" one already is.
TEST(QuilloxOptions, DashNamesOfExistingFilesAreFiles) {
    const Options o = Parse({"-l.png", "-out.png", "-jx.png", "-y.png", "-o4", "-r"},
                            {"-l.png", "-out.png", "-jx.png", "-y.png"});
    EXPECT_EQ(o.files, (std::vector<std::string>{"/work/-l.png", "/work/-out.png", "/work/-jx.png", "/work/-y.png"}));
    EXPECT_EQ(o.lossyQuality, 0);
    EXPECT_TRUE(o.outputFile.empty());
    EXPECT_FALSE(o.quantize);
    EXPECT_FALSE(o.noPrompt);
    EXPECT_EQ(o.interlace, 1);  // "-o4" names no file: still the option
    EXPECT_TRUE(o.recurse);
    EXPECT_EQ(Parse({"-l"}).lossyQuality, 4);
}

// An option that takes its value from the next parameter and finds there an existing file that is
// none of its values has swallowed that file: noted for the run to refuse. A value that is one of
// the option's stays a value, whatever files exist.
TEST(QuilloxOptions, ValuesThatAreFilesAreNoted) {
    const std::set<std::string> files = {"a.png", "b.png", "max", "all"};
    const std::pair<std::vector<std::string>, std::string> bad[] = {
        {{"/o", "a.png", "b.png"}, "/o: a.png is not a level"},
        {{"-O", "a.png"}, "-O: a.png is not a level"},
        {{"/i", "a.png"}, "/i: a.png is not a number"},
        {{"/a", "a.png"}, "/a: a.png is not 0 or 1"},
        {{"/n", "a.png"}, "/n: a.png is not a, c, p or z"},
        {{"/f", "a.png"}, "/f: a.png is not a list of filters"},
        {{"/zc", "a.png"}, "/zc: a.png is not a list of values"},
        {{"/md", "remove", "a.png", "b.png"}, "/md: a.png is not a list of chunks"},
        {{"/md", "a.png", "all"}, "/md: a.png is not keep or remove"}};
    for (const auto& [args, line] : bad) EXPECT_EQ(Parse(args, files).badValues, std::vector<std::string>{line}) << line;
    for (const std::vector<std::string>& args : {std::vector<std::string>{"/o", "max", "a.png"}, {"/md", "remove", "all"},
                                                 {"/o", "5"}, {"/o", "c.png"}, {"/oa.png"}, {"/md", "keep", "tEXt,text"}})
        EXPECT_TRUE(Parse(args, files).badValues.empty()) << args[1];
}

}  // namespace
}  // namespace jx::quillox
