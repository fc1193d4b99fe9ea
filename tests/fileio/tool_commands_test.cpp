#include <gtest/gtest.h>

#include <sstream>

#include "fileio/errors.h"
#include "fileio/tool_commands.h"

using namespace jx;

namespace {

const std::string S = "/tmp/JX_session_0000ABCD/";
const std::string T = S + "0001F00D";

std::vector<std::string> Texts(const std::vector<PngChainStep>& steps) {
    std::vector<std::string> out;
    for (const auto& s : steps) out.push_back(s.kind == PngChainStep::Kind::Run ? s.command.Text() : "copy");
    return out;
}

bool Has(const std::vector<std::string>& v, const std::string& item) {
    return std::find(v.begin(), v.end(), item) != v.end();
}

}  // namespace

TEST(PngChainSteps, CommandsOfEachLevel) {
    PngChainOptions o;
    o.forcedRgb = true;
    EXPECT_EQ(Texts(PngChainSteps(o, S, true)),
              (std::vector<std::string>{S + "quillox -quiet -y -nc -o4 " + S + "0.png", S + "deflopt " + S + "0.png"}));
    o.forcedRgb = false;
    o.level = PngLevelFast;
    // The folder prefix gains its '/' when given without one, and DeflOpt is left out when absent.
    EXPECT_EQ(Texts(PngChainSteps(o, S.substr(0, S.size() - 1), false)),
              (std::vector<std::string>{S + "quillox -quiet -y -o1 " + S + "0.png"}));

    o.level = PngLevelSlow;
    auto slow = PngChainSteps(o, S, true);
    EXPECT_EQ(Texts(slow), (std::vector<std::string>{S + "quillox -quiet -y -o4 " + S + "0.png", "copy",
                                                      S + "advdef -z -f -q -3 " + S + "1.png", S + "deflopt " + S + "0.png",
                                                      S + "deflopt " + S + "1.png"}));
    EXPECT_EQ(slow[2].target, S + "1.png");
    EXPECT_EQ(slow[3].target, S + "0.png");

    o.level = PngLevelVerySlow;
    o.iter = " 20 ";
    auto verySlow = Texts(PngChainSteps(o, S, false));
    ASSERT_EQ(verySlow.size(), 3u);
    EXPECT_EQ(verySlow[2], S + "advdef -z -f -q -4 -i 20 " + S + "1.png");

    o.level = PngLevelScript;
    o.showConsole = true;
    auto script = PngChainSteps(o, S, true, "/home/u/my opt.sh");
    ASSERT_EQ(script.size(), 1u);
    EXPECT_EQ(script[0].command.argv, (std::vector<std::string>{"/home/u/my opt.sh", S + "0.png"}));
    EXPECT_TRUE(script[0].shown);
    EXPECT_THROW(PngChainSteps(o, S, true), FileIoError);

    o.level = 5;
    EXPECT_THROW(PngChainSteps(o, S, true), FileIoError);
}

TEST(PngChainSteps, IterationsAreChecked) {
    EXPECT_EQ(ParseIterations("1"), 1);
    EXPECT_EQ(ParseIterations(" 1000\t"), 1000);
    for (const char* bad : {"", "  ", "abc", "0", "1001", "-5", "+5", "1e2", "12x", "99999999999"})
        EXPECT_THROW(ParseIterations(bad), FileIoError) << bad;
}

TEST(CjpegCommand, SettingsAndTheInstalledEncodersOptions) {
    JpegEncodeSettings s;
    EXPECT_EQ(CjpegCommand("cjpeg", s, T, T + ".txt").argv,
              (std::vector<std::string>{"cjpeg", "-outfile", T + ".jpg", "-quality", "75", "-sample", "2x2", "-optimize",
                                        "-qtables", T + ".txt", "-progressive", T + ".bmp"}));

    // RGB drops chroma quality and subsampling; a chroma quality of its own joins the quality.
    JpegEncodeSettings rgb;
    rgb.rgb = true;
    rgb.chromaQuality = 50;
    const std::string text = CjpegCommand("cjpeg", rgb, T, T + ".txt").Text();
    EXPECT_NE(text.find(" -rgb"), std::string::npos);
    EXPECT_EQ(text.find(','), std::string::npos);
    EXPECT_NE(text.find(" -sample 1x1"), std::string::npos);
    JpegEncodeSettings c;
    c.chromaQuality = 50;
    EXPECT_NE(CjpegCommand("cjpeg", c, T, T + ".txt").Text().find(" -quality 75,50 "), std::string::npos);
    c.subsampling = 7;
    EXPECT_EQ(CjpegCommand("cjpeg", c, T, T + ".txt").Text().find("-sample"), std::string::npos);

    JpegEncodeSettings plain;
    plain.quantTable = 0;
    plain.progressive = false;
    plain.trellis = false;
    plain.arithmetic = true;
    auto argv = CjpegCommand("cjpeg", plain, T, T + ".txt").argv;
    for (const char* gone : {"-qtables", "-quant-table", "-progressive", "-baseline", "-notrellis", "-optimize"})
        EXPECT_FALSE(Has(argv, gone)) << gone;
    EXPECT_TRUE(Has(argv, "-arithmetic"));
}

TEST(CjpegCommand, QuantTableFilesHoldTwoTablesOfValidValues) {
    for (int pair : {0, 1, 3}) {
        std::istringstream in(QuantTableFileText(static_cast<uint8_t>(pair)));
        int count = 0;
        for (std::string line; std::getline(in, line);) {
            if (line.empty() || line[0] == '#') continue;
            std::istringstream nums(line);
            for (int v; nums >> v; ++count) EXPECT_TRUE(v >= 1 && v <= 32767);
        }
        EXPECT_EQ(count, 128) << pair;
    }
    EXPECT_THROW(QuantTableFileText(5), FileIoError);
}

TEST(CwebpCommand, LossyAndLossless) {
    WebpEncodeSettings s;
    EXPECT_EQ(CwebpCommand(S + "cwebp", s, T).Text(),
              S + "cwebp -preset default -o " + T + ".webp -mt -q 75 -alpha_q 100 -f 0 -sns 80 -m 4 -alpha_filter fast"
                  " -alpha_cleanup " + T + ".png");
    s.lossless = true;
    s.alphaCleanup = false;
    s.autoFilter = true;
    std::string text = CwebpCommand("cwebp", s, T).Text();
    EXPECT_NE(text.find(" -lossless"), std::string::npos);
    for (const char* gone : {" -q ", " -alpha_q ", " -f ", " -sns ", " -m ", " -alpha_filter ", " -alpha_cleanup"})
        EXPECT_EQ(text.find(gone), std::string::npos) << gone;
    s.lossless = false;
    s.alphaFilter = 2;
    EXPECT_NE(CwebpCommand("cwebp", s, T).Text().find(" -alpha_filter best -af "), std::string::npos);
    s.alphaFilter = 3;
    EXPECT_THROW(CwebpCommand("cwebp", s, T), FileIoError);
}
