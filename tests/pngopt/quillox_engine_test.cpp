#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "common/test_data.h"
#include "pngopt/output.h"
#include "pngopt/trial_engine.h"
#include "pngopt/trials.h"
#include "quillox_test_util.h"

namespace jx::quillox {
namespace {
namespace fs = std::filesystem;
using test::Opts;

OutputImage Suite(const std::string& name, bool interlace = false) {
    WorkImage image = ReadInputFile((jx::test::PngSuiteDir() / (name + ".png")).string(), ReadSettings{});
    OutputImage out = BuildOutputImage(image, Opts({}));
    out.interlace = interlace;
    return out;
}

EncodeSettings Trial(uint8_t filterSet, int heuristic, int strategy = 0, int level = 9, int memLevel = 9) {
    EncodeSettings s;
    s.filterSet = filterSet;
    s.heuristic = heuristic;
    s.strategy = strategy;
    s.level = level;
    s.memLevel = memLevel;
    return s;
}

// The engine's file is the encoder's, byte for byte, whatever it shares between trials.
TEST(QuilloxEngine, WritesTheEncodersFile) {
    for (const char* name : {"basn2c08", "basn3p04", "basn4a16", "f02n0g08"}) {
        for (bool interlace : {false, true}) {
            for (const EncodeSettings& s : {Trial(0x1F, 2), Trial(0x1F, 7, 1, 8, 7), Trial(0x06, 4, 3), Trial(0x04, 0)}) {
                SCOPED_TRACE(std::string(name) + (interlace ? " interlaced" : "") + " h" + std::to_string(s.heuristic));
                OutputImage image = Suite(name, interlace);
                const EncodedPng expected = EncodePngJx(image, s);
                TrialEngine engine(image, nullptr, false);
                std::vector<EngineOutcome> r = engine.Run({{s, 0}}, {0});
                ASSERT_FALSE(r[0].lost);
                EXPECT_EQ(r[0].fileSize, expected.bytes.size());
                EXPECT_EQ(r[0].fingerprint, expected.fingerprint);
                EncodedPng file = engine.BestFile();
                EXPECT_EQ(file.bytes, expected.bytes);
                EXPECT_EQ(file.idatSize, expected.idatSize);
            }
        }
    }
}

// A smooth RGB gradient: filtered it packs tightly, unfiltered and Huffman-only it does not.
OutputImage Gradient(uint32_t w, uint32_t h) {
    OutputImage out;
    out.width = w;
    out.height = h;
    out.colorType = kPngRgb;
    out.rowBytes = uint64_t(w) * 3;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (uint32_t c = 0; c < 3; ++c) out.rows.push_back(uint8_t(x * (c + 1) + y * (3 - c)));
    return out;
}

TEST(QuilloxEngine, AbandonedTrialsNeverChangeTheWinner) {
    const OutputImage image = Gradient(300, 300);
    const EncodeSettings good = Trial(0x1F, 2), poor = Trial(0x01, 2, 2);
    TrialEngine engine(image, nullptr, false);
    std::vector<EngineOutcome> r = engine.Run({{good, 0}, {poor, 1}, {poor, 2}}, {0, 1, 2});
    EXPECT_FALSE(r[0].lost);
    EXPECT_TRUE(r[1].lost);
    EXPECT_TRUE(r[2].lost);
    EXPECT_EQ(engine.BestFile().bytes, EncodePngJx(image, good).bytes);
}

TEST(QuilloxEngine, AbandonsOnlyTrialsThatCannotWin) {
    const OutputImage image = Suite("basn2c08");
    const EncodeSettings good = Trial(0x1F, 2), poor = Trial(0x01, 2, 2);
    ASSERT_LT(EncodePngJx(image, good).bytes.size(), EncodePngJx(image, poor).bytes.size());
    {
        // The same trial twice: deflated once, and the earlier one of equal size wins the tie.
        TrialEngine engine(image, nullptr, false);
        std::vector<EngineOutcome> r = engine.Run({{good, 7}, {good, 3}}, {0, 1});
        EXPECT_FALSE(r[0].lost);
        EXPECT_FALSE(r[1].lost);
        EXPECT_EQ(r[0].fileSize, r[1].fileSize);
        EXPECT_EQ(engine.BestSeq(), 3);
    }
    {
        // A poorer trial run after a finished better one is abandoned; one run first is measured.
        TrialEngine engine(image, nullptr, false);
        std::vector<EngineOutcome> r = engine.Run({{poor, 0}, {good, 1}, {poor, 2}}, {0, 1, 2});
        EXPECT_FALSE(r[0].lost);
        EXPECT_EQ(r[0].fileSize, EncodePngJx(image, poor).bytes.size());
        EXPECT_EQ(engine.BestSeq(), 1);
    }
    {
        // Bounds only from earlier trials: a later best does not abandon an earlier trial.
        TrialEngine engine(image, nullptr, true);
        std::vector<EngineOutcome> r = engine.Run({{poor, 0}, {good, 1}}, {1, 0});
        EXPECT_FALSE(r[0].lost);
        EXPECT_EQ(r[0].fileSize, EncodePngJx(image, poor).bytes.size());
    }
    {
        TrialEngine engine(image, nullptr, false);
        std::vector<EngineOutcome> r = engine.Run({{poor, 0}, {good, 1}}, {1, 0});
        EXPECT_EQ(engine.BestSeq(), 1);
        EXPECT_EQ(engine.BestFile().bytes, EncodePngJx(image, good).bytes);
    }
}

// The search through the engine finds what it finds through the plain encoder, printing the same.
TEST(QuilloxEngine, SearchMatchesThePlainEncoder) {
    ThreadPool pool(4);
    const PngEncodeFn plain = [](const OutputImage& image, const EncodeSettings& s) { return EncodePngJx(image, s); };
    for (const char* name : {"basn6a08", "basi3p02", "tbrn2c08"}) {
        SCOPED_TRACE(name);
        const OutputImage image = Suite(name);
        const Options o = Opts({"/o3", "/zc8-9", "/zm7-9"});
        std::ostringstream plainText, engineText;
        TrialResult a = RunTrialSearch(image, o, plain, nullptr, &plainText);
        TrialResult b = RunTrialSearch(image, o, DefaultPngEncoder(), &pool, &engineText);
        EXPECT_EQ(a.best.bytes, b.best.bytes);
        EXPECT_EQ(a.filterIndex, b.filterIndex);
        EXPECT_EQ(a.heuristic, b.heuristic);
        EXPECT_EQ(a.memLevel, b.memLevel);
        EXPECT_EQ(a.strategy, b.strategy);
        EXPECT_EQ(plainText.str(), engineText.str());
        TrialResult quiet = RunTrialSearch(image, o, DefaultPngEncoder(), &pool, nullptr);
        EXPECT_EQ(quiet.best.bytes, a.best.bytes);
    }
}

TEST(QuilloxEngine, ParallelForRunsEveryJobAndPassesErrors) {
    ThreadPool pool(3);
    std::vector<int> hits(50, 0);
    // Nested use from inside pool jobs must not stall.
    ParallelFor(&pool, 5, [&](size_t outer) {
        ParallelFor(&pool, 10, [&](size_t inner) { ++hits[outer * 10 + inner]; });
    });
    EXPECT_EQ(std::count(hits.begin(), hits.end(), 1), 50);
    EXPECT_THROW(ParallelFor(&pool, 8, [](size_t i) { if (i == 5) throw PngError("bad"); }), PngError);
}

class QuilloxFiles : public test::TempDir {};

// Files side by side give the report and the files of a run one after another.
TEST_F(QuilloxFiles, ParallelRunEqualsSequentialRun) {
    const std::vector<std::string> names = {"basn0g08", "basn3p02", "basn6a16", "tbbn3p08", "f03n2c08", "z09n2c08"};
    auto prepare = [&] {
        for (const std::string& n : names)
            fs::copy_file(jx::test::PngSuiteDir() / (n + ".png"), dir_ / (n + ".png"), fs::copy_options::overwrite_existing);
        fs::copy_file(jx::test::PngSuiteDir() / "xcrn0g04.png", dir_ / "xcrn0g04.png", fs::copy_options::overwrite_existing);
    };
    auto run = [&](ThreadPool* pool, std::string& text) {
        prepare();
        std::ostringstream out;
        std::istringstream in;
        ProgramContext context{out, in, dir_.string()};
        context.pool = pool;
        const int rc = RunProgram({"/o2", "/force", "*.png"}, context);
        text = out.str();
        std::map<std::string, std::vector<uint8_t>> files;
        for (const auto& e : fs::directory_iterator(dir_)) files[e.path().filename()] = jx::test::ReadBytes(e.path());
        return std::make_pair(rc, files);
    };
    ThreadPool pool(4);
    std::string sequentialText, parallelText;
    const auto sequential = run(nullptr, sequentialText);
    const auto parallel = run(&pool, parallelText);
    EXPECT_EQ(sequential.first, 1);  // the damaged file fails, the others are written
    EXPECT_EQ(parallel, sequential);
    EXPECT_EQ(parallelText, sequentialText);
}

}  // namespace
}  // namespace jx::quillox
